// Text, encoding, path, file and time utilities shared by every module.
//
// Encoding rule of the host: everything in memory, in JSON and in the settings
// file is UTF-8. GBK (code page 936) is spoken at two borders only: plugins,
// and file names that plugins hand us. Text of unknown origin is UTF-8 when it
// is valid UTF-8, otherwise GBK. Text for a plugin is made GBK-safe first:
// characters GBK cannot hold become visible markers instead of "?".
//
// Text that a C implementation would return as a heap block is returned here
// as std::string; where "no result" differs from "empty", as
// std::optional<std::string>. Everything is re-entrant unless noted; the
// directory values are fixed during start-up, before other threads run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// printf-style checking; the build names the format archetype of its C library.
#define HX_PRINTF_FMT(f, a) __attribute__((format(HX_PRINTF_ARCHETYPE, f, a)))

// ---- Encoding ----

// UTF-8 by the host's rule: lead bytes 110xxxxx, 1110xxxx and 11110xxx take
// one, two and three continuation bytes (10xxxxxx). Overlong forms and encoded
// surrogates pass; a missing continuation byte, a stray continuation byte and
// 0xF8..0xFF fail. The empty text is valid.
bool is_valid_utf8(std::string_view s);

// GBK to UTF-8. nullopt when the platform converter fails.
std::optional<std::string> hx_gbk_to_utf8(std::string_view gbk);
// UTF-8 to GBK; characters without a GBK form become "?" (best-fit substitutes
// allowed). nullopt when the platform converter fails.
std::optional<std::string> hx_utf8_to_gbk(std::string_view utf8);
// A copy when the text is valid UTF-8, else its GBK-to-UTF-8 conversion.
std::optional<std::string> hx_auto_to_utf8(std::string_view s);
// UTF-8 in which every character GBK cannot hold is replaced by "[emoji]"
// (U+1F000..U+1FAFF, U+2600..U+27BF, U+FE00..U+FE0F) or "[U+XXXX]". Text that
// is not valid UTF-8 comes back unchanged.
std::optional<std::string> hx_gbk_safe_utf8(std::string_view utf8);
// The conversion for text handed to a plugin: GBK or UTF-8 in, GBK out, with
// the GBK-safe markers. nullopt when the last step fails.
std::optional<std::string> hx_safe_gbk(std::string_view s);

// The longest prefix of `s` of at most `max` bytes that does not end inside a
// UTF-8 character. Text that is cut there stays valid UTF-8.
std::size_t hx_utf8_cut(std::string_view s, std::size_t max);
// Copies `src` into a fixed field of `size` bytes, cut at a character boundary
// and always terminated. Nothing is written when `size` is 0.
void hx_copy_field(char* dst, std::size_t size, std::string_view src);
// The same two for GBK text: a cut never separates a lead byte (0x81..0xFE)
// from the byte that completes it.
std::size_t hx_gbk_cut(std::string_view s, std::size_t max);
void hx_copy_field_gbk(char* dst, std::size_t size, std::string_view src);

// ---- Building text ----

// Appends printf-style text to `sb` (the host's string builder is a
// std::string). A formatting error appends nothing.
void sb_printf(std::string& sb, const char* fmt, ...) HX_PRINTF_FMT(2, 3);

// ---- Strings and numbers ----

// Case-insensitive comparison of ASCII letters: <0, 0 or >0.
int hx_icmp(std::string_view a, std::string_view b);
bool hx_ends_with_ci(std::string_view s, std::string_view suffix);
// Trims space, tab, CR and LF (not vertical tab or form feed) at both ends.
std::string_view hx_trim(std::string_view s);
// Splits at each occurrence of `sep`, into at most `max` pieces; the last
// piece keeps the remainder, separators included. The empty text gives one
// empty piece; `max` below 1 gives none; an empty separator does not split.
std::vector<std::string_view> hx_split(std::string_view s, std::string_view sep, int max);
// Decimal numbers: leading whitespace and a sign are accepted, at least one
// digit is required and only spaces and tabs may follow; otherwise `def`.
// Values beyond the type's range saturate.
int hx_to_int(std::string_view s, int def);
std::int64_t hx_to_i64(std::string_view s, std::int64_t def);
// "真", "true", "yes", "1" -> 1; "假", "false", "no", "0" -> 0 (Latin words
// ignoring case, no trimming); anything else -> def.
int hx_to_bool(std::string_view s, int def);

// ---- Directories and paths ----

// The platform's directory separator.
extern const char HX_SEP;

