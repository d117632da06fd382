// Directory values, path joining, normalisation and the path rings.
#include <gtest/gtest.h>

#include <set>

#include "foundation/util.h"
#include "sys/files.h"

namespace {

const bool kWindows = HX_SEP == '\\';
const std::string S(1, HX_SEP);

TEST(PathJoin, AddsOneSeparatorOnlyWhenNeeded) {
  EXPECT_EQ(hx_path_join("C:\\x\\", "y"), "C:\\x\\y");
  EXPECT_EQ(hx_path_join("a/", "b"), "a/b");
  EXPECT_EQ(hx_path_join("", "y"), "y");
  EXPECT_EQ(hx_path_join("dir", "y"), "dir" + S + "y");
  EXPECT_EQ(hx_path_join("dir", ""), "dir" + S);
}

TEST(NormDir, FollowsThePlatformRule) {
  struct Case {
    std::string in, out;
  };
  std::vector<Case> cases;
  if (kWindows) {
    cases = {
        {"D:/Bots/A//", "d:\\bots\\a\\"},
        {"C:", "c:\\"},
        {"C:\\", "c:\\"},
        {"C:\\Program Files\\Tolvex", "c:\\program files\\tolvex\\"},
        {"", ""},
    };
  } else {
    cases = {
        {"/home/Bots/A//", "/home/Bots/A/"}, {"/", "/"}, {"///", "/"}, {"/srv/Tolvex", "/srv/Tolvex/"}, {"", ""},
    };
  }
  for (const auto& c : cases) EXPECT_EQ(hx_norm_dir(c.in), c.out) << c.in;
}

TEST(NormDir, AddsTheSeparatorOnlyWithin259Bytes) {
  std::string fits = S + std::string(257, 'd');  // 258 bytes + separator = 259
  std::string full = S + std::string(258, 'd');  // 259 bytes already
  EXPECT_EQ(hx_norm_dir(fits), fits + S);
  EXPECT_EQ(hx_norm_dir(full), full);
}

TEST(DataDir, OverrideIsAbsoluteAndNormalised) {
  hx_set_data_dir("some/relative/Dir//");
  std::string expect = hx_norm_dir(sys_full_path(std::string("some") + S + "relative" + S + "Dir"));
  EXPECT_EQ(hx_data_dir(), expect);
  EXPECT_EQ(hx_data_dir().back(), HX_SEP);
  hx_set_data_dir("");
  EXPECT_EQ(hx_data_dir(), hx_exe_dir());
}

TEST(ExeDir, HoldsTheRunningProgram) {
  const std::string& dir = hx_exe_dir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), HX_SEP);
  EXPECT_TRUE(hx_dir_exists(dir));
  EXPECT_EQ(sys_exe_path().rfind(dir, 0), 0u) << sys_exe_path();
  EXPECT_EQ(hx_exe_dir_utf8(), dir);
}

TEST(InstanceKey, IsStableAndNormalised) {
  const std::string& key = hx_inst_key();
  ASSERT_FALSE(key.empty());
  EXPECT_EQ(key, hx_norm_dir(key));
  EXPECT_EQ(&key, &hx_inst_key());
  std::uint16_t atom = hx_inst_atom();
  EXPECT_NE(atom, 0);
  EXPECT_EQ(atom, hx_inst_atom());
}

TEST(PathRings, MixedEncodingsBecomeUtf8) {
  // A UTF-8 directory joined with a GBK file name (插件.dll).
  std::string mixed = "数据" + S + "\xB2\xE5\xBC\xFE.dll";
  EXPECT_STREQ(hx_path_u8(mixed), ("数据" + S + "插件.dll").c_str());
  EXPECT_STREQ(hx_path_show(mixed), ("数据" + S + "插件.dll").c_str());
  // The narrow file-function form: GBK on Windows, UTF-8 elsewhere.
  std::string ansi = kWindows ? "\xCA\xFD\xBE\xDD\\\xB2\xE5\xBC\xFE.dll" : "数据/插件.dll";
  EXPECT_STREQ(hx_path_ansi(mixed), ansi.c_str());
  EXPECT_STREQ(hx_path_ansi("plain/ascii\\path"), "plain/ascii\\path");
  EXPECT_STREQ(hx_path_u8(""), "");
}

TEST(PathRings, SixResultsStayValid) {
  const char* first = hx_path_u8("p0");
  std::set<const char*> slots{first};
  for (int i = 1; i < 6; ++i) slots.insert(hx_path_u8("p" + std::to_string(i)));
  EXPECT_EQ(slots.size(), 6u);
  EXPECT_STREQ(first, "p0");
  hx_path_u8("p6");  // takes the first slot again
  EXPECT_STREQ(first, "p6");
}

TEST(PathRings, LongPathsAreCutAtACharacterBoundary) {
  std::string longer(700, 'a');
  for (int i = 0; i < 100; ++i) longer += "中";
  std::string got = hx_path_u8(longer);
  EXPECT_LE(got.size(), 779u);
  EXPECT_TRUE(is_valid_utf8(got));
  EXPECT_EQ(got, longer.substr(0, got.size()));
  EXPECT_GE(got.size(), 777u);
}

}  // namespace
