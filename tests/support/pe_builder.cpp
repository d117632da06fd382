#include "support/pe_builder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kHeaders = 0x400;
constexpr std::uint32_t kTableSection = 1;
constexpr std::uint32_t kSectionRaw = 0x4000;         // room for every table and name
constexpr std::uint32_t kSectionAlign = kSectionRaw;  // sections never overlap

void put16(std::string& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}
std::uint32_t get32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

}  // namespace

std::uint32_t pe_export_rva(int i) { return kSectionAlign + 0x10 * static_cast<std::uint32_t>(i); }

std::string pe_build(const PeLayout& s) {
  const auto nsec = static_cast<std::uint32_t>(s.sections.size());
  std::string b(kHeaders + kSectionRaw * nsec, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  const std::uint32_t pe = 0x80;
  put32(b, 0x3C, pe);
  std::memcpy(&b[pe], "PE\0\0", 4);
  put16(b, pe + 4, s.pe32plus ? 0x8664 : 0x14C);
  put16(b, pe + 6, nsec);
  const std::uint32_t opt_size = s.pe32plus ? 240 : 224;
  put16(b, pe + 20, opt_size);
  const std::uint32_t opt = pe + 24;
  put16(b, opt, s.pe32plus ? 0x20B : 0x10B);
  put32(b, opt + 56, kSectionAlign * (nsec + 1));  // SizeOfImage
  put32(b, opt + 60, kHeaders);                    // SizeOfHeaders
  const std::uint32_t dirs = opt + (s.pe32plus ? 112 : 96);
  const std::uint32_t table_rva = kSectionAlign * (kTableSection + 1);
  const std::uint32_t table_off = kHeaders + kSectionRaw * kTableSection;

  // Section table.
  for (std::uint32_t i = 0; i < nsec; ++i) {
    const std::uint32_t at = opt + opt_size + 40 * i;
    std::memcpy(&b[at], s.sections[i].data(), std::min<std::size_t>(8, s.sections[i].size()));
    put32(b, at + 8, kSectionRaw);                  // VirtualSize
    put32(b, at + 12, kSectionAlign * (i + 1));     // VirtualAddress
    put32(b, at + 16, kSectionRaw);                 // SizeOfRawData
    put32(b, at + 20, kHeaders + kSectionRaw * i);  // PointerToRawData
    put32(b, at + 36, i < s.sectionFlags.size() ? s.sectionFlags[i] : 0x40000040u);
  }

  // Export directory and tables, then names, then imports, all in the table section.
  if (!s.exportNames.empty()) {
    const auto n = static_cast<std::uint32_t>(s.exportNames.size());
    const std::uint32_t dir = table_rva, funcs = dir + 40, names = funcs + 4 * n, ords = names + 4 * n;
    std::uint32_t strings = ords + 2 * n;
    put32(b, dirs, dir);
    put32(b, dirs + 4, 0x100);
    auto off = [&](std::uint32_t rva) { return table_off + (rva - table_rva); };
    put32(b, off(dir) + 16, s.ordinalBase);
    put32(b, off(dir) + 20, s.functionsCount ? s.functionsCount : n);
    put32(b, off(dir) + 24, s.namesCount ? s.namesCount : n);
    put32(b, off(dir) + 28, funcs);
    put32(b, off(dir) + 32, names);
    put32(b, off(dir) + 36, ords);
    for (std::uint32_t i = 0; i < n; ++i) {
      put32(b, off(funcs) + 4 * i,
            static_cast<int>(i) == s.forwarded ? dir + 0x80 : pe_export_rva(static_cast<int>(i)));
      put32(b, off(names) + 4 * i, strings);
      put16(b, off(ords) + 2 * i, i);
      std::memcpy(&b[off(strings)], s.exportNames[i].data(), s.exportNames[i].size());
      strings += static_cast<std::uint32_t>(s.exportNames[i].size()) + 1;
    }
  }
  if (!s.imports.empty()) {
    const std::uint32_t desc = table_rva + 0x2000;
    std::uint32_t strings = desc + 20 * static_cast<std::uint32_t>(s.imports.size() + 1);
    put32(b, dirs + 8, desc);
    for (std::size_t i = 0; i < s.imports.size(); ++i) {
      put32(b, table_off + (desc - table_rva) + 20 * i + 12, strings);
      std::memcpy(&b[table_off + (strings - table_rva)], s.imports[i].data(), s.imports[i].size());
      strings += static_cast<std::uint32_t>(s.imports[i].size()) + 1;
    }
  }
  return b;
}

std::string pe_map(const std::string& file) {
  const std::uint32_t pe = get32(file, 0x3C);
  const std::uint32_t nsec = static_cast<unsigned char>(file[pe + 6]) | static_cast<unsigned char>(file[pe + 7]) << 8;
  const std::uint32_t opt_size = static_cast<unsigned char>(file[pe + 20]) | static_cast<unsigned char>(file[pe + 21])
                                                                                 << 8;
  const std::uint32_t opt = pe + 24;
  const std::uint32_t image_size = get32(file, opt + 56), headers = get32(file, opt + 60);
  std::string image(image_size, '\0');
  std::memcpy(image.data(), file.data(), std::min<std::size_t>(headers, file.size()));
  for (std::uint32_t i = 0; i < nsec; ++i) {
    const std::uint32_t at = opt + opt_size + 40 * i;
    const std::uint32_t va = get32(file, at + 12), raw = get32(file, at + 16), rawoff = get32(file, at + 20);
    if (rawoff >= file.size() || va >= image_size) continue;
    const std::size_t n = std::min<std::size_t>({raw, file.size() - rawoff, image_size - va});
    std::memcpy(&image[va], &file[rawoff], n);
  }
  return image;
}
