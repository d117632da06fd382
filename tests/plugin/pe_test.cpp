// The PE export reader and language scan, on hand-made images and on DLLs
// built by the MinGW cross compilers.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/util.h"
#include "plugin/pe.h"
#include "support/pe_builder.h"
#include "support/temp_dir.h"
#include "sys/dynlib.h"

namespace {

const std::string kGbkInit = "\xB2\xE5\xBC\xFE\xB3\xF5\xCA\xBC\xBB\xAF";  // 插件初始化 in GBK

int file_exports(const std::string& file, std::vector<HxPeExport>& out) {
  out.assign(HX_PE_CACHE, HxPeExport{});
  int n =
      hx_pe_exports_from_file(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(), out.data(), HX_PE_CACHE);
  out.resize(static_cast<std::size_t>(std::max(n, 0)));
  return n;
}

int mem_exports(const std::string& image, std::vector<HxPeExport>& out) {
  out.assign(HX_PE_CACHE, HxPeExport{});
  int n = hx_pe_load_exports_mem(image.data(), out.data(), HX_PE_CACHE, image.size());
  out.resize(static_cast<std::size_t>(std::max(n, 0)));
  return n;
}

TEST(PeReader, UnsortedAndGbkNamesAreFoundByScanning) {
  PeLayout layout;
  layout.exportNames = {"zeta", kGbkInit, "alpha", "_OnGroupNT"};
  layout.ordinalBase = 5;
  std::string file = pe_build(layout), image = pe_map(file);
  std::vector<HxPeExport> ex;
  ASSERT_EQ(file_exports(file, ex), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ex[i].name, layout.exportNames[i]);
    EXPECT_EQ(ex[i].rva, pe_export_rva(i));
    EXPECT_EQ(ex[i].ordinal, 5u + i);
  }
  ASSERT_EQ(mem_exports(image, ex), 4);
  EXPECT_EQ(ex[1].name, kGbkInit);
  EXPECT_EQ(hx_pe_find_in(image.data(), "", kGbkInit.c_str()), image.data() + pe_export_rva(1));
  EXPECT_EQ(hx_pe_find_in(image.data(), "", "alpha"), image.data() + pe_export_rva(2));
  EXPECT_EQ(hx_pe_find_in(image.data(), "", "ALPHA"), nullptr) << "names compare byte for byte";
  EXPECT_EQ(hx_pe_find_ordinal(image.data(), "", 8), image.data() + pe_export_rva(3));
  EXPECT_EQ(hx_pe_find_ordinal(image.data(), "", 9), nullptr);
  EXPECT_EQ(hx_pe_find_in(nullptr, "", "alpha"), nullptr);
}

TEST(PeReader, AForwardedExportIsListedButNeverGivenAsAnAddress) {
  PeLayout layout;
  layout.exportNames = {"own", "forwarded"};
  layout.forwarded = 1;
  const std::string image = pe_map(pe_build(layout));
  std::vector<HxPeExport> ex;
  ASSERT_EQ(mem_exports(image, ex), 2);
  EXPECT_NE(ex[1].rva, pe_export_rva(1));
  EXPECT_EQ(hx_pe_find_in(image.data(), "", "own"), image.data() + pe_export_rva(0));
  EXPECT_EQ(hx_pe_find_in(image.data(), "", "forwarded"), nullptr) << "its address would be text, not code";
  EXPECT_EQ(hx_pe_find_ordinal(image.data(), "", 2), nullptr);
}

TEST(PeReader, NameLengthLimits) {
  PeLayout layout;
  layout.exportNames = {std::string(254, 'a'), std::string(255, 'b'), std::string(256, 'c'), "short"};
  std::string file = pe_build(layout), image = pe_map(file);
  std::vector<HxPeExport> ex;
  ASSERT_EQ(file_exports(file, ex), 3) << "the file reader takes up to 255 bytes";
  EXPECT_EQ(std::strlen(ex[1].name), 255u);
  EXPECT_EQ(std::string(ex[2].name), "short");
  ASSERT_EQ(mem_exports(image, ex), 2) << "the memory reader takes up to 254";
  EXPECT_EQ(std::strlen(ex[0].name), 254u);
}

