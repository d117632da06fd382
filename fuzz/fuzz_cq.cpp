// CQ code over arbitrary message bytes: splitting and reading codes never
// read outside the text, escaping always round-trips, and an escaped text
// is one text run that comes back whole.
#include <string>
#include <string_view>
#include <vector>

#include "foundation/cq.h"
#include "fuzz.h"

HX_FUZZ_ENTRY(cq) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const CqPiece& piece : cq_split(text)) {
    if (piece.isCode) {
      CqCode code = cq_read_code(piece.text, 8);
      if (code.type.size() > 31) __builtin_trap();
      cq_write(code.type, {{"k", piece.text}});
    }
  }
  const std::string escaped = cq_escape(text);
  if (cq_unescape(escaped) != text) __builtin_trap();
  const std::vector<CqPiece> back = cq_split(escaped);
  if (text.empty() ? !back.empty() : back.size() != 1 || back[0].isCode || back[0].text != text) __builtin_trap();
  return 0;
}
