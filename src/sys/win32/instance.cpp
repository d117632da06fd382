#include <windows.h>

#include "sys/instance.h"
#include "wide.h"

std::uint16_t sys_global_atom(std::string_view name) {
  std::wstring w = sys_widen(name);
  if (w.empty() || w.size() > 255) return 0;  // atoms hold at most 255 characters
  return GlobalAddAtomW(w.c_str());
}
