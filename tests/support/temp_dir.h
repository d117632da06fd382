// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, UTF-8, without a trailing separator.
  const std::string& path() const { return path_; }
  // path() joined with a relative name.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// Deadlines in tests are multiplied by this on emulated targets (qemu, wine).
inline constexpr int kTimeoutScale = HX_TEST_TIMEOUT_SCALE;
