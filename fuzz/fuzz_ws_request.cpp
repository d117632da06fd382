// The server's handshake parser and token check over arbitrary request heads.
#include <string_view>

#include "fuzz.h"
#include "link/ws_proto.h"

HX_FUZZ_ENTRY(ws_request) {
  if (size == 0) return 0;
  std::string_view token = data[0] & 1 ? "s3cret" : "";
  std::string_view head(reinterpret_cast<const char*>(data + 1), size - 1);
  WsRequest req;
  if (ws_parse_request(head, token, &req) == WsRequestVerdict::upgrade) {
    if (req.key.empty() || req.key.size() > WS_KEY_MAX || req.target.size() > WS_TARGET_MAX) __builtin_trap();
    ws_server_response(req.key);
  }
  return 0;
}
