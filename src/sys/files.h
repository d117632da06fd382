// Files and directories. Every path is UTF-8; the Windows implementation
// converts to UTF-16 inside and uses the wide functions. Re-entrant.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The platform's path separator; the build names its character code.
inline constexpr char SYS_PATH_SEP = static_cast<char>(SYS_PATH_SEP_CODE);

enum class SysReadStatus { ok, cannot_open, too_large, failed };

// Reads a whole file. A file larger than `max_bytes` is refused unread.
SysReadStatus sys_read_file(std::string_view path, std::size_t max_bytes, std::string& out);

// Creates or truncates `path`, writes all of `data`, flushes it to the disk and
// closes it. False on any failure (the partial file is left for the caller).
bool sys_write_new_file(std::string_view path, std::string_view data);

// Moves `from` onto `to`, replacing `to`, and makes the move durable.
bool sys_replace_file(std::string_view from, std::string_view to);

bool sys_remove_file(std::string_view path);
// Moves a file to a name that does not exist yet (same volume; a loaded
// library's file may be moved). `code` receives the platform's error code.
bool sys_move_file(std::string_view from, std::string_view to, unsigned long* code);
// Removes an empty directory.
bool sys_remove_dir(std::string_view path);
bool sys_file_exists(std::string_view path);  // exists and is not a directory
bool sys_dir_exists(std::string_view path);
// Creates one directory; false when it exists already or cannot be made.
bool sys_make_dir(std::string_view path);

struct SysDirEntry {
  std::string name;  // UTF-8, without the directory
  bool isDir = false;
};
// The entries of a directory in file-system order, "." and ".." left out.
// Empty when the directory cannot be read.
std::vector<SysDirEntry> sys_list_dir(std::string_view path);

enum class SysCopyStatus { ok, busy, failed };
// Copies a file over `to` (overwriting; a read-only target is made writable
// first). `busy`: the target is in use (mapped, shared, or access denied).
// `code` receives the platform's error code on failure.
SysCopyStatus sys_copy_file(std::string_view from, std::string_view to, unsigned long* code);

// The running program's full file name; empty when it cannot be had.
std::string sys_exe_path();
// The current working directory; empty when it cannot be read.
std::string sys_cwd();
// `path` made absolute against the working directory, "." and ".." resolved
// as text (the path need not exist). Empty on failure.
std::string sys_full_path(std::string_view path);

// Test seam, in the manner of a full disk: the next `writes` calls of
// sys_write_new_file and the next `replaces` calls of sys_replace_file fail.
void sys_files_inject_failures(int writes, int replaces);
// Used by the implementations: consumes one injected failure if any is pending.
bool sys_files_take_write_failure();
bool sys_files_take_replace_failure();
