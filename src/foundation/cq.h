// CQ code: rich message segments written inline in message text, as
// "[CQ:type,key=value,...]". Values (and text runs of a message) escape four
// characters: "&" "&amp;", "[" "&#91;", "]" "&#93;", "," "&#44;".
//
// Pure functions over bytes: no encoding is assumed beyond ASCII delimiters,
// so GBK and UTF-8 messages both pass through unchanged.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Escapes the four characters; every other byte is copied.
std::string cq_escape(std::string_view text);
// The same for a text run between codes, where a comma means nothing and
// stays as it is.
std::string cq_escape_text(std::string_view text);
// Undoes the escapes, and turns "&#32;" into a space. One pass, left to
// right: cq_unescape(cq_escape(t)) == t for every t.
std::string cq_unescape(std::string_view text);

// One piece of a message: a text run (unescaped) or a code (its inside,
// between "[CQ:" and "]", still escaped).
struct CqPiece {
  bool isCode = false;
  std::string text;
};
// Walks a message into text runs and codes. A code runs from "[CQ:" to the
// first "]" (an escaped "&#93;" does not end it); a "[CQ:" without a "]"
// and everything after it are text. Empty text runs are left out.
std::vector<CqPiece> cq_split(std::string_view message);

// A code's inside read: the type (before the first ",", at most 31 bytes)
// and its key=value pairs, values unescaped; pairs without "=" are skipped.
// At most `max_pairs` pairs are kept; `dropped` counts the ones beyond.
struct CqCode {
  std::string type;
  std::vector<std::pair<std::string, std::string>> params;
  int dropped = 0;
  // The value of `key`, or null.
  const std::string* get(std::string_view key) const;
};
CqCode cq_read_code(std::string_view inside, int max_pairs = 32);

// "[CQ:type,key=value...]" with every value escaped.
std::string cq_write(std::string_view type, const std::vector<std::pair<std::string_view, std::string_view>>& params);
