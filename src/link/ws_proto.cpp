#include "link/ws_proto.h"

#include <cstring>

#include "foundation/util.h"

namespace {

inline std::uint32_t rol(std::uint32_t v, int n) { return v << n | v >> (32 - n); }

void sha1_chunk(std::uint32_t h[5], const std::uint8_t* p) {
  std::uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = std::uint32_t(p[4 * i]) << 24 | p[4 * i + 1] << 16 | p[4 * i + 2] << 8 | p[4 * i + 3];
  for (int i = 16; i < 80; ++i) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    std::uint32_t t = rol(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rol(b, 30);
    b = a;
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

// The end of a line starting at `at`, CR LF or LF.
std::string_view line_at(std::string_view head, std::size_t at) {
  std::string_view rest = head.substr(at);
  return rest.substr(0, rest.find('\n'));
}

// Whether `text` holds `prefix + token` ending where the value ends (at one
// of `ends` or the end of the text).
bool has_value(std::string_view text, std::string_view prefix, std::string_view token, std::string_view ends) {
  std::string needle = std::string(prefix) + std::string(token);
  for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) {
    std::size_t after = at + needle.size();
    if (after == text.size() || ends.find(text[after]) != std::string_view::npos) return true;
  }
  return false;
}

bool query_has_token(std::string_view target, std::string_view token) {
  std::size_t q = target.find('?');
  if (q == std::string_view::npos) return false;
  std::string_view query = target.substr(q);  // keeps the '?' so that every parameter follows '?' or '&'
  return has_value(query, "?access_token=", token, "&#") || has_value(query, "&access_token=", token, "&#");
}

}  // namespace

void sha1_block(std::string_view data, std::uint8_t digest[20]) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
  std::size_t n = data.size();
  std::size_t full = n / 64 * 64;
  for (std::size_t i = 0; i < full; i += 64) sha1_chunk(h, p + i);
  std::uint8_t tail[128] = {};
  std::size_t rest = n - full;
  std::memcpy(tail, p + full, rest);
  tail[rest] = 0x80;
  std::size_t tail_len = rest + 1 + 8 <= 64 ? 64 : 128;
  std::uint64_t bits = static_cast<std::uint64_t>(n) * 8;
  for (int i = 0; i < 8; ++i) tail[tail_len - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
  for (std::size_t i = 0; i < tail_len; i += 64) sha1_chunk(h, tail + i);
  for (int i = 0; i < 5; ++i) {
    digest[4 * i] = static_cast<std::uint8_t>(h[i] >> 24);
    digest[4 * i + 1] = static_cast<std::uint8_t>(h[i] >> 16);
    digest[4 * i + 2] = static_cast<std::uint8_t>(h[i] >> 8);
    digest[4 * i + 3] = static_cast<std::uint8_t>(h[i]);
  }
}

std::string b64_encode(const void* data, std::size_t len) {
  return hx_base64_encode(std::string_view(static_cast<const char*>(data), len)).value_or("");
}

std::string ws_accept_key(std::string_view key) {
  std::uint8_t digest[20];
  sha1_block(std::string(key) + WS_GUID, digest);
  return b64_encode(digest, sizeof digest);
}

std::string ws_client_request(std::string_view path, std::string_view host, int port, std::string_view key,
                              std::string_view token) {
  std::string out;
  out.reserve(256);
  out += "GET ";
  out += path;
  out += " HTTP/1.1\r\nHost: ";
  out += host;
  out += ":" + std::to_string(port);
  out += "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: ";
  out += key;
  out += "\r\nSec-WebSocket-Version: 13\r\n";
  if (!token.empty()) {
    out += "Authorization: Bearer ";
    out += token;
    out += "\r\n";
  }
  out += "\r\n";
  return out;
}

bool ws_response_ok(std::string_view head) { return head.find(" 101 ") != std::string_view::npos; }

WsRequestVerdict ws_parse_request(std::string_view head, std::string_view token, WsRequest* out) {
  WsRequest req;
  // Request line: method and target, separated by white space.
  std::string_view line = line_at(head, 0);
  std::size_t m0 = line.find_first_not_of(" \t");
  if (m0 == std::string_view::npos) return WsRequestVerdict::drop;
  std::size_t m1 = line.find_first_of(" \t\r", m0);
  std::string_view method = line.substr(m0, m1 == std::string_view::npos ? std::string_view::npos : m1 - m0);
  if (method.size() > WS_METHOD_MAX || hx_icmp(method, "GET") != 0) return WsRequestVerdict::drop;
  req.method = method;
  if (m1 != std::string_view::npos) {
    std::size_t t0 = line.find_first_not_of(" \t", m1);
    if (t0 != std::string_view::npos) {
      std::size_t t1 = line.find_first_of(" \t\r", t0);
      std::string_view target = line.substr(t0, t1 == std::string_view::npos ? std::string_view::npos : t1 - t0);
      req.target = target.substr(0, WS_TARGET_MAX);
    }
  }
  // Sec-WebSocket-Key at the start of a line.
  constexpr std::string_view kKey = "Sec-WebSocket-Key:";
  bool have_key = false;
  for (std::size_t at = 0; at < head.size();) {
    std::size_t nl = head.find('\n', at);
    std::size_t next = nl == std::string_view::npos ? head.size() : nl + 1;
    std::string_view l = head.substr(at, next - at);
    if (at > 0 && l.size() >= kKey.size() && hx_icmp(l.substr(0, kKey.size()), kKey) == 0) {
      std::string_view v = l.substr(kKey.size());
      while (!v.empty() && v[0] == ' ') v.remove_prefix(1);
      v = v.substr(0, v.find("\r\n"));
      if (!v.empty() && v.back() == '\n') v.remove_suffix(1);
      req.key = v.substr(0, WS_KEY_MAX);
      have_key = !req.key.empty();
      break;
    }
    at = next;
  }
  if (!have_key) return WsRequestVerdict::drop;
  if (out) *out = req;
  if (token.empty()) return WsRequestVerdict::upgrade;
  if (query_has_token(req.target, token) || has_value(head, "\nAuthorization: Bearer ", token, "\r\n")) {
    return WsRequestVerdict::upgrade;
  }
  return WsRequestVerdict::forbidden;
}

std::string ws_server_response(std::string_view key) {
  return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: " +
         ws_accept_key(key) + "\r\n\r\n";
}

std::size_t ws_frame_header(std::uint8_t opcode, std::uint64_t len, const std::uint8_t* mask, std::uint8_t out[14]) {
  std::size_t n = 0;
  out[n++] = static_cast<std::uint8_t>(0x80 | (opcode & 0x0F));
  const std::uint8_t mask_bit = mask ? 0x80 : 0;
  if (len <= 125) {
    out[n++] = static_cast<std::uint8_t>(mask_bit | len);
  } else if (len <= 0xFFFF) {
    out[n++] = mask_bit | 126;
    out[n++] = static_cast<std::uint8_t>(len >> 8);
    out[n++] = static_cast<std::uint8_t>(len);
  } else {
    out[n++] = mask_bit | 127;
    for (int i = 7; i >= 0; --i) out[n++] = static_cast<std::uint8_t>(len >> (8 * i));
  }
  if (mask) {
    std::memcpy(out + n, mask, 4);
    n += 4;
  }
  return n;
}

void ws_mask(char* data, std::size_t len, const std::uint8_t key[4]) {
  std::uint32_t k32;
  std::memcpy(&k32, key, 4);
  const std::uint64_t k64 = static_cast<std::uint64_t>(k32) << 32 | k32;
  std::size_t i = 0;
  for (; i + 8 <= len; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, data + i, 8);
    w ^= k64;
    std::memcpy(data + i, &w, 8);
  }
  for (; i < len; ++i) data[i] = static_cast<char>(data[i] ^ key[i & 3]);
}

