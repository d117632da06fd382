// 32-bit x86: a 20-byte trampoline per entry in executable memory.
#include <cstdint>
#include <cstring>

#include "api/api.h"
#include "api/api_entries.h"
#include "sys/memory.h"

namespace {

constexpr int kTrampolineSize = 20;
unsigned char* g_stubMem = nullptr;

void put32(unsigned char* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// push i; call api_trace_enter; add esp, 4; mov eax, function; jmp eax
void write_trampoline(unsigned char* p, int i, void* function) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const auto enter = reinterpret_cast<std::uintptr_t>(&api_trace_enter);
  p[0] = 0x68;
  put32(p + 1, static_cast<std::uint32_t>(i));
  p[5] = 0xE8;
  put32(p + 6, static_cast<std::uint32_t>(enter - (at + 10)));
  p[10] = 0x83;
  p[11] = 0xC4;
  p[12] = 0x04;
  p[13] = 0xB8;
  put32(p + 14, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function)));
  p[18] = 0xFF;
  p[19] = 0xE0;
}

}  // namespace

bool api_entries_make(void* addresses[HX_API_COUNT]) {
  if (!g_stubMem) {
    g_stubMem = static_cast<unsigned char*>(sys_exec_alloc(kTrampolineSize * HX_API_COUNT));
    if (g_stubMem) {
      for (int i = 0; i < HX_API_COUNT; ++i) {
        write_trampoline(g_stubMem + kTrampolineSize * i, i, g_apiTable[i].function);
      }
      sys_flush_icache(g_stubMem, kTrampolineSize * HX_API_COUNT);
    }
  }
  for (int i = 0; i < HX_API_COUNT; ++i) {
    addresses[i] = g_stubMem ? static_cast<void*>(g_stubMem + kTrampolineSize * i) : g_apiTable[i].function;
  }
  return g_stubMem != nullptr;
}

int api_entry_index(const void* address) {
  if (!g_stubMem) return -1;
  const auto a = reinterpret_cast<std::uintptr_t>(address);
  const auto base = reinterpret_cast<std::uintptr_t>(g_stubMem);
  if (a < base || a >= base + kTrampolineSize * HX_API_COUNT) return -1;
  return static_cast<int>((a - base) / kTrampolineSize);
}
