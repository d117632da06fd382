#include "plugin/pe.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "foundation/util.h"
#include "sys/files.h"

namespace {

constexpr std::size_t kFileMin = 256;
constexpr std::size_t kFileMax = 0x10000000;
constexpr std::uint32_t kMaxCount = 65536;
constexpr int kFileSections = 32;
constexpr int kMemSections = 96;
constexpr std::size_t kHeaderArea = 4096;
constexpr std::uint16_t kPe32 = 0x10B, kPe32Plus = 0x20B;

const char* const kPack[] = {".svmp",  "UPX",     ".aspack", ".nsp", ".petite", ".vmp", ".upack",
                             ".mackt", ".rlpack", ".thm",    "yP",   ".nPack",  ".yoda"};
const char* const kCrt[] = {"api-ms-win-crt", "msvcrt",        "msvcp",     "vcruntime", "ucrtbase",
                            "libgcc",         "libwinpthread", "libstdc++", "libc++"};

// Bounded little-endian reads: false when [off, off + n) leaves the buffer.
struct Bytes {
  const std::uint8_t* p;
  std::size_t size;

  bool has(std::uint64_t off, std::uint64_t n) const { return off <= size && n <= size - off; }
  bool u16(std::uint64_t off, std::uint32_t& v) const {
    if (!has(off, 2)) return false;
    v = static_cast<std::uint32_t>(p[off] | p[off + 1] << 8);
    return true;
  }
  bool u32(std::uint64_t off, std::uint32_t& v) const {
    if (!has(off, 4)) return false;
    v = static_cast<std::uint32_t>(p[off]) | static_cast<std::uint32_t>(p[off + 1]) << 8 |
        static_cast<std::uint32_t>(p[off + 2]) << 16 | static_cast<std::uint32_t>(p[off + 3]) << 24;
    return true;
  }
};

struct Section {
  char name[9];
  std::uint32_t va, vsize, rawsize, rawoff, flags;
};

bool starts_with_ci(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && hx_icmp(s.substr(0, prefix.size()), prefix) == 0;
}

// Headers common to both readers. `max_sections` bounds the table.
struct Headers {
  std::uint32_t peOff = 0, nsec = 0, optSize = 0, magic = 0, opt = 0;
  std::uint32_t exportRva = 0, exportSize = 0, importRva = 0, sizeOfImage = 0, sizeOfHeaders = 0;
  Section sec[kMemSections];
};

bool read_sections(const Bytes& b, Headers& h, std::uint32_t count) {
  const std::uint64_t table = static_cast<std::uint64_t>(h.opt) + h.optSize;
  if (!b.has(table, static_cast<std::uint64_t>(count) * 40)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t at = table + 40ull * i;
    Section& s = h.sec[i];
    std::memcpy(s.name, b.p + at, 8);
    s.name[8] = '\0';
    b.u32(at + 8, s.vsize);
    b.u32(at + 12, s.va);
    b.u32(at + 16, s.rawsize);
    b.u32(at + 20, s.rawoff);
    b.u32(at + 36, s.flags);
  }
  h.nsec = count;
  return true;
}

// The data-directory entries this module needs.
void read_directories(const Bytes& b, Headers& h) {
  const std::uint32_t dirs = h.opt + (h.magic == kPe32Plus ? 112 : 96);
  b.u32(dirs, h.exportRva);
  b.u32(dirs + 4, h.exportSize);
  b.u32(dirs + 8, h.importRva);
}

// ---- the file reader ----

bool file_headers(const Bytes& b, Headers& h) {
  if (b.size <= kFileMin || b.size > kFileMax || b.p[0] != 'M' || b.p[1] != 'Z') return false;
  if (!b.u32(0x3C, h.peOff) || !b.has(h.peOff, kFileMin)) return false;
  if (b.p[h.peOff] != 'P' || b.p[h.peOff + 1] != 'E') return false;
  std::uint32_t nsec = 0;
  b.u16(h.peOff + 6, nsec);
  b.u16(h.peOff + 20, h.optSize);
  h.opt = h.peOff + 24;
  if (!b.u16(h.opt, h.magic) || (h.magic != kPe32 && h.magic != kPe32Plus)) return false;
  read_directories(b, h);
  return read_sections(b, h, std::min<std::uint32_t>(nsec, kFileSections));
}

// File offset of an RVA through the first section holding it; false when no
// section inside the file does.
bool file_offset(const Bytes& b, const Headers& h, std::uint32_t rva, std::uint64_t& off) {
  for (std::uint32_t i = 0; i < h.nsec; ++i) {
    const Section& s = h.sec[i];
    const std::uint64_t extent = std::max(s.vsize, s.rawsize);
    if (rva < s.va || rva - s.va >= extent) continue;
    if (!b.has(s.rawoff, s.rawsize)) continue;
    off = static_cast<std::uint64_t>(rva) - s.va + s.rawoff;
    return off < b.size;
  }
  return false;
}

void put(HxPeExport* entries, int max, int written, const char* name, std::size_t len, std::uint32_t rva,
         std::uint32_t ordinal) {
  if (!entries || written >= max) return;
  HxPeExport& e = entries[written];
  std::memcpy(e.name, name, len);
  e.name[len] = '\0';
  e.rva = rva;
  e.ordinal = ordinal;
}

// ---- the memory reader ----

bool mem_headers(const Bytes& b, Headers& h) {
  if (!b.has(0, 64) || b.p[0] != 'M' || b.p[1] != 'Z') return false;
  if (!b.u32(0x3C, h.peOff) || h.peOff < 64 || h.peOff > 4096) return false;
  if (!b.has(h.peOff, 24) || std::memcmp(b.p + h.peOff, "PE\0\0", 4) != 0) return false;
  std::uint32_t nsec = 0;
  b.u16(h.peOff + 6, nsec);
  b.u16(h.peOff + 20, h.optSize);
  if (nsec < 1 || nsec > kMemSections || h.optSize <= 95) return false;
  h.opt = h.peOff + 24;
  if (!b.u16(h.opt, h.magic) || h.magic != kPe32) return false;
  if (!b.u32(h.opt + 56, h.sizeOfImage) || !b.u32(h.opt + 60, h.sizeOfHeaders)) return false;
  const std::uint64_t table_end = static_cast<std::uint64_t>(h.opt) + h.optSize + 40ull * nsec;
  if (h.sizeOfHeaders < 1 || h.sizeOfHeaders >= h.sizeOfImage || h.sizeOfHeaders < table_end) return false;
  read_directories(b, h);
  return read_sections(b, h, nsec);
}

// Whether [rva, rva + n) lies wholly inside the headers' first 4096 bytes or
// inside one section; `area_end` receives the end of that area.
bool in_area(const Bytes& b, const Headers& h, std::uint64_t rva, std::uint64_t n, std::uint64_t* area_end) {
  const std::uint64_t head = std::min<std::uint64_t>(std::min<std::uint64_t>(h.sizeOfHeaders, kHeaderArea), b.size);
  if (rva + n <= head) {
    if (area_end) *area_end = head;
    return true;
  }
  for (std::uint32_t i = 0; i < h.nsec; ++i) {
    const Section& s = h.sec[i];
    const std::uint64_t extent = s.vsize ? s.vsize : s.rawsize;
    const std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(s.va) + extent, b.size);
    if (rva >= s.va && rva + n <= end) {
      if (area_end) *area_end = end;
      return true;
    }
  }
  return false;
}

