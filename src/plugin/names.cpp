// The plugin host's name caches: group names and nicknames by bot account and
// id, filled by the roster refresh and the query API, read by event intake.
#include <deque>
#include <mutex>

#include "foundation/util.h"
#include "plugin/plugin.h"

namespace {

constexpr std::size_t kEntries = 256;

struct Name {
  std::string account, id, name;
};

struct Cache {
  std::mutex mu;
  std::deque<Name> entries;  // guarded by mu; oldest first

  void put(std::string_view account, std::string_view id, std::string_view name) {
    if (account.empty() || id.empty()) return;
    std::string a(account.substr(0, hx_utf8_cut(account, 31)));
    std::string i(id.substr(0, hx_utf8_cut(id, 31)));
    std::string n(name.substr(0, hx_utf8_cut(name, 127)));
    std::lock_guard lock(mu);
    for (auto& e : entries) {
      if (e.account == a && e.id == i) {
        e.name = std::move(n);
        return;
      }
    }
    if (entries.size() >= kEntries) entries.pop_front();
    entries.push_back({std::move(a), std::move(i), std::move(n)});
  }

  std::string get(std::string_view account, std::string_view id) {
    if (id.empty()) return {};
    std::lock_guard lock(mu);
    for (const auto& e : entries) {
      if (e.account == account && e.id == id) return e.name;
    }
    return {};
  }
};

Cache g_groupNames, g_nickNames;

}  // namespace

void hx_pl_cache_group(std::string_view account, std::string_view id, std::string_view name) {
  g_groupNames.put(account, id, name);
}

void hx_pl_cache_nick(std::string_view account, std::string_view id, std::string_view name) {
  g_nickNames.put(account, id, name);
}

std::string hx_pl_group_name_cache(std::string_view account, std::string_view id) {
  return g_groupNames.get(account, id);
}

std::string hx_pl_nick_cache(std::string_view account, std::string_view id) { return g_nickNames.get(account, id); }
