// No global atom table here: the same name gives the same value through a
// hash in the range Windows uses for string atoms.
#include "sys/instance.h"

std::uint16_t sys_global_atom(std::string_view name) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return static_cast<std::uint16_t>(0xC000 | (h & 0x3FFF));
}
