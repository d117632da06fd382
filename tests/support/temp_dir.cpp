#include "support/temp_dir.h"

#include <atomic>
#include <filesystem>
#include <random>

#include "foundation/util.h"

namespace fs = std::filesystem;

namespace {
fs::path from_utf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }
std::string to_utf8(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}
}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path p = base / ("hxtest-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = to_utf8(p);
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(from_utf8(path_), ec);
}

std::string TempDir::operator/(const std::string& name) const { return hx_path_join(path_, name); }
