// Encoding, string and number helpers of util.h.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "foundation/util.h"
#include "sys/codepage.h"

namespace {

inline bool is_cont(unsigned char c) { return (c & 0xC0) == 0x80; }

// Sequence length announced by a lead byte under the host's UTF-8 rule; 0 for
// a byte that cannot start a sequence.
inline int lead_len(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 0;
}

bool is_emoji(char32_t cp) {
  return (cp >= 0x1F000 && cp <= 0x1FAFF) || (cp >= 0x2600 && cp <= 0x27BF) || (cp >= 0xFE00 && cp <= 0xFE0F);
}

inline unsigned char ascii_lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

bool equals_ci(std::string_view a, std::string_view b) { return a.size() == b.size() && hx_icmp(a, b) == 0; }

// Parses a decimal integer that saturates at [lo, hi]; false when the text
// breaks the rule of hx_to_int.
bool parse_decimal(std::string_view s, long long lo, long long hi, long long& out) {
  size_t i = 0;
  // The standard conversion skips any C-locale white space before the number.
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  size_t digits = i;
  unsigned long long mag = 0;
  const unsigned long long limit =
      negative ? static_cast<unsigned long long>(-(lo + 1)) + 1 : static_cast<unsigned long long>(hi);
  bool over = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    unsigned d = static_cast<unsigned>(s[i] - '0');
    if (over || mag > (limit - d) / 10) {
      over = true;
      continue;
    }
    mag = mag * 10 + d;
  }
  if (i == digits) return false;
  for (; i < s.size(); ++i) {
    if (s[i] != ' ' && s[i] != '\t') return false;
  }
  if (over) {
    out = negative ? lo : hi;
  } else {
    out = negative ? static_cast<long long>(0 - mag) : static_cast<long long>(mag);
  }
  return true;
}

}  // namespace

// ---- Encoding ----

bool is_valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    // Chinese text is almost all three-byte sequences: test those first.
    if ((c & 0xF0) == 0xE0 && i + 2 < n && is_cont(p[i + 1]) && is_cont(p[i + 2])) {
      i += 3;
      continue;
    }
    int len = lead_len(static_cast<unsigned char>(c));
    if (len == 0 || i + static_cast<size_t>(len) > n) return false;
    for (int k = 1; k < len; ++k) {
      if (!is_cont(p[i + static_cast<size_t>(k)])) return false;
    }
    i += static_cast<size_t>(len);
  }
  return true;
}

std::optional<std::string> hx_gbk_to_utf8(std::string_view gbk) {
  std::string out;
  if (!sys_cp936_to_utf8(gbk, out)) return std::nullopt;
  return out;
}

std::optional<std::string> hx_utf8_to_gbk(std::string_view utf8) {
  std::string out;
  if (!sys_utf8_to_cp936(utf8, out)) return std::nullopt;
  return out;
}

std::optional<std::string> hx_auto_to_utf8(std::string_view s) {
  if (is_valid_utf8(s)) return std::string(s);
  return hx_gbk_to_utf8(s);
}

std::optional<std::string> hx_gbk_safe_utf8(std::string_view s) {
  // Ordinary Chinese text passes the whole-text test and costs one scan. Text
  // that passes it is strictly well-formed UTF-8, so validity needs asking
  // only when the test fails.
  if (sys_cp936_holds(s) || !is_valid_utf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 16);
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    int len = lead_len(p[i]);
    if (len == 1) {
      out += s[i++];
      continue;
    }
    bool whole = len > 0 && i + static_cast<size_t>(len) <= n;
    for (int k = 1; whole && k < len; ++k) whole = is_cont(p[i + static_cast<size_t>(k)]);
    if (!whole) {
      out += s[i++];
      continue;
    }
    char32_t cp = p[i] & (0x7F >> len);
    for (int k = 1; k < len; ++k) cp = cp << 6 | (p[i + static_cast<size_t>(k)] & 0x3F);
    if (sys_cp936_holds_cp(cp)) {
      out.append(s.substr(i, static_cast<size_t>(len)));
    } else if (is_emoji(cp)) {
      out += "[emoji]";
    } else {
      sb_printf(out, "[U+%04X]", static_cast<unsigned>(cp));
    }
    i += static_cast<size_t>(len);
  }
  return out;
}

