// The adapter's two small process-wide tables: message sequences and the
// throttle of repetitive error lines.
#include <array>
#include <mutex>

#include "foundation/util.h"
#include "milky/milky.h"
#include "sys/process.h"

namespace {

constexpr int kSeqEntries = 512;
constexpr int kThrottleSlots = 24;
constexpr std::size_t kKeyMax = 47;

struct SeqEntry {
  std::int64_t messageId = 0, bot = 0, peer = 0, seq = 0;
  char scene[8] = {};
};

std::mutex g_seqCs;
std::array<SeqEntry, kSeqEntries> g_seqTab;  // guarded by g_seqCs
int g_seqHead = 0;

struct Slot {
  std::string key;
  long count = 0;
  std::int64_t last = 0;  // Unix seconds of the last line written; 0: none yet
};
std::mutex g_logThCs;
std::array<Slot, kThrottleSlots> g_logTh;  // guarded by g_logThCs

}  // namespace

void milky_seq_put(std::string_view scene, std::int64_t message_id, std::int64_t bot, std::int64_t peer,
                   std::int64_t seq) {
  std::lock_guard lock(g_seqCs);
  SeqEntry& e = g_seqTab[static_cast<std::size_t>(g_seqHead)];
  e = SeqEntry{message_id, bot, peer, seq, {}};
  hx_copy_field(e.scene, sizeof e.scene, scene);
  g_seqHead = (g_seqHead + 1) % kSeqEntries;
}

std::optional<MilkySeq> milky_seq_get(std::int64_t message_id, std::int64_t bot) {
  if (message_id <= 0) return std::nullopt;
  std::lock_guard lock(g_seqCs);
  // Newest first: after the ring wrapped, an id may stand for an older
  // message too, and the latest one is meant.
  for (int k = 1; k <= kSeqEntries; ++k) {
    const SeqEntry& e = g_seqTab[static_cast<std::size_t>((g_seqHead - k + kSeqEntries) % kSeqEntries)];
    if (e.messageId != message_id) continue;
    if (bot > 0 && e.bot != 0 && e.bot != bot) continue;
    return MilkySeq{e.scene, e.peer, e.seq};
  }
  return std::nullopt;
}

void milky_seq_clear() {
  std::lock_guard lock(g_seqCs);
  g_seqTab.fill(SeqEntry{});
  g_seqHead = 0;
}

int logth_sec() {
  static const int seconds = [] {
    const long long v = hx_to_i64(sys_getenv("HX_LOGTH_SEC").value_or(""), 0);
    return v >= 1 && v <= 3600 ? static_cast<int>(v) : 60;
  }();
  return seconds;
}

MilkyThrottle logth_take(std::string_view key_in) {
  const std::string key(key_in.substr(0, hx_utf8_cut(key_in, kKeyMax)));
  const std::int64_t now = hx_now();
  std::lock_guard lock(g_logThCs);
  Slot* slot = nullptr;
  for (Slot& s : g_logTh) {
    if (s.key == key && (s.count > 0 || s.last > 0)) {
      slot = &s;
      break;
    }
  }
  if (!slot) {  // the slot whose last line is oldest (an unused one first)
    slot = &g_logTh[0];
    for (Slot& s : g_logTh) {
      if (s.last < slot->last) slot = &s;
    }
    *slot = Slot{key, 0, 0};
  }
  ++slot->count;
  if (slot->last > 0 && now - slot->last < logth_sec()) return {false, slot->count};
  slot->last = now;
  return {true, slot->count};
}
