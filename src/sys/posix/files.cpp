// Files on POSIX systems. Paths are UTF-8 file names as they stand.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "sys/files.h"

namespace {

// An open descriptor that closes itself.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) == 0;
  }

 private:
  int fd_;
};

int open_retry(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool stat_path(std::string_view path, struct stat& st) { return ::stat(std::string(path).c_str(), &st) == 0; }

std::string parent_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

SysReadStatus sys_read_file(std::string_view path, std::size_t max_bytes, std::string& out) {
  Fd fd(open_retry(std::string(path), O_RDONLY));
  if (fd.get() < 0) return SysReadStatus::cannot_open;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return SysReadStatus::failed;
  if (static_cast<unsigned long long>(st.st_size) > max_bytes) return SysReadStatus::too_large;
  out.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < out.size()) {
    ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank while we read it
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return SysReadStatus::ok;
}

bool sys_write_new_file(std::string_view path, std::string_view data) {
  Fd fd(open_retry(std::string(path), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (fd.get() < 0) return false;
  if (sys_files_take_write_failure()) return false;
  size_t put = 0;
  while (put < data.size()) {
    ssize_t n = ::write(fd.get(), data.data() + put, data.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    put += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) return false;
  return fd.close();
}

bool sys_replace_file(std::string_view from, std::string_view to) {
  if (sys_files_take_replace_failure()) return false;
  std::string target(to);
  if (::rename(std::string(from).c_str(), target.c_str()) != 0) return false;
  // The rename itself lives in the directory: sync it so the new name survives a crash.
  Fd dir(open_retry(parent_of(target), O_RDONLY | O_DIRECTORY));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

bool sys_remove_file(std::string_view path) { return ::unlink(std::string(path).c_str()) == 0; }

bool sys_move_file(std::string_view from, std::string_view to, unsigned long* code) {
  const std::string target(to);
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0) {  // rename() would replace it
    if (code) *code = EEXIST;
    return false;
  }
  if (::rename(std::string(from).c_str(), target.c_str()) == 0) return true;
  if (code) *code = static_cast<unsigned long>(errno);
  return false;
}

bool sys_remove_dir(std::string_view path) { return ::rmdir(std::string(path).c_str()) == 0; }

bool sys_file_exists(std::string_view path) {
  struct stat st;
  return stat_path(path, st) && !S_ISDIR(st.st_mode);
}

bool sys_dir_exists(std::string_view path) {
  struct stat st;
  return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool sys_make_dir(std::string_view path) { return ::mkdir(std::string(path).c_str(), 0755) == 0; }

std::vector<SysDirEntry> sys_list_dir(std::string_view path) {
  std::vector<SysDirEntry> list;
  std::string dir(path);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return list;
  while (dirent* e = ::readdir(d)) {
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    SysDirEntry entry{e->d_name, e->d_type == DT_DIR};
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) entry.isDir = sys_dir_exists(dir + "/" + e->d_name);
    list.push_back(std::move(entry));
  }
  ::closedir(d);
  return list;
}

std::string sys_exe_path() {
  std::string buf(PATH_MAX, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return {};
  buf.resize(static_cast<size_t>(n));
  return buf;
}

std::string sys_cwd() {
  std::string buf(PATH_MAX, '\0');
  if (!::getcwd(buf.data(), buf.size())) return {};
  buf.resize(std::strlen(buf.c_str()));
  return buf;
}

std::string sys_full_path(std::string_view path) {
  std::string whole;
  if (!path.empty() && path[0] == '/') {
    whole = path;
  } else {
    whole = sys_cwd();
    if (whole.empty()) return {};
    whole += '/';
    whole += path;
  }
  // Resolve "." and ".." by text, as a full-path function does on Windows.
  std::vector<std::string_view> parts;
  std::string_view rest = whole;
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (auto part : parts) {
    out += '/';
    out += part;
  }
  if (out.empty() || (whole.size() > 1 && whole.back() == '/')) out += '/';
  return out;
}

SysCopyStatus sys_copy_file(std::string_view from, std::string_view to, unsigned long* code) {
  std::string data;
  if (sys_read_file(from, static_cast<std::size_t>(1) << 31, data) != SysReadStatus::ok) {
    if (code) *code = static_cast<unsigned long>(errno);
    return SysCopyStatus::failed;
  }
  std::string target(to);
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) ::chmod(target.c_str(), st.st_mode | S_IWUSR);
  // Written beside and renamed over, so that a process that has the old file
  // mapped keeps its pages.
  std::string tmp = target + ".hxcopy";
  if (!sys_write_new_file(tmp, data) || ::rename(tmp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    if (code) *code = static_cast<unsigned long>(err);
    return err == ETXTBSY || err == EACCES || err == EBUSY ? SysCopyStatus::busy : SysCopyStatus::failed;
  }
  return SysCopyStatus::ok;
}
