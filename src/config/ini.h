// INI files: read into a bounded in-memory record and written back atomically.
//
// Files may be UTF-8 (with or without a byte-order mark) or GBK; the record
// holds UTF-8 and saving always writes UTF-8 without a mark, with CR LF line
// ends. Section and key names compare ignoring ASCII case. The record has no
// lock: one thread at a time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr int HX_INI_MAX_SECTIONS = 32;
inline constexpr int HX_INI_MAX_KEYS = 256;    // per section
inline constexpr int HX_INI_NAME_MAX = 127;    // bytes of a section or key name
inline constexpr int HX_INI_VALUE_MAX = 1023;  // bytes of a value

struct HxIniEntry {
  std::string key;
  std::string value;
};

struct HxIniSection {
  std::string name;
  std::vector<HxIniEntry> entries;
};

struct HxIni {
  std::string path;  // where the record was loaded from and is saved to
  std::vector<HxIniSection> sections;
};

// Clears the record, remembers the path and parses the file if it can be
// read. Always succeeds: a missing, unreadable or empty file gives an empty
// record; lines that cannot be stored are dropped.
void hx_ini_load(HxIni& ini, std::string_view path);
// Replaces the record's sections with those of a file's bytes (UTF-8 with or
// without a mark, or GBK); the path stays. Lines that cannot be stored are
// dropped.
void hx_ini_parse(HxIni& ini, std::string_view raw);
// The stored value, or `def` itself when the section or key is absent. The
// text lives in the record until the entry is set again or the record reloaded.
const char* hx_ini_get(const HxIni& ini, std::string_view section, std::string_view key, const char* def);
// Stores a value, adding the section and key at the end of their lists when
// new. False when a new section or key finds no room.
bool hx_ini_set(HxIni& ini, std::string_view section, std::string_view key, std::string_view value);
// Writes "[section]" and "key=value" lines to the record's path. False on
// failure, which is also logged ("配置保存失败：<path>").
bool hx_ini_save(const HxIni& ini);
// The text hx_ini_save writes.
std::string hx_ini_serialise(const HxIni& ini);