WsReader::WsReader() : in_(16384 + 1) {}

char* WsReader::space(std::size_t min, std::size_t* room) {
  if (begin_ == end_) begin_ = end_ = 0;
  // One byte past the data always stays free: process() terminates a message
  // in place there.
  if (in_.size() - end_ < min + 1) {
    if (begin_ > 0) {
      std::memmove(in_.data(), in_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (in_.size() - end_ < min + 1) in_.resize(end_ + min + 1);
  }
  *room = in_.size() - end_ - 1;
  return in_.data() + end_;
}

void WsReader::commit(std::size_t n) { end_ += n; }

WsReader::Result WsReader::process(WsEvents& events) {
  for (;;) {
    const std::size_t avail = end_ - begin_;
    if (avail < 2) return Result::more;
    auto* p = reinterpret_cast<std::uint8_t*>(in_.data() + begin_);
    const bool fin = p[0] & 0x80;
    const std::uint8_t op = p[0] & 0x0F;
    const bool masked = p[1] & 0x80;
    const std::uint8_t len7 = p[1] & 0x7F;
    std::size_t hdr = 2 + (len7 == 126 ? 2 : len7 == 127 ? 8 : 0) + (masked ? 4 : 0);
    if (avail < hdr) return Result::more;
    std::uint64_t len = len7;
    if (len7 == 126) {
      len = std::uint64_t(p[2]) << 8 | p[3];
    } else if (len7 == 127) {
      len = 0;
      for (int i = 0; i < 8; ++i) len = len << 8 | p[2 + i];
      // Checked before any arithmetic with it: a length near 2^64 must not wrap.
      if (len > WS_MAX_MESSAGE) return Result::violation;
    }
    // Control frames must not be fragmented and carry at most 125 bytes.
    if ((op & 0x08) && (!fin || len > WS_MAX_CONTROL)) return Result::violation;
    const std::size_t total = hdr + static_cast<std::size_t>(len);
    if (avail < total) {
      std::size_t room;
      space(total - avail, &room);  // make room for the whole frame
      return Result::more;
    }
    p = reinterpret_cast<std::uint8_t*>(in_.data() + begin_);
    char* payload = in_.data() + begin_ + hdr;
    if (masked) ws_mask(payload, static_cast<std::size_t>(len), p + hdr - 4);
    begin_ += total;
    const std::size_t n = static_cast<std::size_t>(len);

    if (op <= WS_BINARY) {
      if (op != WS_CONT) {
        msg_.clear();  // a new message discards a partial one
        msgOp_ = op;
      }
      if (msg_.size() + n + 1 > WS_MAX_MESSAGE) return Result::violation;
      if (fin && msg_.empty()) {
        if (n == 0) continue;  // a message without a byte is not delivered
        // The common case, one whole frame: deliver it in place, terminated
        // by the spare byte after it.
        char saved = payload[n];
        payload[n] = '\0';
        events.on_message(payload, n);
        payload[n] = saved;
        continue;
      }
      msg_.append(payload, n);
      if (fin) {
        if (!msg_.empty()) events.on_message(msg_.c_str(), msg_.size());
        msg_.clear();
        if (msg_.capacity() > 65536) msg_.shrink_to_fit();
      }
    } else if (op == WS_CLOSE) {
      return Result::closed;
    } else if (op == WS_PING) {
      events.on_ping(payload, n);
    } else if (op == WS_PONG) {
      events.on_pong();
    }
    // Opcodes 3..7 are dropped; 11..15 are ignored.
  }
}
