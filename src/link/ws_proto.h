// The byte-level half of the WebSocket transport (RFC 6455): handshake texts
// and their parsers, frame headers, masking, the accept key, and the frame
// reader with message reassembly. Pure functions and one state machine over
// bytes in memory: no sockets, so every parser here can be fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t WS_MAX_MESSAGE = 4194304;   // bytes, the reassembly buffer's NUL included
inline constexpr std::size_t WS_MAX_CONTROL = 125;       // payload of a control frame
inline constexpr std::size_t WS_CLIENT_HEAD_MAX = 8190;  // response head the client reads
inline constexpr std::size_t WS_SERVER_HEAD_MAX = 8191;  // request head the server reads
inline constexpr std::size_t WS_METHOD_MAX = 15;
inline constexpr std::size_t WS_TARGET_MAX = 511;
inline constexpr std::size_t WS_KEY_MAX = 255;
inline constexpr int WS_SEND_TIMEOUT_MS = 5000;
inline constexpr const char* WS_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

enum WsOpcode : std::uint8_t { WS_CONT = 0, WS_TEXT = 1, WS_BINARY = 2, WS_CLOSE = 8, WS_PING = 9, WS_PONG = 10 };

inline constexpr const char* WS_FORBIDDEN = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
// Sent to a connection beyond the server's sixteen live ones.
inline constexpr const char* WS_BUSY = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n";

// SHA-1 of `data` (FIPS 180-4), 20 bytes.
void sha1_block(std::string_view data, std::uint8_t digest[20]);
// Standard base64 with "=" padding.
std::string b64_encode(const void* data, std::size_t len);
// Sec-WebSocket-Accept for a Sec-WebSocket-Key: base64(SHA-1(key + GUID)).
std::string ws_accept_key(std::string_view key);

// The client's request head, byte for byte; the token (when not empty) goes
// into an Authorization header, never into the query.
std::string ws_client_request(std::string_view path, std::string_view host, int port, std::string_view key,
                              std::string_view token);
// The client accepts any response head containing " 101 ".
bool ws_response_ok(std::string_view head);

enum class WsRequestVerdict {
  upgrade,    // answer 101
  forbidden,  // answer 403 and close
  drop,       // close without a reply
};
struct WsRequest {
  std::string method, target, key;
};
// Parses a server-side request head and checks the access token (empty token:
// no check). The token is accepted as the whole value of an "access_token"
// query parameter or of an "Authorization: Bearer" header.
WsRequestVerdict ws_parse_request(std::string_view head, std::string_view token, WsRequest* out);
// The 101 response for a request key.
std::string ws_server_response(std::string_view key);

// Writes a frame header (FIN set, never fragmented) into `out` (14 bytes
// room) and returns its size: lengths up to 125 inline, up to 65,535 as 126 +
// 16 bits, larger as 127 + 64 bits, big-endian; with the mask bit and key when
// `mask` is given.
std::size_t ws_frame_header(std::uint8_t opcode, std::uint64_t len, const std::uint8_t* mask, std::uint8_t out[14]);
// XORs `len` bytes with the 4-byte key, starting at key offset 0.
void ws_mask(char* data, std::size_t len, const std::uint8_t key[4]);

// What the reader hands on. Message data is NUL-terminated (length excludes
// it) and valid only during the call.
class WsEvents {
 public:
  virtual ~WsEvents() = default;
  virtual void on_message(const char* data, std::size_t len) = 0;
  virtual void on_ping(const char* payload, std::size_t len) = 0;
  virtual void on_pong() {}
};

// Reads frames from a byte stream: callers write into space(), commit() what
// arrived and run process(). Text, binary and continuation frames are
// reassembled into messages of at most WS_MAX_MESSAGE - 1 bytes.
class WsReader {
 public:
  enum class Result { more, closed, violation };

  WsReader();
  // Room for at least `min` more bytes at the end of the input.
  char* space(std::size_t min, std::size_t* room);
  void commit(std::size_t n);
  // Handles every complete frame in the input. `closed` after a close frame,
  // `violation` for anything that must close the connection; `more` otherwise.
  Result process(WsEvents& events);

 private:
  std::vector<char> in_;
  std::size_t begin_ = 0, end_ = 0;
  std::string msg_;  // the message being reassembled
  std::uint8_t msgOp_ = 0;
};
