// Reading, atomic writing and directories.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/util.h"
#include "support/temp_dir.h"
#include "sys/files.h"

namespace {

class Files : public ::testing::Test {
 protected:
  void TearDown() override { sys_files_inject_failures(0, 0); }

  // Whether a write left a temporary next to its target.
  bool tmp_left(const std::string& target) {
    const std::string name = target.substr(target.find_last_of("/\\") + 1);
    for (const HxDirEntry& e : hx_list_dir(dir.path())) {
      if (e.name.rfind(name + ".", 0) == 0 && hx_ends_with_ci(e.name, ".hxtmp")) return true;
    }
    return false;
  }

  TempDir dir;
};

TEST_F(Files, WriteThenReadBackByteForByte) {
  std::string path = dir / "data.bin";
  std::string data("a\0b\r\n\xFF", 6);
  ASSERT_TRUE(hx_write_file(path, data));
  EXPECT_EQ(hx_read_file(path), data);
  ASSERT_TRUE(hx_write_file(path, "new"));
  EXPECT_EQ(hx_read_file(path), "new");
  EXPECT_FALSE(tmp_left(path));
}

TEST_F(Files, ZeroBytesMakeAnEmptyFile) {
  std::string path = dir / "empty.txt";
  ASSERT_TRUE(hx_write_file(path, ""));
  EXPECT_TRUE(hx_file_exists(path));
  EXPECT_EQ(hx_read_file(path), "");
}

TEST_F(Files, FailedWriteKeepsTheOldFileAndNoTemporary) {
  struct Case {
    const char* name;
    int writes, replaces;
  } cases[] = {{"write fails", 1, 0}, {"replace fails", 0, 1}};
  for (const auto& c : cases) {
    std::string path = dir / "keep.txt";
    ASSERT_TRUE(hx_write_file(path, "old content"));
    sys_files_inject_failures(c.writes, c.replaces);
    EXPECT_FALSE(hx_write_file(path, "new content")) << c.name;
    EXPECT_EQ(hx_read_file(path), "old content") << c.name;
    EXPECT_FALSE(tmp_left(path)) << c.name;
  }
}

TEST_F(Files, ConcurrentWritersOfOneFileEachReplaceItWhole) {
  const std::string path = dir / "shared.txt";
  const std::string a(20000, 'a'), b(30000, 'b');
  std::atomic<int> failed{0};
  auto writer = [&](const std::string& content) {
    for (int i = 0; i < 200; ++i) failed += hx_write_file(path, content) ? 0 : 1;
  };
  std::thread first(writer, a), second(writer, b);
  first.join();
  second.join();
  EXPECT_EQ(failed.load(), 0);
  const std::optional<std::string> now = hx_read_file(path);
  ASSERT_TRUE(now);
  EXPECT_TRUE(*now == a || *now == b) << "a mix of both writers: " << now->size() << " bytes";
  EXPECT_FALSE(tmp_left(path));
}

TEST_F(Files, WriteIntoAMissingDirectoryFails) {
  std::string path = dir / "missing" + HX_SEP + "x.txt";
  EXPECT_FALSE(hx_write_file(path, "x"));
  EXPECT_FALSE(hx_file_exists(path));
}

TEST_F(Files, ReadLimitIs32MiBInclusive) {
  std::string path = dir / "big.bin";
  std::string data(HX_READ_MAX, 'z');
  ASSERT_TRUE(hx_write_file(path, data));
  auto got = hx_read_file(path);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), HX_READ_MAX);
  data += 'z';
  ASSERT_TRUE(hx_write_file(path, data));
  EXPECT_FALSE(hx_read_file(path));
}

TEST_F(Files, ReadOfMissingFileOrDirectoryFails) {
  EXPECT_FALSE(hx_read_file(dir / "nothing-here"));
  EXPECT_FALSE(hx_read_file(dir.path()));
}

TEST_F(Files, DirCreateMakesParentsAndReportsTheLastStep) {
  std::string deep = dir / "a" + HX_SEP + "b" + HX_SEP + "c";
  EXPECT_TRUE(hx_dir_create(deep));
  EXPECT_TRUE(hx_dir_exists(deep));
  EXPECT_FALSE(hx_file_exists(deep));
  EXPECT_FALSE(hx_dir_create(deep));  // already there
  EXPECT_TRUE(hx_dir_create(dir / "t" + HX_SEP + "u" + HX_SEP));
  EXPECT_TRUE(hx_dir_exists(dir / "t" + HX_SEP + "u"));
}

TEST_F(Files, GbkAndUtf8NamesReachTheSameFile) {
  // 插件 in GBK and in UTF-8.
  std::string gbk_name = dir / "\xB2\xE5\xBC\xFE.txt";
  ASSERT_TRUE(hx_write_file(gbk_name, "gbk"));
  EXPECT_TRUE(hx_file_exists(dir / "插件.txt"));
  EXPECT_EQ(hx_read_file(dir / "插件.txt"), "gbk");
  EXPECT_TRUE(hx_dir_create(dir / "数据" + HX_SEP + "🙈"));  // no GBK form at all
  EXPECT_TRUE(hx_dir_exists(dir / "数据" + HX_SEP + "🙈"));
}

TEST_F(Files, ListingShowsFilesAndDirectories) {
  hx_write_file(dir / "f.txt", "1");
  hx_dir_create(dir / "sub");
  auto list = sys_list_dir(dir.path());
  ASSERT_EQ(list.size(), 2u);
  for (const auto& e : list) EXPECT_EQ(e.isDir, e.name == "sub") << e.name;
  EXPECT_TRUE(sys_list_dir(dir / "none").empty());
}

}  // namespace
