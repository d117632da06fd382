/* A no-op plugin for the dispatch benchmark: it counts the group messages it
 * is given and, when the benchmark asks for it, notes the monotonic time at
 * which each message id arrived. */
#include <stdint.h>
#include <time.h>

#include "tolvex_sdk.h"

#ifdef _WIN32
#define BENCH_EXPORT
#define BENCH_AS(name)
#else
#define BENCH_EXPORT __attribute__((visibility("default")))
#define BENCH_AS(name) __asm__(name)
#endif

static volatile long g_count;
static int64_t* g_times; /* indexed by message id modulo g_cap */
static int g_cap;

BENCH_EXPORT void bench_setup(int64_t* times, int cap) {
  g_times = times;
  g_cap = cap;
}
BENCH_EXPORT long bench_count(void) { return __sync_add_and_fetch(&g_count, 0); }

BENCH_EXPORT int32_t HX_STDCALL bench_group(const HxGroupMsg* m) BENCH_AS("_OnGroupNT");
BENCH_EXPORT int32_t HX_STDCALL bench_group(const HxGroupMsg* m) {
  __sync_add_and_fetch(&g_count, 1);
  if (g_times && g_cap > 0) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    g_times[(uint32_t)m->message_id % (uint32_t)g_cap] = (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
  }
  return 0;
}

BENCH_EXPORT void HX_STDCALL bench_init(HxInitInfo* info) BENCH_AS(HX_EXPORT_INIT);
BENCH_EXPORT void HX_STDCALL bench_init(HxInitInfo* info) { (void)info; }
