// An account file's bytes into an account record, and the record back into
// the file's text.
#include <string_view>

#include "config/cfg.h"
#include "foundation/log.h"
#include "fuzz.h"

HX_FUZZ_ENTRY(account) {
  static const bool logging = (hx_log_init(64), true);
  (void)logging;
  std::optional<HxAccount> acc =
      hx_cfg_parse_account(std::string_view(reinterpret_cast<const char*>(data), size), "10001");
  if (acc) hx_bot_to_json_gbk(&*acc);
  return 0;
}