TEST(PeReader, BrokenImagesGiveNothing) {
  PeLayout good;
  good.exportNames = {"a", "b"};
  const std::string file = pe_build(good);
  auto patched = [&](std::size_t at, std::uint32_t v, int bytes = 4) {
    std::string f = file;
    for (int i = 0; i < bytes; ++i) f[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return f;
  };
  PeLayout zero = good, many = good, funcs_many = good;
  zero.namesCount = 0x10000 + 1;  // replaced below by 0 through the patch helper
  many.namesCount = 65537;
  funcs_many.functionsCount = 65537;
  const std::uint32_t export_dir = 0x400 + 0x4000;  // file offset of the export directory
  struct Case {
    const char* name;
    std::string file;
    int file_result, mem_result;
  } cases[] = {
      {"not MZ", patched(0, 'X', 1), 0, -1},
      {"header offset outside", patched(0x3C, 0xFFFFF0), 0, -1},
      {"header offset too small for memory", patched(0x3C, 0x20), 0, -1},
      {"no PE signature", patched(0x80, 'Q', 1), 0, -1},
      {"unknown magic", patched(0x80 + 24, 0x107, 2), 0, -1},
      {"export table maps nowhere", patched(0x80 + 24 + 96, 0x900000), 0, 0},
      {"names table maps nowhere", patched(export_dir + 32, 0x900000), 0, 0},
      {"no names", patched(export_dir + 24, 0), 0, 0},
      {"65,537 names", pe_build(many), 0, 0},
      {"65,537 functions", pe_build(funcs_many), 0, 0},
      {"too short", file.substr(0, 200), 0, -1},
  };
  for (const auto& c : cases) {
    std::vector<HxPeExport> ex;
    EXPECT_EQ(file_exports(c.file, ex), c.file_result) << c.name;
    std::string image = c.file.size() > 0x1000 && c.mem_result == 0 ? pe_map(c.file) : c.file;
    EXPECT_EQ(mem_exports(image, ex), c.mem_result) << c.name;
  }
  EXPECT_EQ(hx_pe_load_exports_mem(nullptr, nullptr, 0), -1);
  TempDir dir;
  EXPECT_EQ(hx_pe_load_exports(dir / "missing.dll", nullptr, 0), -1);
}

TEST(PeReader, LanguageScan) {
  auto lang = [](PeLayout layout) {
    std::string image = pe_map(pe_build(layout));
    return hx_pe_scan_lang(image.data(), image.size());
  };
  PeLayout plain;
  PeLayout crt = plain, packed = plain, legacy = plain, longnames = plain, few = plain, wx = plain;
  crt.imports = {"KERNEL32.dll", "msvcrt.dll"};
  packed.sections = {".text", ".rdata", "UPX1", ".reloc"};
  legacy.sections = {"CODE", ".rdata", "DATA", "BSS"};
  longnames.sections = {".text", ".rdata", "/4", ".reloc"};
  few.sections = {".text", ".rdata"};
  wx.sectionFlags = {0xE0000020u};  // writable code, larger than 64 KiB? no: 16 KiB
  struct Case {
    const char* name;
    PeLayout layout;
    int lang;
  } cases[] = {
      {"four plain sections", plain, HX_LANG_E},    {"C runtime import", crt, HX_LANG_C},
      {"UPX section", packed, HX_LANG_PACKED},      {"CODE/DATA/BSS", legacy, HX_LANG_UNKNOWN},
      {"long section names", longnames, HX_LANG_C}, {"two sections", few, HX_LANG_UNKNOWN},
      {"small writable code", wx, HX_LANG_E},
  };
  for (const auto& c : cases) EXPECT_EQ(lang(c.layout), c.lang) << c.name;
  PeLayout plus = plain;
  plus.pe32plus = true;
  EXPECT_EQ(lang(plus), HX_LANG_UNKNOWN) << "only 32-bit images are plugins";
  EXPECT_STREQ(hx_pe_lang_name(0), "未知");
  EXPECT_STREQ(hx_pe_lang_name(7), "未知");
  EXPECT_STREQ(hx_pe_lang_name(1), "C语言");
  EXPECT_STREQ(hx_pe_lang_name(2), "易语言");
  EXPECT_STREQ(hx_pe_lang_name(3), "已加壳");
}

std::string dll(const char* name) { return std::string(HX_TEST_PE_DIR) + "/" + name; }

TEST(PeReader, MinGwDlls) {
  for (const char* arch : {"i686", "x86_64"}) {
    std::string rich = dll((std::string("rich_") + arch + ".dll").c_str());
    std::vector<HxPeExport> ex(HX_PE_CACHE);
    ASSERT_EQ(hx_pe_load_exports(rich, ex.data(), HX_PE_CACHE), 3) << rich;
    std::vector<std::string> names;
    std::vector<std::uint32_t> ordinals;
    for (int i = 0; i < 3; ++i) {
      names.emplace_back(ex[i].name);
      ordinals.push_back(ex[i].ordinal);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "zeta", kGbkInit})) << "sorted by the linker, GBK kept";
    EXPECT_EQ(ordinals, (std::vector<std::uint32_t>{9, 5, 7}));
  }
  // 32-bit images as the system maps them: the memory reader and the scan.
  std::optional<std::string> rich32 = hx_read_file(dll("rich_i686.dll"));
  std::optional<std::string> plain32 = hx_read_file(dll("plain_i686.dll"));
  ASSERT_TRUE(rich32 && plain32);
  std::string image = pe_map(*rich32);
  EXPECT_EQ(hx_pe_load_exports_mem(image.data(), nullptr, 0, image.size()), 3);
  EXPECT_NE(hx_pe_find_in(image.data(), "", kGbkInit.c_str()), nullptr);
  EXPECT_EQ(hx_pe_scan_lang(image.data(), image.size()), HX_LANG_PACKED) << "its UPX0 section";
  std::string plain = pe_map(*plain32);
  EXPECT_EQ(hx_pe_scan_lang(plain.data(), plain.size()), HX_LANG_E);
}

#ifdef _WIN32
TEST(PeReader, LoadedModuleAgreesWithTheSystem) {
  std::string path = dll(sizeof(void*) == 8 ? "rich_x86_64.dll" : "rich_i686.dll");
  SysError error;
  const SysLib opened = sys_dl_open(path, &error);
  ASSERT_TRUE(opened) << error.text;
  const SysLibHandle lib = opened.get();
  const void* image = sys_dl_image(lib);
  for (const std::string& name : {std::string("alpha"), std::string("zeta"), kGbkInit}) {
    void* system = sys_dl_sym(lib, name.c_str());
    ASSERT_NE(system, nullptr);
    // Through the file's table, relative to where the system mapped it.
    EXPECT_EQ(hx_pe_find_in(image, path, name.c_str()), system);
  }
}
#endif

}  // namespace
