// Our CP936 codec must answer exactly as the system's converter (glibc iconv)
// for every BMP code point and every one- and two-byte GBK sequence.
#include <gtest/gtest.h>
#include <iconv.h>

#include "sys/codepage.h"

namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The whole conversion, or false when the converter refuses any of it.
  bool convert(const std::string& in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buf[32];
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char* dst = buf;
    size_t room = sizeof buf;
    if (iconv(cd_, &src, &left, &dst, &room) == static_cast<size_t>(-1)) return false;
    out.assign(buf, dst);
    return true;
  }

 private:
  iconv_t cd_;
};

std::string utf8_of(char32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | cp >> 6);
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | cp >> 12);
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

TEST(CodePageAgreement, EveryBmpCodePointEncodesAsTheSystemDoes) {
  Iconv enc("CP936", "UTF-8");
  if (!enc.ok()) GTEST_SKIP() << "this system has no CP936 converter";
  int held = 0, mismatches = 0;
  for (char32_t cp = 1; cp <= 0xFFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string u8 = utf8_of(cp), want, got;
    bool system_holds = enc.convert(u8, want);
    held += system_holds;
    bool ours = sys_cp936_holds_cp(cp);
    if (ours != system_holds || sys_cp936_holds(u8) != system_holds) {
      if (++mismatches < 10) ADD_FAILURE() << "representability differs at U+" << std::hex << static_cast<unsigned>(cp);
      continue;
    }
    if (!system_holds) continue;
    ASSERT_TRUE(sys_utf8_to_cp936(u8, got));
    if (got != want && ++mismatches < 10)
      ADD_FAILURE() << "encoding differs at U+" << std::hex << static_cast<unsigned>(cp);
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(held, 21000);  // GBK holds some 21,886 characters
}

TEST(CodePageAgreement, EveryGbkSequenceDecodesAsTheSystemDoes) {
  Iconv dec("UTF-8", "CP936");
  if (!dec.ok()) GTEST_SKIP() << "this system has no CP936 converter";
  int mismatches = 0, decoded = 0;
  auto check = [&](const std::string& gbk) {
    std::string want, got;
    if (!dec.convert(gbk, want)) return;
    ++decoded;
    sys_cp936_to_utf8(gbk, got);
    if (got != want && ++mismatches < 10) ADD_FAILURE() << "decoding differs for " << testing::PrintToString(gbk);
  };
  for (int b = 0; b < 0x100; ++b) check(std::string(1, static_cast<char>(b)));
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) check({static_cast<char>(lead), static_cast<char>(trail)});
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(decoded, 21000);
}

}  // namespace
