// GBK <-> UTF-8 and the GBK-safe conversion on ~1 MiB of mixed chat text,
// ours against glibc iconv in the same run. Prints MB/s per case and the
// ratio ours/iconv.
//
//   build/linux/bench/codec_bench
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "foundation/util.h"

namespace {

// Chat-like lines: names, numbers, ASCII words and common Chinese characters
// (GB2312 level 1, rows B0..D7), about two thirds of the bytes Chinese.
std::string make_chat_utf8(size_t bytes, bool with_emoji) {
  std::mt19937 rng(12345);
  const char* words[] = {"hello", "ok", "666", "QQ", "bot", "https://example.com", "@all", "233"};
  std::string gbk;
  while (gbk.size() < bytes * 2 / 3) {
    gbk += "[10" + std::to_string(rng() % 100000) + "] ";
    int n = 8 + static_cast<int>(rng() % 30);
    for (int i = 0; i < n; ++i) {
      if (rng() % 5 == 0) {
        gbk += words[rng() % 8];
        gbk += ' ';
      } else {
        gbk += static_cast<char>(0xB0 + rng() % 40);
        gbk += static_cast<char>(0xA1 + rng() % 94);
      }
    }
    gbk += "\n";
  }
  std::string utf8 = *hx_gbk_to_utf8(gbk);
  if (with_emoji) {
    std::string out;
    size_t line = 0;
    for (char c : utf8) {
      if (c == '\n' && ++line % 4 == 0) out += "\xF0\x9F\x99\x88";
      out += c;
    }
    utf8 = out;
  }
  return utf8;
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() { iconv_close(cd_); }
  // Converts the whole text; false at the first character it refuses.
  bool convert(const std::string& in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char* dst = out.data();
    size_t room = out.size();
    bool ok = iconv(cd_, &src, &left, &dst, &room) != static_cast<size_t>(-1);
    out.resize(out.size() - room);
    return ok;
  }

 private:
  iconv_t cd_;
};

// The GBK-safe conversion done with iconv: one whole-text test, then (only
// when it fails) character by character.
std::string iconv_gbk_safe(Iconv& to_gbk, const std::string& in) {
  std::string tmp;
  if (to_gbk.convert(in, tmp)) return in;
  std::string out;
  for (size_t i = 0; i < in.size();) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    std::string ch = in.substr(i, len);
    if (len == 1 || to_gbk.convert(ch, tmp)) {
      out += ch;
    } else {
      out += "[emoji]";
    }
    i += len;
  }
  return out;
}

const std::string& chat_utf8() {
  static const std::string s = make_chat_utf8(1 << 20, false);
  return s;
}
const std::string& chat_gbk() {
  static const std::string s = *hx_utf8_to_gbk(chat_utf8());
  return s;
}
const std::string& chat_emoji() {
  static const std::string s = make_chat_utf8(1 << 20, true);
  return s;
}

void run(benchmark::State& state, const std::string& input, auto&& fn) {
  for (auto _ : state) benchmark::DoNotOptimize(fn(input));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_GbkToUtf8_ours(benchmark::State& s) {
  run(s, chat_gbk(), [](auto& in) { return hx_gbk_to_utf8(in); });
}
void BM_GbkToUtf8_iconv(benchmark::State& s) {
  Iconv cd("UTF-8", "CP936");
  std::string out;
  run(s, chat_gbk(), [&](auto& in) { return cd.convert(in, out); });
}
void BM_Utf8ToGbk_ours(benchmark::State& s) {
  run(s, chat_utf8(), [](auto& in) { return hx_utf8_to_gbk(in); });
}
void BM_Utf8ToGbk_iconv(benchmark::State& s) {
  Iconv cd("CP936", "UTF-8");
  std::string out;
  run(s, chat_utf8(), [&](auto& in) { return cd.convert(in, out); });
}
void BM_GbkSafe_ours(benchmark::State& s) {
  run(s, chat_utf8(), [](auto& in) { return hx_gbk_safe_utf8(in); });
}
void BM_GbkSafe_iconv(benchmark::State& s) {
  Iconv cd("CP936", "UTF-8");
  run(s, chat_utf8(), [&](auto& in) { return iconv_gbk_safe(cd, in); });
}
void BM_GbkSafeEmoji_ours(benchmark::State& s) {
  run(s, chat_emoji(), [](auto& in) { return hx_gbk_safe_utf8(in); });
}
void BM_GbkSafeEmoji_iconv(benchmark::State& s) {
  Iconv cd("CP936", "UTF-8");
  run(s, chat_emoji(), [&](auto& in) { return iconv_gbk_safe(cd, in); });
}

BENCHMARK(BM_GbkToUtf8_ours);
BENCHMARK(BM_GbkToUtf8_iconv);
BENCHMARK(BM_Utf8ToGbk_ours);
BENCHMARK(BM_Utf8ToGbk_iconv);
BENCHMARK(BM_GbkSafe_ours);
BENCHMARK(BM_GbkSafe_iconv);
BENCHMARK(BM_GbkSafeEmoji_ours);
BENCHMARK(BM_GbkSafeEmoji_iconv);

// Keeps each run's throughput so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      auto it = r.counters.find("bytes_per_second");
      if (it != r.counters.end()) mbps_[r.benchmark_name()] = it->second.value / 1e6;
    }
  }
  void print_ratios() const {
    std::printf("\n%-14s %12s %12s %8s\n", "conversion", "ours MB/s", "iconv MB/s", "ratio");
    for (const char* name : {"GbkToUtf8", "Utf8ToGbk", "GbkSafe", "GbkSafeEmoji"}) {
      auto ours = mbps_.find(std::string("BM_") + name + "_ours");
      auto theirs = mbps_.find(std::string("BM_") + name + "_iconv");
      if (ours == mbps_.end() || theirs == mbps_.end()) continue;
      std::printf("%-14s %12.1f %12.1f %7.1fx\n", name, ours->second, theirs->second, ours->second / theirs->second);
    }
  }

 private:
  std::map<std::string, double> mbps_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("input: %zu bytes UTF-8, %zu bytes GBK, %zu bytes UTF-8 with emoji\n", chat_utf8().size(),
              chat_gbk().size(), chat_emoji().size());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}
