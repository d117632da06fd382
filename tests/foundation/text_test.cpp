// Encoding, string and number helpers.
#include <gtest/gtest.h>

#include <climits>

#include "foundation/util.h"

namespace {

// GBK bytes of 中文 and 插件.
const std::string kGbkZhongwen = "\xD6\xD0\xCE\xC4";
const std::string kGbkChajian = "\xB2\xE5\xBC\xFE";

TEST(Utf8Validity, FollowsTheHostRule) {
  struct Case {
    const char* name;
    std::string text;
    bool valid;
  } cases[] = {
      {"empty", "", true},
      {"ascii", "abc 123", true},
      {"chinese", "中文", true},
      {"four-byte emoji", "\xF0\x9F\x99\x88", true},
      {"overlong two-byte NUL", "\xC0\x80", true},
      {"encoded surrogate", "\xED\xA0\x80", true},
      {"lone continuation byte", "\x80", false},
      {"three-byte sequence cut by the end", "\xE4\xB8", false},
      {"three-byte sequence cut by ASCII",
       "\xE4\xB8"
       "A",
       false},
      {"five-byte lead", "\xF8\x88\x80\x80\x80", false},
      {"byte FF", "a\xFF", false},
      {"GBK text", kGbkZhongwen, false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.text), c.valid) << c.name;
}

TEST(CodePage, ConvertsBothWays) {
  struct Case {
    const char* name;
    std::string utf8, gbk;
  } cases[] = {
      {"empty", "", ""},
      {"ascii", "abc\t123", "abc\t123"},
      {"chinese and ascii", "中文abc", kGbkZhongwen + "abc"},
      {"euro sign is one byte", "€", "\x80"},
      {"punctuation", "·—…", "\xA1\xA4\xA1\xAA\xA1\xAD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hx_gbk_to_utf8(c.gbk), c.utf8) << c.name;
    EXPECT_EQ(hx_utf8_to_gbk(c.utf8), c.gbk) << c.name;
  }
}

TEST(CodePage, CharactersWithoutGbkFormBecomeQuestionMarks) {
  EXPECT_EQ(hx_utf8_to_gbk("a한b"), "a?b");
  EXPECT_EQ(hx_utf8_to_gbk("\xF0\x9F\x99\x88"), "?");
  // Malformed UTF-8 gives one "?" for the broken sequence, and the next
  // character survives.
  EXPECT_EQ(hx_utf8_to_gbk("a\xE4\xB8"
                           "b"),
            "a?b");
}

TEST(CodePage, AutoTakesValidUtf8AsIs) {
  EXPECT_EQ(hx_auto_to_utf8("plain ascii"), "plain ascii");
  EXPECT_EQ(hx_auto_to_utf8("中文"), "中文");
  EXPECT_EQ(hx_auto_to_utf8(kGbkZhongwen), "中文");
  // C3 A9 is a GBK character, but it is also valid UTF-8 (é): UTF-8 wins.
  EXPECT_EQ(hx_auto_to_utf8("\xC3\xA9"), "é");
}

TEST(GbkSafe, ReplacesWhatGbkCannotHold) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"普通中文abc123", "普通中文abc123"},
      {"64🙈🙉🙊", "64[emoji][emoji][emoji]"},
      {"生僻字𠮷", "生僻字[U+20BB7]"},
      {"雪人☃", "雪人[emoji]"},
      {"❤️", "[emoji][emoji]"},  // U+2764 and the variation selector U+FE0F
      {"한국어", "[U+D55C][U+AD6D][U+C5B4]"},
      {"niño é", "ni[U+00F1]o é"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(hx_gbk_safe_utf8(c.in), c.out) << c.in;
}

TEST(GbkSafe, LeavesInvalidUtf8Alone) {
  EXPECT_EQ(hx_gbk_safe_utf8(kGbkZhongwen), kGbkZhongwen);
  EXPECT_EQ(hx_gbk_safe_utf8("a\x80z"), "a\x80z");
}

TEST(GbkSafe, PluginConversionAcceptsEitherEncoding) {
  EXPECT_EQ(hx_safe_gbk(kGbkChajian), kGbkChajian);
  EXPECT_EQ(hx_safe_gbk("插件🙈"), kGbkChajian + "[emoji]");
  EXPECT_EQ(hx_safe_gbk("x"), "x");
}

TEST(Utf8Cut, NeverEndsInsideACharacter) {
  const std::string emoji = "\xF0\x9F\x99\x88";
  struct Case {
    std::string text;
    size_t max, cut;
  } cases[] = {
      {"abc", 2, 2},       {"abc", 10, 3}, {"中文", 6, 6},
      {"中文", 5, 3},      {"中文", 4, 3}, {"中文", 3, 3},
      {"中文", 2, 0},      {"a中", 2, 1},  {emoji + "x", 3, 0},
      {emoji + "x", 4, 4}, {"é", 1, 0},    {"\x80\x80\x80\x80\x80", 2, 2},  // not UTF-8 at all: cut where asked
  };
  for (const auto& c : cases) EXPECT_EQ(hx_utf8_cut(c.text, c.max), c.cut) << c.text << " max " << c.max;
}

TEST(Utf8Cut, FixedFieldsStayValidUtf8) {
  char field[8];
  hx_copy_field(field, sizeof field, "一二三");
  EXPECT_STREQ(field, "一二");
  hx_copy_field(field, sizeof field, "short");
  EXPECT_STREQ(field, "short");
  hx_copy_field(field, 1, "x");
  EXPECT_STREQ(field, "");
}

TEST(StringBuilder, AppendsShortAndLongText) {
  std::string sb = "<";
  sb_printf(sb, "%d-%s", 42, "x");
  EXPECT_EQ(sb, "<42-x");
  std::string big(3000, 'y');
  sb_printf(sb, "%s!", big.c_str());
  EXPECT_EQ(sb, "<42-x" + big + "!");
}

TEST(Strings, CompareIgnoringAsciiCase) {
  EXPECT_EQ(hx_icmp("Plugin.DLL", "plugin.dll"), 0);
  EXPECT_LT(hx_icmp("abc", "ABD"), 0);
  EXPECT_LT(hx_icmp("", "a"), 0);
  EXPECT_GT(hx_icmp("ab", "A"), 0);
  EXPECT_TRUE(hx_ends_with_ci("demo.DLL", ".dll"));
  EXPECT_FALSE(hx_ends_with_ci("dll", ".dll"));
  EXPECT_TRUE(hx_ends_with_ci("x", ""));
}

TEST(Strings, TrimTakesOnlySpaceTabCrLf) {
  EXPECT_EQ(hx_trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(hx_trim("\va\f"), "\va\f");
  EXPECT_EQ(hx_trim(" \r\n "), "");
  EXPECT_EQ(hx_trim(""), "");
}

TEST(Strings, SplitKeepsTheRemainderInTheLastPiece) {
  using V = std::vector<std::string_view>;
  struct Case {
    std::string text, sep;
    int max;
    V pieces;
  } cases[] = {
      {"a,,b", ",", 2, {"a", ",b"}},
      {"a,,b", ",", 5, {"a", "", "b"}},
      {"a::b::c", "::", 3, {"a", "b", "c"}},
      {"a::b::c", "::", 1, {"a::b::c"}},
      {"", ",", 3, {""}},
      {"x,", ",", 3, {"x", ""}},
      {"abc", "", 3, {"abc"}},
      {"a,b", ",", 0, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(hx_split(c.text, c.sep, c.max), c.pieces) << c.text << " max " << c.max;
}

TEST(Numbers, IntegerParsing) {
  struct Case {
    std::string text;
    int value;
  } cases[] = {
      {"42\t ", 42},
      {"42x", 7},
      {"", 7},
      {" -5", -5},
      {"+8", 8},
      {"\v12", 12},
      {"4 2", 7},
      {"-", 7},
      {"0x10", 7},
      {"0012", 12},
      {"2147483647", INT_MAX},
      {"9999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-9999999999", INT_MIN},
      {"12\n", 7},
  };
  for (const auto& c : cases) EXPECT_EQ(hx_to_int(c.text, 7), c.value) << "'" << c.text << "'";
}

TEST(Numbers, SixtyFourBitParsing) {
  struct Case {
    std::string text;
    std::int64_t value;
  } cases[] = {
      {"12345678901", 12345678901LL},
      {"9223372036854775807", INT64_MAX},
      {"99999999999999999999", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"1e5", -1},
      {"  3000000000 ", 3000000000LL},
  };
  for (const auto& c : cases) EXPECT_EQ(hx_to_i64(c.text, -1), c.value) << c.text;
}

TEST(Numbers, BooleanWords) {
  struct Case {
    std::string text;
    int value;
  } cases[] = {
      {"TRUE", 1}, {"true", 1},  {"Yes", 1}, {"1", 1},  {"真", 1}, {" true", 9}, {"0", 0},
      {"00", 9},   {"false", 0}, {"NO", 0},  {"假", 0}, {"", 9},   {"on", 9},
  };
  for (const auto& c : cases) EXPECT_EQ(hx_to_bool(c.text, 9), c.value) << "'" << c.text << "'";
}

TEST(Base64, PadsTheLastGroup) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},        {"a", "YQ=="},        {"ab", "YWI="},
      {"abc", "YWJj"}, {"abcd", "YWJjZA=="}, {std::string("\x00\xFF\xFE", 3), "AP/+"},
  };
  for (const auto& c : cases) EXPECT_EQ(hx_base64_encode(c.in), c.out) << c.in;
}

}  // namespace
