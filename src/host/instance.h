// Names that tie processes of one instance (or one data directory) together.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// 32-bit FNV-1a over the bytes of `s`.
std::uint32_t hx_fnv1a(std::string_view s);
// "HXFrame_Single_%08X_%u" over the instance key (hash, length in bytes).
std::string hx_single_instance_name();
// "HXFrame_DataDir_%08X_%u" over the data directory.
std::string hx_data_dir_lock_name();
