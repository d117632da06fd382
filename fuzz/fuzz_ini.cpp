// The INI reader over arbitrary file bytes (UTF-8 with or without a mark,
// GBK, garbage); whatever it stored is read back and written out again.
#include <string_view>

#include "config/ini.h"
#include "fuzz.h"

HX_FUZZ_ENTRY(ini) {
  HxIni ini;
  hx_ini_parse(ini, std::string_view(reinterpret_cast<const char*>(data), size));
  for (const HxIniSection& section : ini.sections) {
    for (const HxIniEntry& e : section.entries) hx_ini_get(ini, section.name, e.key, "");
  }
  HxIni again;
  hx_ini_parse(again, hx_ini_serialise(ini));
  return 0;
}
