// Directories, paths and files of util.h.
#include <atomic>
#include <cstring>
#include <new>

#include "foundation/util.h"
#include "sys/files.h"
#include "sys/instance.h"
#include "sys/process.h"

const char HX_SEP = SYS_PATH_SEP;

namespace {

constexpr bool kWindowsPaths = SYS_PATH_SEP == '\\';
constexpr std::size_t kDirMax = 259;  // the longest normalised directory that gets its trailing separator
constexpr int kRingSlots = 6;
constexpr std::size_t kRingSlotSize = 780;

inline bool is_sep(char c) { return c == '/' || c == '\\'; }

std::string g_dataDir;  // written during start-up only

std::string dir_of(const std::string& file) {
  size_t cut = file.find_last_of(kWindowsPaths ? "\\/" : "/");
  if (file.empty() || cut == std::string::npos) return std::string(".") + HX_SEP;
  return file.substr(0, cut + 1);
}

// The mixed-path rule: separators are copied through and each component is
// kept when it is valid UTF-8 and converted from GBK otherwise.
std::string mixed_to_utf8(std::string_view path) {
  std::string out;
  out.reserve(path.size() + path.size() / 2);
  while (!path.empty()) {
    size_t end = 0;
    while (end < path.size() && !is_sep(path[end])) ++end;
    std::string_view part = path.substr(0, end);
    if (is_valid_utf8(part)) {
      out.append(part);
    } else if (auto u8 = hx_gbk_to_utf8(part)) {
      out.append(*u8);
    } else {
      out.append(part);
    }
    if (end < path.size()) out += path[end++];
    path.remove_prefix(end);
  }
  return out;
}

bool has_high_byte(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return true;
  }
  return false;
}

// Copies a result into the next slot of a per-thread ring.
struct PathRing {
  char slot[kRingSlots][kRingSlotSize];
  unsigned next = 0;

  const char* put(std::string_view s) {
    char* dst = slot[next++ % kRingSlots];
    hx_copy_field(dst, kRingSlotSize, s);
    return dst;
  }
};

thread_local PathRing t_ansiRing;
thread_local PathRing t_u8Ring;

std::string path_u8(std::string_view path) { return has_high_byte(path) ? mixed_to_utf8(path) : std::string(path); }

}  // namespace

const std::string& hx_exe_dir() {
  static const std::string dir = dir_of(sys_exe_path());
  return dir;
}

const std::string& hx_exe_dir_utf8() { return hx_exe_dir(); }

std::string hx_norm_dir(std::string_view path) {
  std::string s(path);
  if (kWindowsPaths) {
    for (char& c : s) {
      if (c == '/') c = '\\';
    }
  }
  const char sep = HX_SEP;
  bool had_text = !s.empty();
  while (!s.empty() && s.back() == sep) s.pop_back();
  if (kWindowsPaths && s.size() == 2 && s[1] == ':') {
    s += sep;  // a drive keeps (or gets) its root separator
  } else if (s.empty() && had_text) {
    s += sep;  // the root itself
  }
  if (kWindowsPaths) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
  }
  if (!s.empty() && s.back() != sep && s.size() + 1 <= kDirMax) s += sep;
  return s;
}

void hx_set_data_dir(std::string_view path) {
  if (path.empty()) {
    g_dataDir.clear();
    return;
  }
  std::string u8 = path_u8(path);
  std::string full = sys_full_path(u8);
  g_dataDir = hx_norm_dir(full.empty() ? u8 : full);
}

const std::string& hx_data_dir() { return g_dataDir.empty() ? hx_exe_dir() : g_dataDir; }

const std::string& hx_inst_key() {
  static const std::string key = [] {
    if (!g_dataDir.empty()) return hx_norm_dir(g_dataDir);
    std::string cwd = sys_cwd();
    return hx_norm_dir(cwd.empty() ? hx_exe_dir() : cwd);
  }();
  return key;
}

std::uint16_t hx_inst_atom() {
  static const std::uint16_t atom = sys_global_atom(hx_inst_key());
  return atom;
}

std::string hx_path_join(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && !is_sep(out.back())) out += HX_SEP;
  out.append(name);
  return out;
}

const char* hx_path_ansi(std::string_view path) {
  if (!has_high_byte(path)) return t_ansiRing.put(path);
  std::string u8 = mixed_to_utf8(path);
  if (!kWindowsPaths) return t_ansiRing.put(u8);
  std::optional<std::string> gbk = hx_utf8_to_gbk(u8);
  return t_ansiRing.put(gbk ? std::string_view(*gbk) : path);
}

const char* hx_path_u8(std::string_view path) {
  if (!has_high_byte(path)) return t_u8Ring.put(path);
  return t_u8Ring.put(mixed_to_utf8(path));
}

// ---- Files ----

bool hx_dir_create(std::string_view path) {
  std::string p = path_u8(path);
  // A trailing separator would make the last creation fail on a directory
  // that the loop below has just made.
  while (p.size() > 1 && is_sep(p.back())) p.pop_back();
  if (p.empty()) return false;
  for (size_t i = 1; i < p.size(); ++i) {
    if (is_sep(p[i]) && !is_sep(p[i - 1])) sys_make_dir(p.substr(0, i));
  }
  return sys_make_dir(p);
}

bool hx_file_exists(std::string_view path) { return sys_file_exists(path_u8(path)); }

bool hx_dir_exists(std::string_view path) { return sys_dir_exists(path_u8(path)); }

bool hx_remove_file(std::string_view path) { return sys_remove_file(path_u8(path)); }

std::vector<HxDirEntry> hx_list_dir(std::string_view path) {
  std::vector<HxDirEntry> out;
  for (auto& e : sys_list_dir(path_u8(path))) out.push_back({std::move(e.name), e.isDir});
  return out;
}

std::optional<std::string> hx_read_file(std::string_view path) {
  try {
    std::string data;
    if (sys_read_file(path_u8(path), HX_READ_MAX, data) != SysReadStatus::ok) return std::nullopt;
    return data;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

bool hx_write_file(std::string_view path, std::string_view data) {
  std::string target = path_u8(path);
  // A temporary of its own per write: two writers of one file never share
  // one, and the rename that publishes each stays atomic.
  static std::atomic<unsigned> seq{0};
  std::string tmp;
  sb_printf(tmp, "%s.%d-%u.hxtmp", target.c_str(), sys_pid(), seq.fetch_add(1) + 1);
  if (!sys_write_new_file(tmp, data) || !sys_replace_file(tmp, target)) {
    sys_remove_file(tmp);
    return false;
  }
  return true;
}

namespace {
std::string lock_name(const char* prefix, std::string_view key) {
  std::string name;
  sb_printf(name, "%s_%08X_%u", prefix, static_cast<unsigned>(hx_fnv1a(key)), static_cast<unsigned>(key.size()));
  return name;
}
}  // namespace

std::string hx_single_instance_name() { return lock_name("HXFrame_Single", hx_inst_key()); }

std::string hx_data_dir_lock_name() { return lock_name("HXFrame_DataDir", hx_data_dir()); }
