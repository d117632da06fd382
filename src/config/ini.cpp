#include "config/ini.h"

#include "foundation/log.h"
#include "foundation/util.h"

namespace {

std::string cut(std::string_view s, int max) {
  return std::string(s.substr(0, hx_utf8_cut(s, static_cast<size_t>(max))));
}

HxIniSection* find_section(HxIni& ini, std::string_view name) {
  for (auto& s : ini.sections) {
    if (hx_icmp(s.name, name) == 0) return &s;
  }
  return nullptr;
}

HxIniEntry* find_entry(HxIniSection& sec, std::string_view key) {
  for (auto& e : sec.entries) {
    if (hx_icmp(e.key, key) == 0) return &e;
  }
  return nullptr;
}

// Finds or creates; null when a new one finds no room.
HxIniSection* section_for(HxIni& ini, std::string_view name) {
  std::string n = cut(name, HX_INI_NAME_MAX);
  if (HxIniSection* s = find_section(ini, n)) return s;
  if (static_cast<int>(ini.sections.size()) >= HX_INI_MAX_SECTIONS) return nullptr;
  ini.sections.push_back({std::move(n), {}});
  return &ini.sections.back();
}

bool put(HxIniSection& sec, std::string_view key, std::string_view value) {
  std::string k = cut(key, HX_INI_NAME_MAX);
  HxIniEntry* e = find_entry(sec, k);
  if (!e) {
    if (static_cast<int>(sec.entries.size()) >= HX_INI_MAX_KEYS) return false;
    sec.entries.push_back({std::move(k), {}});
    e = &sec.entries.back();
  }
  e->value = cut(value, HX_INI_VALUE_MAX);
  return true;
}

}  // namespace

void hx_ini_load(HxIni& ini, std::string_view path) {
  ini.path = path;
  ini.sections.clear();
  if (std::optional<std::string> raw = hx_read_file(path)) hx_ini_parse(ini, *raw);
}

void hx_ini_parse(HxIni& ini, std::string_view raw) {
  ini.sections.clear();
  std::optional<std::string> text = hx_auto_to_utf8(raw);
  if (!text) return;
  std::string_view rest = *text;
  rest = rest.substr(0, rest.find('\0'));  // the text ends at a NUL byte, as a C string would
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);

  HxIniSection* current = nullptr;
  while (!rest.empty()) {
    size_t nl = rest.find('\n');
    std::string_view raw_line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
    std::string_view line = hx_trim(raw_line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      if (close == std::string_view::npos) continue;  // no section opened; the current one stays
      // A section beyond the limit takes its keys with it.
      current = section_for(ini, hx_trim(line.substr(1, close - 1)));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || !current) continue;
    put(*current, hx_trim(line.substr(0, eq)), hx_trim(line.substr(eq + 1)));
  }
}

const char* hx_ini_get(const HxIni& ini, std::string_view section, std::string_view key, const char* def) {
  for (const auto& s : ini.sections) {
    if (hx_icmp(s.name, section) != 0) continue;
    for (const auto& e : s.entries) {
      if (hx_icmp(e.key, key) == 0) return e.value.c_str();
    }
    return def;
  }
  return def;
}

bool hx_ini_set(HxIni& ini, std::string_view section, std::string_view key, std::string_view value) {
  HxIniSection* s = section_for(ini, section);
  return s && put(*s, key, value);
}

std::string hx_ini_serialise(const HxIni& ini) {
  std::string out;
  for (const auto& s : ini.sections) {
    out += '[';
    out += s.name;
    out += "]\r\n";
    for (const auto& e : s.entries) {
      out += e.key;
      out += '=';
      out += e.value;
      out += "\r\n";
    }
  }
  return out;
}

bool hx_ini_save(const HxIni& ini) {
  if (hx_write_file(ini.path, hx_ini_serialise(ini))) return true;
  hx_logf(HX_LOG_ERROR, "框架", "错误(↓)", "配置保存失败：%s", hx_path_show(ini.path));
  return false;
}
