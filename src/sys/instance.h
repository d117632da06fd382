// Process-wide names shared between instances of the host.
#pragma once

#include <cstdint>
#include <string_view>

// A 16-bit value that every process on this machine gets for the same name:
// a global atom on Windows, a hash in the same range (0xC000..0xFFFF) elsewhere.
// 0 on failure.
std::uint16_t sys_global_atom(std::string_view name);
