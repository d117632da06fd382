// Entry points of the fuzz targets. Built as a libFuzzer target each file
// defines LLVMFuzzerTestOneInput; built into the normal tests (to replay the
// stored corpus on every platform) it defines fuzz_<name> instead.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef HX_FUZZ_REPLAY
#define HX_FUZZ_ENTRY(name) int fuzz_##name(const std::uint8_t* data, std::size_t size)
#else
#define HX_FUZZ_ENTRY(name) extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
#endif
