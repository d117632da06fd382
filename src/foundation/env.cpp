#include "foundation/env.h"

#include "foundation/util.h"
#include "sys/process.h"

namespace {

HxEnv read_env() {
  HxEnv e;
  auto flag_1 = [](const char* name) {
    std::optional<std::string> v = sys_getenv(name);
    return v && !v->empty() && (*v)[0] == '1';
  };
  e.runDir = sys_getenv("HX_RUN_DIR");
  if (std::optional<std::string> v = sys_getenv("HX_WS_RETRY_SEC")) e.wsRetrySec = hx_to_int(*v, 0);
  e.msgcacheProbe = sys_getenv("HX_MSGCACHE_PROBE").has_value();
  if (std::optional<std::string> v = sys_getenv("HX_LANE_HASH")) e.laneHash = !v->empty() && (*v)[0] != '0';
  e.initLegacyInfo = sys_getenv("HX_INIT_LEGACYINFO").has_value();
  e.pluginKey = sys_getenv("HX_PLUGIN_KEY");
  if (std::optional<std::string> v = sys_getenv("HX_JSONCB")) {
    e.jsonCallbacks = hx_to_int(*v, 0) == 1 || hx_icmp(hx_trim(*v), "on") == 0;
  }
  e.apidataStr = flag_1("HX_APIDATA_STR");
  e.apidataWrap = flag_1("HX_APIDATA_WRAP");
  e.espProbe = sys_getenv("HX_ESP_PROBE").has_value();
  return e;
}

HxEnv& record() {
  static HxEnv env = read_env();
  return env;
}

}  // namespace

const HxEnv& hx_env() { return record(); }

void hx_env_reload() { record() = read_env(); }