Bytes image_bytes(const void* image, std::size_t limit) {
  Bytes b{static_cast<const std::uint8_t*>(image), limit};
  // A loaded image spans SizeOfImage bytes: never read past that either.
  std::uint32_t pe = 0, size = 0;
  if (b.u32(0x3C, pe) && pe >= 64 && pe <= 4096 && b.u32(static_cast<std::uint64_t>(pe) + 24 + 56, size)) {
    b.size = std::min<std::size_t>(b.size, std::max<std::uint32_t>(size, pe + 24 + 96));
  }
  return b;
}

std::mutex s_lookupMu;          // guards the three buffers below
HxPeExport s_ex[HX_PE_CACHE];   // memory reads for name lookups
HxPeExport s_ex2[HX_PE_CACHE];  // file reads for name lookups
HxPeExport s_ex3[HX_PE_CACHE];  // ordinal lookups

// The image's export directory [begin, end) as RVAs; empty when unknown.
struct Span {
  std::uint64_t begin = 0, end = 0;
};
Span export_span(const void* image) {
  Bytes b = image_bytes(image, SIZE_MAX);
  Headers h;
  if (!mem_headers(b, h)) return {};
  return {h.exportRva, static_cast<std::uint64_t>(h.exportRva) + h.exportSize};
}

