// The INI reader and writer.
#include <gtest/gtest.h>

#include "config/ini.h"
#include "foundation/log.h"
#include "foundation/util.h"
#include "support/temp_dir.h"
#include "sys/files.h"

namespace {

class Ini : public ::testing::Test {
 protected:
  HxIni load(const std::string& content) {
    std::string path = dir / "t.ini";
    EXPECT_TRUE(hx_write_file(path, content));
    HxIni ini;
    hx_ini_load(ini, path);
    return ini;
  }
  TempDir dir;
};

TEST_F(Ini, GbkAndUtf8WithBomLoadTheSame) {
  // "[设置]\n名字=中文" in GBK, and in UTF-8 behind a byte-order mark.
  HxIni gbk = load("[\xC9\xE8\xD6\xC3]\n\xC3\xFB\xD7\xD6=\xD6\xD0\xCE\xC4\n");
  HxIni utf8 = load("\xEF\xBB\xBF[设置]\r\n名字=中文\r\n");
  EXPECT_STREQ(hx_ini_get(gbk, "设置", "名字", "?"), "中文");
  EXPECT_STREQ(hx_ini_get(utf8, "设置", "名字", "?"), "中文");
  EXPECT_EQ(hx_ini_serialise(gbk), hx_ini_serialise(utf8));
}

TEST_F(Ini, LineRules) {
  HxIni ini = load(
      "orphan=dropped\n"
      "[设置]\n"
      "a = b = c\n"
      "Key=first\n"
      "KEY=second\n"
      "; comment=no\n"
      "# comment=no\n"
      "no equals sign\n"
      "[broken\n"
      "  spaced  =  value  \r\n"
      "[Other] trailing text\n"
      "x=1\n"
      "[设置]\n"
      "again=yes\n");
  EXPECT_STREQ(hx_ini_get(ini, "设置", "a", ""), "b = c");
  EXPECT_STREQ(hx_ini_get(ini, "设置", "key", ""), "second");
  EXPECT_STREQ(hx_ini_get(ini, "设置", "spaced", ""), "value");
  EXPECT_STREQ(hx_ini_get(ini, "设置", "again", ""), "yes");
  EXPECT_STREQ(hx_ini_get(ini, "other", "X", ""), "1");
  EXPECT_STREQ(hx_ini_get(ini, "设置", "; comment", "none"), "none");
  EXPECT_EQ(hx_ini_serialise(ini),
            "[设置]\r\na=b = c\r\nKey=second\r\nspaced=value\r\nagain=yes\r\n[Other]\r\nx=1\r\n");
}

TEST_F(Ini, MissingValuesGiveTheDefaultPointerItself) {
  HxIni ini = load("[s]\nk=v\n");
  const char* def = "default";
  EXPECT_EQ(hx_ini_get(ini, "s", "missing", def), def);
  EXPECT_EQ(hx_ini_get(ini, "missing", "k", def), def);
  EXPECT_EQ(hx_ini_get(ini, "s", "k", nullptr), std::string("v"));
}

TEST_F(Ini, MissingOrEmptyFilesGiveAnEmptyRecord) {
  for (const std::string& content : {std::string(), std::string("\xEF\xBB\xBF"), std::string("\0[s]\nk=v\n", 9)}) {
    HxIni ini = load(content);
    EXPECT_TRUE(ini.sections.empty());
  }
  HxIni ini;
  hx_ini_load(ini, dir / "does-not-exist.ini");
  EXPECT_TRUE(ini.sections.empty());
  EXPECT_EQ(ini.path, dir / "does-not-exist.ini");
}

TEST_F(Ini, LimitsOnSectionsKeysAndLengths) {
  std::string text;
  for (int s = 0; s < 33; ++s) text += "[s" + std::to_string(s) + "]\nk=v\n";
  text += "[s0]\n";
  for (int k = 0; k < 300; ++k) text += "k" + std::to_string(k) + "=" + std::to_string(k) + "\n";
  HxIni ini = load(text);
  ASSERT_EQ(ini.sections.size(), 32u);
  EXPECT_STREQ(hx_ini_get(ini, "s32", "k", "dropped"), "dropped");
  EXPECT_EQ(ini.sections[0].entries.size(), 256u);  // "k" plus k0..k254
  EXPECT_FALSE(hx_ini_set(ini, "new section", "k", "v"));
  EXPECT_FALSE(hx_ini_set(ini, "s0", "one more key", "v"));
  EXPECT_TRUE(hx_ini_set(ini, "s0", "k0", "replaced"));

  std::string long_value;
  for (int i = 0; i < 400; ++i) long_value += "中";
  EXPECT_TRUE(hx_ini_set(ini, "s1", std::string(200, 'n'), long_value));
  const HxIniEntry& e = ini.sections[1].entries.back();
  EXPECT_EQ(e.key.size(), 127u);
  EXPECT_EQ(e.value.size(), 1023u);  // 341 whole characters
  EXPECT_TRUE(is_valid_utf8(e.value));
}

TEST_F(Ini, SaveWritesUtf8CrLfAndReplacesAtomically) {
  HxIni ini = load("; header comment\n\n[设置]\nk=v\n");
  ASSERT_TRUE(hx_ini_set(ini, "设置", "new", "值"));
  ASSERT_TRUE(hx_ini_save(ini));
  EXPECT_EQ(hx_read_file(ini.path), "[设置]\r\nk=v\r\nnew=值\r\n");
}

TEST_F(Ini, FailedSaveIsLoggedAndKeepsTheOldFile) {
  hx_log_init(100);
  HxIni ini = load("[s]\nk=old\n");
  hx_ini_set(ini, "s", "k", "new");
  sys_files_inject_failures(1, 0);
  EXPECT_FALSE(hx_ini_save(ini));
  sys_files_inject_failures(0, 0);
  EXPECT_EQ(hx_read_file(ini.path), "[s]\nk=old\n");
  hx_log_entry e;
  ASSERT_TRUE(hx_log_at(0, &e));
  EXPECT_EQ(std::string(e.text), "配置保存失败：" + ini.path);
  EXPECT_EQ(e.level, HX_LOG_ERROR);
  hx_log_shutdown();
}

}  // namespace
