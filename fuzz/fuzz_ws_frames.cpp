// The WebSocket frame reader over arbitrary bytes, delivered in pieces whose
// size the first input byte chooses.
#include <cstring>
#include <string_view>

#include "fuzz.h"
#include "link/ws_proto.h"

namespace {
struct Sink : WsEvents {
  std::size_t bytes = 0;
  void on_message(const char* data, std::size_t len) override {
    if (data[len] != '\0') __builtin_trap();  // messages must arrive terminated
    bytes += len;
  }
  void on_ping(const char*, std::size_t len) override {
    if (len > WS_MAX_CONTROL) __builtin_trap();
  }
};
}  // namespace

HX_FUZZ_ENTRY(ws_frames) {
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 64 * 37;
  WsReader reader;
  Sink sink;
  for (std::size_t at = 1; at < size;) {
    std::size_t n = size - at < chunk ? size - at : chunk;
    std::size_t room;
    char* p = reader.space(n, &room);
    std::memcpy(p, data + at, n);
    reader.commit(n);
    at += n;
    if (reader.process(sink) != WsReader::Result::more) break;
  }
  return 0;
}