// The program directory with a trailing separator; "." plus separator when it
// cannot be had. The host keeps its own paths in UTF-8 on every platform (the
// Windows file layer uses the wide functions), so both forms are UTF-8; GBK
// forms are made where a path is handed to a plugin (hx_path_ansi).
const std::string& hx_exe_dir();
const std::string& hx_exe_dir_utf8();
// Sets the data-directory override (made absolute and normalised); an empty
// path clears it. Start-up only.
void hx_set_data_dir(std::string_view path);
// The override if set, else the program directory.
const std::string& hx_data_dir();
// The instance key, computed once: the override if set, else the working
// directory, normalised. Two processes are one instance when their keys match.
// hx_set_data_dir must come first when an override is wanted.
const std::string& hx_inst_key();
// The 16-bit global atom of the instance key, added on the first call.
std::uint16_t hx_inst_atom();
// "HXFrame_Single_%08X_%u" over the instance key (hash, length in bytes).
std::string hx_single_instance_name();
// "HXFrame_DataDir_%08X_%u" over the data directory.
std::string hx_data_dir_lock_name();

// FNV-1a over the bytes of `s`: 32-bit with its standard offset basis, and
// 64-bit from the given basis.
std::uint32_t hx_fnv1a(std::string_view s);
std::uint64_t hx_fnv1a64(std::string_view s, std::uint64_t basis);
inline constexpr std::uint64_t HX_FNV64_PRIME = 1099511628211ull;
// Directory normalisation. Windows: "/" to "\", trailing separators dropped
// (a drive keeps "C:\"), lower case, one trailing "\". Elsewhere the same but
// with "/" and letter case kept. The trailing separator is added only while
// the result stays within 259 bytes.
std::string hx_norm_dir(std::string_view path);

// dir + separator + name; no separator when dir is empty or already ends in
// "/" or "\".
std::string hx_path_join(std::string_view dir, std::string_view name);
// Paths whose components may mix UTF-8 and GBK. hx_path_ansi gives the form
// for the platform's narrow file functions (GBK on Windows, UTF-8 elsewhere);
// hx_path_u8 (alias hx_path_show) the UTF-8 form. Results live in a per-thread
// ring of 6 slots of 780 bytes: valid until the same thread has made six more
// calls of the same function. Longer results are cut at a character boundary.
const char* hx_path_ansi(std::string_view path);
const char* hx_path_u8(std::string_view path);
inline const char* hx_path_show(std::string_view path) { return hx_path_u8(path); }

// ---- Files (paths may mix UTF-8 and GBK components) ----

inline constexpr std::size_t HX_READ_MAX = 33554432;  // 32 MiB, inclusive

// Creates the directory and its missing parents. True when the last creation
// succeeded (false when the directory already existed).
bool hx_dir_create(std::string_view path);
bool hx_file_exists(std::string_view path);
bool hx_dir_exists(std::string_view path);
// Deletes a file; true when one was deleted.
bool hx_remove_file(std::string_view path);
// The entries of a directory (UTF-8 names, "." and ".." left out) in the
// order the file system gives them; empty when it cannot be read.
struct HxDirEntry {
  std::string name;
  bool isDir;
};
std::vector<HxDirEntry> hx_list_dir(std::string_view path);
// A whole file; nullopt when it cannot be opened or read, or is larger than
// HX_READ_MAX.
std::optional<std::string> hx_read_file(std::string_view path);
// Replaces the file atomically through "<path>.<pid>-<n>.hxtmp": a reader sees the old
// file or the whole new one. A failure removes the temporary file and leaves
// the old file as it was.
bool hx_write_file(std::string_view path, std::string_view data);

// ---- Time ----

std::int64_t hx_now();  // UTC, Unix seconds
// Local time "YYYY-MM-DD hh:mm:ss", and "hh:mm:ss".
std::string hx_fmt_time(std::int64_t t);
std::string hx_fmt_hm(std::int64_t t);
// "1时2分5秒" and "1天1时1分"; negative durations count as 0.
std::string hx_fmt_dur(std::int64_t secs);
std::string hx_fmt_dur_dhm(std::int64_t secs);
// Uptime: reset stores now as the start and returns it; hx_uptime starts the
// clock on first use and never goes below 0.
std::int64_t hx_uptime_reset();
std::int64_t hx_uptime();

// ---- Other ----

inline constexpr const char* HX_B64_TABLE = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr std::size_t HX_B64_MAX = 0xBFFFFFFA;  // the longest input whose output length fits 32 bits

// Standard base64 with "=" padding; nullopt for input longer than HX_B64_MAX.
std::optional<std::string> hx_base64_encode(std::string_view data);

inline constexpr const char* HX_HTTP_AGENT = "Tolvex/8.0";
inline constexpr int HX_HTTP_TIMEOUT_MS = 15000;
inline constexpr std::size_t HX_HTTP_MAX = 33554432;  // body plus terminator must fit

// Downloads a URL into memory. nullopt for an empty URL, a failed or empty
// transfer, or a body of HX_HTTP_MAX bytes or more. Any status code counts:
// an error page with a body is returned like any other.
std::optional<std::string> hx_http_download(std::string_view url);
