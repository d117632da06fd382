// The client's check of a handshake response head.
#include <string_view>

#include "fuzz.h"
#include "link/ws_proto.h"

HX_FUZZ_ENTRY(ws_response) {
  ws_response_ok(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