// A function's address, or null: an RVA inside the export directory is a
// forwarder ("OTHER.name" text), not code, and only the platform can follow it.
void* address(const void* image, std::uint32_t rva, const Span& exports) {
  if (!rva || (rva >= exports.begin && rva < exports.end)) return nullptr;
  return const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(image)) + rva;
}

}  // namespace

int hx_pe_exports_from_file(const std::uint8_t* data, std::size_t size, HxPeExport* entries, int max) {
  Bytes b{data, size};
  Headers h;
  if (!data || !file_headers(b, h) || h.exportRva == 0) return 0;
  std::uint64_t dir;
  if (!file_offset(b, h, h.exportRva, dir) || !b.has(dir, 40)) return 0;
  std::uint32_t base = 0, nfuncs = 0, nnames = 0, funcs = 0, names = 0, ords = 0;
  b.u32(dir + 16, base);
  b.u32(dir + 20, nfuncs);
  b.u32(dir + 24, nnames);
  b.u32(dir + 28, funcs);
  b.u32(dir + 32, names);
  b.u32(dir + 36, ords);
  std::uint64_t funcs_off, names_off, ords_off;
  if (!file_offset(b, h, names, names_off) || !file_offset(b, h, ords, ords_off) ||
      !file_offset(b, h, funcs, funcs_off)) {
    return 0;
  }
  if (nnames < 1 || nnames > kMaxCount || nfuncs < 1 || nfuncs > kMaxCount) return 0;
  int count = 0;
  for (std::uint32_t i = 0; i < nnames; ++i) {
    std::uint32_t name_rva = 0, idx = 0, fn_rva = 0;
    std::uint64_t name_off;
    if (!b.u32(names_off + 4ull * i, name_rva) || !b.u16(ords_off + 2ull * i, idx)) break;
    if (!file_offset(b, h, name_rva, name_off)) continue;
    const char* name = reinterpret_cast<const char*>(b.p + name_off);
    const std::size_t len = strnlen(name, b.size - name_off);
    if (len > 255 || len == b.size - name_off) continue;  // too long, or no terminator in the file
    if (idx >= nfuncs) continue;
    if (!b.u32(funcs_off + 4ull * idx, fn_rva)) break;  // the function table runs past the file
    put(entries, max, count, name, len, fn_rva, idx + base);
    ++count;
  }
  return count;
}

int hx_pe_load_exports(std::string_view path, HxPeExport* entries, int max) {
  std::string data;
  SysReadStatus st = sys_read_file(hx_path_u8(path), kFileMax, data);
  if (st == SysReadStatus::cannot_open || st == SysReadStatus::failed) return -1;
  if (st != SysReadStatus::ok) return 0;
  return hx_pe_exports_from_file(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), entries, max);
}

int hx_pe_load_exports_mem(const void* image, HxPeExport* entries, int max, std::size_t limit) {
  if (!image) return -1;
  Bytes b = image_bytes(image, limit);
  Headers h;
  if (!mem_headers(b, h)) return -1;
  if (h.exportRva == 0) return 0;
  if (!in_area(b, h, h.exportRva, 40, nullptr)) return 0;
  std::uint32_t base = 0, nfuncs = 0, nnames = 0, funcs = 0, names = 0, ords = 0;
  b.u32(h.exportRva + 16ull, base);
  b.u32(h.exportRva + 20ull, nfuncs);
  b.u32(h.exportRva + 24ull, nnames);
  b.u32(h.exportRva + 28ull, funcs);
  b.u32(h.exportRva + 32ull, names);
  b.u32(h.exportRva + 36ull, ords);
  if (nnames < 1 || nnames > kMaxCount || nfuncs < 1 || nfuncs > kMaxCount) return 0;
  if (!in_area(b, h, names, 4ull * nnames, nullptr) || !in_area(b, h, ords, 2ull * nnames, nullptr) ||
      !in_area(b, h, funcs, 4ull * nfuncs, nullptr)) {
    return 0;
  }
  int count = 0;
  for (std::uint32_t i = 0; i < nnames; ++i) {
    std::uint32_t name_rva = 0, idx = 0, fn_rva = 0;
    b.u32(names + 4ull * i, name_rva);
    b.u16(ords + 2ull * i, idx);
    std::uint64_t area_end;
    if (!in_area(b, h, name_rva, 1, &area_end)) continue;
    const char* name = reinterpret_cast<const char*>(b.p + name_rva);
    const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(area_end - name_rva, 255));
    const std::size_t len = strnlen(name, room);
    if (len < 1 || len > 254 || len == room) continue;
    if (idx >= nfuncs) continue;
    b.u32(funcs + 4ull * idx, fn_rva);
    put(entries, max, count, name, len, fn_rva, idx + base);
    ++count;
  }
  return count;
}

