// Table-driven code page 936 codec for platforms without one of their own.
// The table (cp936_table.inc) is generated at build time by tools/gen_cp936
// from glibc's CP936 converter; tests check every BMP code point against it.
#include "sys/codepage.h"

#include <cstdint>
#include <cstring>

namespace {

#include "cp936_table.inc"

constexpr unsigned kLeadFirst = 0x81, kLeadLast = 0xFE;
constexpr unsigned kTrailFirst = 0x40, kTrailLast = 0xFE;
constexpr unsigned kTrails = kTrailLast - kTrailFirst + 1;

struct EncodeTable {
  uint16_t code[0x10000] = {};  // 0 = no GBK form; < 0x100 single byte

  EncodeTable() {
    for (unsigned i = 0; i < sizeof kCp936Pairs / sizeof kCp936Pairs[0]; ++i) {
      unsigned cp = kCp936Pairs[i];
      if (cp && !code[cp]) code[cp] = static_cast<uint16_t>((kLeadFirst + i / kTrails) << 8 | (kTrailFirst + i % kTrails));
    }
    for (unsigned b = 0; b < 128; ++b) {
      unsigned cp = kCp936Single[b];
      if (cp && !code[cp]) code[cp] = static_cast<uint16_t>(0x80 + b);
    }
    for (const Cp936Extra* e = kCp936Extra; e->cp; ++e) code[e->cp] = e->code;
  }
};

const EncodeTable& encode_table() {
  static const EncodeTable table;
  return table;
}

// GBK code of a non-ASCII code point: 0 when there is none, else one byte
// (below 0x100) or a lead/trail pair.
inline uint16_t gbk_code(char32_t cp) { return cp > 0xFFFF ? 0 : encode_table().code[cp]; }

inline void put_utf8(std::string& out, char32_t cp) {
  char b[3];
  if (cp < 0x800) {
    b[0] = static_cast<char>(0xC0 | cp >> 6);
    b[1] = static_cast<char>(0x80 | (cp & 0x3F));
    out.append(b, 2);
  } else {
    b[0] = static_cast<char>(0xE0 | cp >> 12);
    b[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    b[2] = static_cast<char>(0x80 | (cp & 0x3F));
    out.append(b, 3);
  }
}

// Length of the ASCII run at p (at most n), eight bytes at a time.
inline size_t ascii_run(const unsigned char* p, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w & 0x8080808080808080ull) break;
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// Decodes one well-formed UTF-8 character (shortest form, no surrogates, at
// most U+10FFFF). Returns its length, or 0 for a malformed sequence, with
// `*bad` set to the length of its maximal malformed prefix (at least 1).
inline size_t utf8_next(const unsigned char* p, size_t n, char32_t* cp, size_t* bad) {
  unsigned c = p[0];
  size_t len;
  unsigned lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    *bad = 1;
    return 0;
  }
  char32_t v = c & (0xFF >> (len + 1));
  for (size_t i = 1; i < len; ++i) {
    unsigned t = i < n ? p[i] : 0;
    if (t < lo || t > hi) {
      *bad = i;
      return 0;
    }
    lo = 0x80;
    hi = 0xBF;
    v = v << 6 | (t & 0x3F);
  }
  *cp = v;
  return len;
}

}  // namespace

bool sys_cp936_to_utf8(std::string_view gbk, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(gbk.data());
  const size_t n = gbk.size();
  out.reserve(out.size() + n + n / 2);
  size_t i = 0;
  while (i < n) {
    size_t run = ascii_run(p + i, n - i);
    out.append(gbk.data() + i, run);
    i += run;
    if (i >= n) break;
    unsigned lead = p[i];
    unsigned trail = i + 1 < n ? p[i + 1] : 0;
    if (lead >= kLeadFirst && lead <= kLeadLast && trail >= kTrailFirst && trail <= kTrailLast && trail != 0x7F) {
      char32_t cp = kCp936Pairs[(lead - kLeadFirst) * kTrails + trail - kTrailFirst];
      if (cp) {
        put_utf8(out, cp);
      } else {
        out += '?';
      }
      i += 2;
    } else {
      char32_t cp = kCp936Single[lead - 0x80];
      if (cp) {
        put_utf8(out, cp);
      } else {
        out += '?';  // a stray byte or a lead byte without its trail byte
      }
      i += 1;
    }
  }
  return true;
}

bool sys_utf8_to_cp936(std::string_view utf8, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  out.reserve(out.size() + n);
  size_t i = 0;
  while (i < n) {
    size_t run = ascii_run(p + i, n - i);
    out.append(utf8.data() + i, run);
    i += run;
    if (i >= n) break;
    char32_t cp;
    size_t bad;
    size_t len = utf8_next(p + i, n - i, &cp, &bad);
    if (!len) {
      out += '?';
      i += bad;
      continue;
    }
    i += len;
    uint16_t code = gbk_code(cp);
    if (!code) {
      out += '?';
    } else if (code < 0x100) {
      out += static_cast<char>(code);
    } else {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    }
  }
  return true;
}

bool sys_cp936_holds(std::string_view utf8) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  size_t i = 0;
  while (i < n) {
    i += ascii_run(p + i, n - i);
    if (i >= n) break;
    char32_t cp;
    size_t bad;
    size_t len = utf8_next(p + i, n - i, &cp, &bad);
    if (!len || !gbk_code(cp)) return false;
    i += len;
  }
  return true;
}

bool sys_cp936_holds_cp(char32_t cp) { return cp < 0x80 || gbk_code(cp) != 0; }
