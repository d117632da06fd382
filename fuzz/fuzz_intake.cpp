// Event intake without sockets: a backend's text through the checks, the
// parse, the classification and the records handed on, with every filter
// and log switch on. The records' texts are read whole by the hooks.
#include <cstring>
#include <string_view>

#include "config/cfg.h"
#include "foundation/log.h"
#include "fuzz.h"
#include "link/onebot.h"
#include "link/onebot_hooks.h"

namespace {

void read_texts(std::initializer_list<const char*> texts) {
  for (const char* t : texts) {
    if (t) (void)std::strlen(t);
  }
}
void on_group(const HxGroupMsg* r) { read_texts({r->group_name, r->card, r->raw_message, r->message, r->nickname}); }
void on_private(const HxPrivateMsg* r) { read_texts({r->message, r->nickname, r->raw_message, r->empty}); }
void on_event(const HxEventMsg* r) { read_texts({r->group_name, r->text_a, r->text_b, r->content, r->flag}); }

bool setup() {
  hx_log_init(256);
  for (int level : {HX_LOG_GROUP, HX_LOG_PRIVATE, HX_LOG_EVENT, HX_LOG_API}) hx_log_set_switch(level, 1);
  for (int HxCfg::*f : {&HxCfg::recvGroup, &HxCfg::recvPrivate, &HxCfg::recvEvent, &HxCfg::recvSelf, &HxCfg::msgCache,
                        &HxCfg::logGroup, &HxCfg::logPrivate, &HxCfg::logEvent}) {
    hx_cfg_set(f, 1);
  }
  static HxObHooks hooks;
  hooks.group = on_group;
  hooks.private_msg = on_private;
  hooks.event = on_event;
  hx_ob_set_hooks(&hooks);
  return true;
}

}  // namespace

HX_FUZZ_ENTRY(intake) {
  static const bool ready = setup();
  (void)ready;
  hx_ob_feed_event(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
