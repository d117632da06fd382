// Reading a DLL's export table ourselves, from the file on disk or from the
// module image in memory, and telling which language a plugin was built with.
//
// Pure functions over bytes, bounded by what the headers claim and by the
// buffer or image size; nothing here trusts a count or an offset it has not
// checked. Lookups through hx_pe_find are safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct HxPeExport {
  char name[256];         // byte for byte, no conversion
  std::uint32_t rva;      // relative to the image base
  std::uint32_t ordinal;  // biased: index + ordinal base
};

inline constexpr int HX_PE_CACHE = 512;

// Exports of a PE32/PE32+ file: the valid named exports found (may exceed
// max; at most max are written), 0 for no usable image or no exports, -1 when
// the file cannot be read.
int hx_pe_load_exports(std::string_view path, HxPeExport* entries, int max);
// The same over the file's bytes.
int hx_pe_exports_from_file(const std::uint8_t* data, std::size_t size, HxPeExport* entries, int max);
// Exports of a loaded PE32 module image; `limit` bounds every read (the
// image's SizeOfImage is used as well). -1 for an invalid image.
int hx_pe_load_exports_mem(const void* image, HxPeExport* entries, int max, std::size_t limit = SIZE_MAX);

// Address of a named export (byte-exact, first match in table order) or of a
// biased ordinal: image + RVA. `image` is the module's base (null when the
// module is no PE image, e.g. an ELF library); `path` (optional) is read when
// the image yields nothing. Null when not found, when the RVA is 0, or when
// the export is forwarded to another module (its RVA lies in the export
// directory and names the target as text).
void* hx_pe_find_in(const void* image, std::string_view path, const char* name);
void* hx_pe_find_ordinal(const void* image, std::string_view path, std::uint32_t ordinal);

enum HxPeLang { HX_LANG_UNKNOWN = 0, HX_LANG_C = 1, HX_LANG_E = 2, HX_LANG_PACKED = 3 };
// Language of a loaded PE32 module image, by its sections and imports.
int hx_pe_scan_lang(const void* image, std::size_t limit = SIZE_MAX);
// "C语言", "易语言", "已加壳", or "未知" for anything else.
const char* hx_pe_lang_name(int code);
