#include "host/instance.h"

#include "foundation/util.h"

namespace {
std::string lock_name(const char* prefix, std::string_view key) {
  std::string name;
  sb_printf(name, "%s_%08X_%u", prefix, static_cast<unsigned>(hx_fnv1a(key)), static_cast<unsigned>(key.size()));
  return name;
}
}  // namespace

std::uint32_t hx_fnv1a(std::string_view s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

std::string hx_single_instance_name() { return lock_name("HXFrame_Single", hx_inst_key()); }

std::string hx_data_dir_lock_name() { return lock_name("HXFrame_DataDir", hx_data_dir()); }
