// Table-driven code page 936 codec for platforms without one of their own.
// The table (cp936_table.inc) is generated at build time by tools/gen_cp936
// from glibc's CP936 converter; tests check every BMP code point against it.
#include "sys/codepage.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

#include "cp936_table.inc"

static_assert(std::endian::native == std::endian::little, "the packed UTF-8 table assumes little endian");

constexpr unsigned kLeadFirst = 0x81, kLeadLast = 0xFE;
constexpr unsigned kTrailFirst = 0x40, kTrailLast = 0xFE;
constexpr unsigned kTrails = kTrailLast - kTrailFirst + 1;
constexpr unsigned kPairs = sizeof kCp936Pairs / sizeof kCp936Pairs[0];

// UTF-8 of a BMP code point packed for one 4-byte store: the bytes in order
// from the lowest, the length in the top byte.
constexpr uint32_t pack_utf8(char32_t cp) {
  if (cp < 0x80) return 1u << 24 | cp;
  if (cp < 0x800) return 2u << 24 | (0x80 | (cp & 0x3F)) << 8 | (0xC0 | cp >> 6);
  return 3u << 24 | (0x80 | (cp & 0x3F)) << 16 | (0x80 | (cp >> 6 & 0x3F)) << 8 | (0xE0 | cp >> 12);
}

// Both directions, built once from the generated decode table.
struct Tables {
  uint32_t pairUtf8[kPairs];    // packed UTF-8 per lead/trail pair ("?" when unmapped)
  uint32_t singleUtf8[128];     // the same for single bytes 0x80..0xFF
  uint16_t code[0x10000] = {};  // GBK code per code point; 0 = none, < 0x100 one byte

  Tables() {
    for (unsigned i = 0; i < kPairs; ++i) {
      unsigned cp = kCp936Pairs[i];
      pairUtf8[i] = pack_utf8(cp ? cp : '?');
      if (cp && !code[cp])
        code[cp] = static_cast<uint16_t>((kLeadFirst + i / kTrails) << 8 | (kTrailFirst + i % kTrails));
    }
    for (unsigned b = 0; b < 128; ++b) {
      unsigned cp = kCp936Single[b];
      singleUtf8[b] = pack_utf8(cp ? cp : '?');
      if (cp && !code[cp]) code[cp] = static_cast<uint16_t>(0x80 + b);
    }
    for (const Cp936Extra* e = kCp936Extra; e->cp; ++e) code[e->cp] = e->code;
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

inline bool is_cont(unsigned c) { return (c & 0xC0) == 0x80; }

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

// The common case of Chinese text, a well-formed three-byte character;
// returns 0 for anything else.
inline char32_t utf8_three(const unsigned char* p, size_t n) {
  if (n < 3 || (p[0] & 0xF0) != 0xE0 || !is_cont(p[1]) || !is_cont(p[2])) return 0;
  char32_t cp = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
  return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF) ? cp : 0;
}

// Next character of UTF-8 text as a code point; `*step` gets its length or the
// length of the malformed prefix, in which case the result is 0x110000.
inline char32_t next_cp(const unsigned char* p, size_t n, size_t* step) {
  if (char32_t cp = utf8_three(p, n)) {
    *step = 3;
    return cp;
  }
  char32_t cp;
  size_t len = utf8_next(p, n, &cp, step);
  if (!len) return 0x110000;
  *step = len;
  return cp;
}

// Length of the ASCII run at p (1 to 8 bytes; p[0] is ASCII), with the run
// copied to o when o is given. Reads (and writes) 8 bytes when 8 are there.
inline size_t ascii_step(const unsigned char* p, size_t n, char* o) {
  if (n < 8) {
    if (o) *o = static_cast<char>(p[0]);
    return 1;
  }
  uint64_t w;
  std::memcpy(&w, p, 8);
  if (o) std::memcpy(o, &w, 8);
  uint64_t high = w & 0x8080808080808080ull;
  return high ? static_cast<size_t>(std::countr_zero(high)) >> 3 : 8;
}

// GBK code of a non-ASCII code point: 0 when there is none.
inline uint16_t gbk_code(const Tables& t, char32_t cp) { return cp > 0xFFFF ? 0 : t.code[cp]; }

}  // namespace

bool sys_cp936_to_utf8(std::string_view gbk, std::string& out) {
  const Tables& t = tables();
  const auto* p = reinterpret_cast<const unsigned char*>(gbk.data());
  const size_t n = gbk.size();
  const size_t at = out.size();
  out.resize(at + 3 * n + 8);  // at most three bytes per input byte, plus one store's slack
  char* o = out.data() + at;
  size_t i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      size_t k = ascii_step(p + i, n - i, o);
      o += k;
      i += k;
      continue;
    }
    uint32_t v;
    unsigned trail = i + 1 < n ? p[i + 1] : 0;
    if (c >= kLeadFirst && c <= kLeadLast && trail >= kTrailFirst && trail <= kTrailLast && trail != 0x7F) {
      v = t.pairUtf8[(c - kLeadFirst) * kTrails + trail - kTrailFirst];
      i += 2;
    } else {
      v = t.singleUtf8[c - 0x80];  // a stray byte, or a lead byte without its trail byte
      i += 1;
    }
    std::memcpy(o, &v, 4);
    o += v >> 24;
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return true;
}

bool sys_utf8_to_cp936(std::string_view utf8, std::string& out) {
  const Tables& t = tables();
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  const size_t at = out.size();
  out.resize(at + n + 8);  // no character grows (2..4 bytes become at most 2), plus slack for ASCII runs
  char* o = out.data() + at;
  size_t i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      size_t k = ascii_step(p + i, n - i, o);
      o += k;
      i += k;
      continue;
    }
    size_t step;
    uint16_t code = gbk_code(t, next_cp(p + i, n - i, &step));
    i += step;
    if (code >= 0x100) {
      *o++ = static_cast<char>(code >> 8);
      *o++ = static_cast<char>(code & 0xFF);
    } else {
      *o++ = code ? static_cast<char>(code) : '?';
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return true;
}

bool sys_cp936_holds(std::string_view utf8) {
  const Tables& t = tables();
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      i += ascii_step(p + i, n - i, nullptr);
      continue;
    }
    size_t step;
    if (!gbk_code(t, next_cp(p + i, n - i, &step))) return false;
    i += step;
  }
  return true;
}

bool sys_cp936_holds_cp(char32_t cp) { return cp < 0x80 || gbk_code(tables(), cp) != 0; }