std::optional<std::string> hx_safe_gbk(std::string_view s) {
  std::optional<std::string> utf8 = hx_auto_to_utf8(s);
  std::string_view step1 = utf8 ? std::string_view(*utf8) : s;
  std::optional<std::string> safe = hx_gbk_safe_utf8(step1);
  return hx_utf8_to_gbk(safe ? std::string_view(*safe) : step1);
}

std::size_t hx_utf8_cut(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s.size();
  // s[max] is the first byte left out; if it continues a character, that
  // character starts at most three bytes earlier and goes too.
  std::size_t i = max;
  for (int back = 0; back < 3 && i > 0 && is_cont(static_cast<unsigned char>(s[i])); ++back) --i;
  return is_cont(static_cast<unsigned char>(s[i])) ? max : i;
}

void hx_copy_field(char* dst, std::size_t size, std::string_view src) {
  if (!dst || size == 0) return;
  std::size_t n = hx_utf8_cut(src, size - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

std::size_t hx_gbk_cut(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s.size();
  std::size_t i = 0;
  while (i < max) {
    const auto b = static_cast<unsigned char>(s[i]);
    const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
    const std::size_t len = b >= 0x81 && b <= 0xFE && next >= 0x40 && next <= 0xFE && next != 0x7F ? 2 : 1;
    if (i + len > max) break;
    i += len;
  }
  return i;
}

void hx_copy_field_gbk(char* dst, std::size_t size, std::string_view src) {
  if (!dst || size == 0) return;
  std::size_t n = hx_gbk_cut(src, size - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

// ---- Building text ----

void sb_printf(std::string& sb, const char* fmt, ...) {
  char local[1024];
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(local, sizeof local, fmt, ap);
  va_end(ap);
  if (n >= 0 && static_cast<size_t>(n) < sizeof local) {
    sb.append(local, static_cast<size_t>(n));
  } else if (n >= 0) {
    size_t at = sb.size();
    sb.resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(sb.data() + at, static_cast<size_t>(n) + 1, fmt, again);
    sb.resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}

// ---- Strings and numbers ----

int hx_icmp(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int d = ascii_lower(static_cast<unsigned char>(a[i])) - ascii_lower(static_cast<unsigned char>(b[i]));
    if (d) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool hx_ends_with_ci(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && hx_icmp(s.substr(s.size() - suffix.size()), suffix) == 0;
}

std::string_view hx_trim(std::string_view s) {
  constexpr std::string_view ws = " \t\r\n";
  size_t first = s.find_first_not_of(ws);
  if (first == std::string_view::npos) return s.substr(s.size());
  return s.substr(first, s.find_last_not_of(ws) - first + 1);
}

std::vector<std::string_view> hx_split(std::string_view s, std::string_view sep, int max) {
  std::vector<std::string_view> pieces;
  if (max < 1) return pieces;
  while (static_cast<int>(pieces.size()) < max - 1 && !sep.empty()) {
    size_t at = s.find(sep);
    if (at == std::string_view::npos) break;
    pieces.push_back(s.substr(0, at));
    s.remove_prefix(at + sep.size());
  }
  pieces.push_back(s);
  return pieces;
}

int hx_to_int(std::string_view s, int def) {
  long long v;
  return parse_decimal(s, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), v) ? static_cast<int>(v)
                                                                                               : def;
}

std::int64_t hx_to_i64(std::string_view s, std::int64_t def) {
  long long v;
  return parse_decimal(s, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(), v) ? v : def;
}

int hx_to_bool(std::string_view s, int def) {
  if (s == "真" || s == "1" || equals_ci(s, "true") || equals_ci(s, "yes")) return 1;
  if (s == "假" || s == "0" || equals_ci(s, "false") || equals_ci(s, "no")) return 0;
  return def;
}