void* hx_pe_find_in(const void* image, std::string_view path, const char* name) {
  if (!image || !name) return nullptr;
  std::lock_guard lock(s_lookupMu);
  const Span exports = export_span(image);
  int n = std::min(hx_pe_load_exports_mem(image, s_ex, HX_PE_CACHE), HX_PE_CACHE);
  for (int i = 0; i < n; ++i) {
    if (std::strcmp(s_ex[i].name, name) == 0) return address(image, s_ex[i].rva, exports);
  }
  if (path.empty()) return nullptr;
  n = std::min(hx_pe_load_exports(path, s_ex2, HX_PE_CACHE), HX_PE_CACHE);
  for (int i = 0; i < n; ++i) {
    if (std::strcmp(s_ex2[i].name, name) == 0) return address(image, s_ex2[i].rva, exports);
  }
  return nullptr;
}

void* hx_pe_find_ordinal(const void* image, std::string_view path, std::uint32_t ordinal) {
  if (!image) return nullptr;
  std::lock_guard lock(s_lookupMu);
  const Span exports = export_span(image);
  int n = std::min(hx_pe_load_exports_mem(image, s_ex3, HX_PE_CACHE), HX_PE_CACHE);
  if (n <= 0 && !path.empty()) n = std::min(hx_pe_load_exports(path, s_ex3, HX_PE_CACHE), HX_PE_CACHE);
  for (int i = 0; i < n; ++i) {
    if (s_ex3[i].ordinal == ordinal) return address(image, s_ex3[i].rva, exports);
  }
  return nullptr;
}

int hx_pe_scan_lang(const void* image, std::size_t limit) {
  if (!image) return HX_LANG_UNKNOWN;
  Bytes b = image_bytes(image, limit);
  Headers h;
  if (!mem_headers(b, h)) return HX_LANG_UNKNOWN;
  for (std::uint32_t i = 0; i < h.nsec; ++i) {
    const Section& s = h.sec[i];
    for (const char* p : kPack) {
      if (starts_with_ci(s.name, p)) return HX_LANG_PACKED;
    }
    const bool writable_code = (s.flags & 0x80000000u) && (s.flags & 0x20000000u);
    if (writable_code && s.vsize > 0x10000) return HX_LANG_PACKED;
  }
  bool crt = false;
  for (std::uint32_t k = 0; k < 255 && h.importRva && !crt; ++k) {
    const std::uint64_t desc = h.importRva + 20ull * k;
    if (!in_area(b, h, desc, 20, nullptr)) break;
    std::uint32_t name_rva = 0;
    b.u32(desc + 12, name_rva);
    if (name_rva == 0) break;
    std::uint64_t area_end;
    if (!in_area(b, h, name_rva, 1, &area_end)) continue;
    const char* dll = reinterpret_cast<const char*>(b.p + name_rva);
    const std::size_t len = strnlen(dll, static_cast<std::size_t>(std::min<std::uint64_t>(area_end - name_rva, 63)));
    if (len == 0) continue;
    for (const char* c : kCrt) {
      if (starts_with_ci(std::string_view(dll, len), c)) crt = true;
    }
  }
  for (std::uint32_t i = 0; i < h.nsec; ++i) {
    if (h.sec[i].name[0] == '/') return HX_LANG_C;
  }
  if (crt) return HX_LANG_C;
  for (std::uint32_t i = 0; i < h.nsec; ++i) {
    for (const char* n : {"CODE", "DATA", "BSS"}) {
      if (hx_icmp(h.sec[i].name, n) == 0) return HX_LANG_UNKNOWN;
    }
  }
  return h.nsec >= 3 && h.nsec <= 12 ? HX_LANG_E : HX_LANG_UNKNOWN;
}

const char* hx_pe_lang_name(int code) {
  switch (code) {
    case HX_LANG_C:
      return "C语言";
    case HX_LANG_E:
      return "易语言";
    case HX_LANG_PACKED:
      return "已加壳";
    default:
      return "未知";
  }
}
