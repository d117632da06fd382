#include "foundation/cq.h"

#include <algorithm>

namespace {

constexpr std::string_view kOpen = "[CQ:";
constexpr std::size_t kTypeMax = 31;

struct Entity {
  std::string_view written;
  char ch;
};
constexpr Entity kEntities[] = {{"&amp;", '&'}, {"&#91;", '['}, {"&#93;", ']'}, {"&#44;", ','}, {"&#32;", ' '}};

}  // namespace

namespace {

std::string escape(std::string_view text, bool comma) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '[':
        out += "&#91;";
        break;
      case ']':
        out += "&#93;";
        break;
      case ',':
        if (comma) {
          out += "&#44;";
          break;
        }
        [[fallthrough]];
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string cq_escape(std::string_view text) { return escape(text, true); }

std::string cq_escape_text(std::string_view text) { return escape(text, false); }

std::string cq_unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool matched = false;
    if (text[i] == '&') {
      for (const Entity& e : kEntities) {
        if (text.compare(i, e.written.size(), e.written) == 0) {
          out += e.ch;
          i += e.written.size();
          matched = true;
          break;
        }
      }
    }
    if (!matched) out += text[i++];
  }
  return out;
}

std::vector<CqPiece> cq_split(std::string_view message) {
  std::vector<CqPiece> pieces;
  auto add_text = [&](std::string_view t) {
    if (!t.empty()) pieces.push_back({false, cq_unescape(t)});
  };
  std::size_t at = 0;
  while (at < message.size()) {
    const std::size_t open = message.find(kOpen, at);
    const std::size_t close = open == std::string_view::npos ? open : message.find(']', open + kOpen.size());
    if (close == std::string_view::npos) break;
    add_text(message.substr(at, open - at));
    pieces.push_back({true, std::string(message.substr(open + kOpen.size(), close - open - kOpen.size()))});
    at = close + 1;
  }
  add_text(message.substr(std::min(at, message.size())));
  return pieces;
}

const std::string* CqCode::get(std::string_view key) const {
  for (const auto& [k, v] : params) {
    if (k == key) return &v;
  }
  return nullptr;
}

CqCode cq_read_code(std::string_view inside, int max_pairs) {
  CqCode code;
  std::size_t comma = inside.find(',');
  code.type = std::string(inside.substr(0, std::min(comma, kTypeMax)));
  while (comma != std::string_view::npos) {
    const std::size_t start = comma + 1;
    comma = inside.find(',', start);
    const std::string_view pair = inside.substr(start, comma == std::string_view::npos ? comma : comma - start);
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    if (static_cast<int>(code.params.size()) >= max_pairs) {
      ++code.dropped;
      continue;
    }
    code.params.emplace_back(std::string(pair.substr(0, eq)), cq_unescape(pair.substr(eq + 1)));
  }
  return code;
}

std::string cq_write(std::string_view type, const std::vector<std::pair<std::string_view, std::string_view>>& params) {
  std::string out(kOpen);
  out += type;
  for (const auto& [key, value] : params) {
    out += ',';
    out += key;
    out += '=';
    out += cq_escape(value);
  }
  out += ']';
  return out;
}
