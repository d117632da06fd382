// Per-account counters: messages received and sent, friends and groups.
// g_statCs guards the table; a full table drops the counts of new accounts.
#include <mutex>

#include "foundation/util.h"
#include "link/onebot_internal.h"

namespace {

constexpr int kStats = 32;

struct Stat {
  bool used;
  char qq[32];
  long long received, sent, friends, groups;
};
Stat g_stat[kStats];  // guarded by g_statCs
std::mutex g_statCs;

Stat* stat_slot(std::string_view qq, bool create) {
  for (auto& s : g_stat) {
    if (s.used && ob_qq(qq) == s.qq) return &s;
  }
  if (!create) return nullptr;
  for (auto& s : g_stat) {
    if (!s.used) {
      s = Stat{true, {}, 0, 0, -1, -1};
      ob_copy_qq(s.qq, qq);
      return &s;
    }
  }
  return nullptr;
}

}  // namespace

void hx_ob_stat_bump(std::string_view qq, long long received, long long sent) {
  if (received == 0 && sent == 0) return;
  std::lock_guard lock(g_statCs);
  if (Stat* s = stat_slot(qq, true)) {
    s->received += received;
    s->sent += sent;
  }
}

void hx_ob_stat_set_roster(std::string_view qq, long long friends, long long groups) {
  std::lock_guard lock(g_statCs);
  Stat* s = stat_slot(qq, true);
  if (!s) return;
  if (friends >= 0) s->friends = friends;
  if (groups >= 0) s->groups = groups;
}

long long hx_ob_stat_get(std::string_view qq, int kind) {
  std::lock_guard lock(g_statCs);
  Stat* s = stat_slot(qq, false);
  if (!s) return kind == 0 || kind == 1 ? 0 : -1;
  switch (kind) {
    case 0:
      return s->received;
    case 1:
      return s->sent;
    case 2:
      return s->friends;
    default:
      return s->groups;
  }
}
