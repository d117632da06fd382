// Files on Windows through the wide-character functions, so that any file
// name works whatever the ANSI code page of the machine.
#include <windows.h>

#include <algorithm>
#include <string>

#include "sys/files.h"
#include "wide.h"

namespace {

// A file handle that closes itself.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  bool close() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h != INVALID_HANDLE_VALUE && CloseHandle(h);
  }

 private:
  HANDLE h_;
};

DWORD attributes(std::string_view path) { return GetFileAttributesW(sys_widen(path).c_str()); }

}  // namespace

SysReadStatus sys_read_file(std::string_view path, std::size_t max_bytes, std::string& out) {
  Handle f(CreateFileW(sys_widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.valid()) return SysReadStatus::cannot_open;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(f.get(), &size)) return SysReadStatus::failed;
  if (static_cast<unsigned long long>(size.QuadPart) > max_bytes) return SysReadStatus::too_large;
  out.resize(static_cast<size_t>(size.QuadPart));
  size_t got = 0;
  while (got < out.size()) {
    DWORD n = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - got, 1u << 30));
    if (!ReadFile(f.get(), out.data() + got, want, &n, nullptr) || n == 0) break;
    got += n;
  }
  out.resize(got);
  return SysReadStatus::ok;
}

bool sys_write_new_file(std::string_view path, std::string_view data) {
  Handle f(
      CreateFileW(sys_widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.valid()) return false;
  if (sys_files_take_write_failure()) return false;
  size_t put = 0;
  while (put < data.size()) {
    DWORD n = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - put, 1u << 30));
    if (!WriteFile(f.get(), data.data() + put, want, &n, nullptr) || n == 0) return false;
    put += n;
  }
  if (!FlushFileBuffers(f.get())) return false;
  return f.close();
}

bool sys_replace_file(std::string_view from, std::string_view to) {
  if (sys_files_take_replace_failure()) return false;
  const std::wstring source = sys_widen(from), target = sys_widen(to);
  // Another writer's move onto the same file, or a reader that has it open
  // for a moment, refuses the move: it is tried again for a short while.
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt >= 40) return false;
    Sleep(5);
  }
}

bool sys_remove_file(std::string_view path) { return DeleteFileW(sys_widen(path).c_str()) != 0; }

bool sys_move_file(std::string_view from, std::string_view to, unsigned long* code) {
  if (MoveFileExW(sys_widen(from).c_str(), sys_widen(to).c_str(), 0)) return true;
  if (code) *code = GetLastError();
  return false;
}

bool sys_remove_dir(std::string_view path) { return RemoveDirectoryW(sys_widen(path).c_str()) != 0; }

bool sys_file_exists(std::string_view path) {
  DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool sys_dir_exists(std::string_view path) {
  DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool sys_make_dir(std::string_view path) { return CreateDirectoryW(sys_widen(path).c_str(), nullptr) != 0; }

std::vector<SysDirEntry> sys_list_dir(std::string_view path) {
  std::vector<SysDirEntry> list;
  std::wstring pattern = sys_widen(path);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return list;
  do {
    std::wstring_view name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    list.push_back({sys_narrow(name), (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return list;
}

std::string sys_exe_path() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return sys_narrow(buf);
    }
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string sys_cwd() {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  n = GetCurrentDirectoryW(n, buf.data());
  if (n == 0 || n >= buf.size()) return {};
  buf.resize(n);
  return sys_narrow(buf);
}

std::string sys_full_path(std::string_view path) {
  std::wstring in = sys_widen(path);
  DWORD n = GetFullPathNameW(in.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  n = GetFullPathNameW(in.c_str(), n, buf.data(), nullptr);
  if (n == 0 || n >= buf.size()) return {};
  buf.resize(n);
  return sys_narrow(buf);
}

SysCopyStatus sys_copy_file(std::string_view from, std::string_view to, unsigned long* code) {
  std::wstring target = sys_widen(to);
  DWORD a = GetFileAttributesW(target.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(target.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
  }
  if (CopyFileW(sys_widen(from).c_str(), target.c_str(), FALSE)) return SysCopyStatus::ok;
  DWORD err = GetLastError();
  if (code) *code = err;
  return err == ERROR_SHARING_VIOLATION || err == ERROR_USER_MAPPED_FILE || err == ERROR_ACCESS_DENIED
             ? SysCopyStatus::busy
             : SysCopyStatus::failed;
}
