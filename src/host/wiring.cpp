// Connects the subsystems the way the running host uses them. Lower layers
// know nothing of higher ones: each exposes hooks, and this is the one place
// that fills them in.
#include "api/api.h"
#include "host/host.h"
#include "link/onebot_hooks.h"
#include "milky/milky.h"
#include "plugin/plugin.h"
#include "ui/ui.h"

namespace {

const HxObHooks kLinkHooks = [] {
  HxObHooks h;
  h.login = hx_pl_notify_login;
  h.accounts_changed = hx_ui_refresh_accounts;
  h.group = hx_pl_dispatch_group;
  h.private_msg = hx_pl_dispatch_private;
  h.event = hx_pl_dispatch_event;
  h.cache_group = hx_pl_cache_group;
  h.cache_nick = hx_pl_cache_nick;
  h.group_name = hx_pl_group_name_cache;
  h.caller = hx_pl_current_name;
  h.ws_path = hx_milky_ws_path;
  h.call = hx_milky_call_hook;
  h.event_in = hx_milky_event_in;
  h.opened = hx_milky_link_opened;
  h.stopped = hx_milky_links_stopped;
  return h;
}();

}  // namespace

void hx_host_wire() {
  hx_ob_set_hooks(&kLinkHooks);
  hx_pl_set_api_source(api_forms);
}
