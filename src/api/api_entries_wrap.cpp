// Other targets: a generated wrapper function per entry that records the
// index and then calls the entry.
#include <cstdint>

#include "api/api.h"
#include "api/api_entries.h"

namespace {

template <int I, auto F>
struct Wrap;
template <int I, class R, class... A, R (*F)(A...)>
struct Wrap<I, F> {
  static R call(A... a) {
    api_trace_enter(I);
    return F(a...);
  }
};
#define HX_WRAPPER(i, name, fn, bytes) reinterpret_cast<void*>(&Wrap<i, &fn>::call),
void* const kWrappers[HX_API_COUNT] = {HX_API_LIST(HX_WRAPPER)};
#undef HX_WRAPPER

}  // namespace

bool api_entries_make(void* addresses[HX_API_COUNT]) {
  for (int i = 0; i < HX_API_COUNT; ++i) addresses[i] = kWrappers[i];
  return true;
}

int api_entry_index(const void* address) {
  // Wrappers are small functions: an address at or just after a wrapper's
  // start (its return address into it included) belongs to it.
  constexpr std::uintptr_t kWrapperReach = 64;
  const auto a = reinterpret_cast<std::uintptr_t>(address);
  int best = -1;
  std::uintptr_t best_start = 0;
  for (int i = 0; i < HX_API_COUNT; ++i) {
    const auto start = reinterpret_cast<std::uintptr_t>(kWrappers[i]);
    if (start <= a && a - start < kWrapperReach && start >= best_start) {
      best = i;
      best_start = start;
    }
  }
  return best;
}
