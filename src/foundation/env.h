// The host's environment variables (all named HX_...), read once, on first
// use, into one record. Any thread may read it; nothing writes it after the
// first read except hx_env_reload.
#pragma once

#include <optional>
#include <string>

struct HxEnv {
  // HX_RUN_DIR: the data directory when the command line gives no --dir.
  std::optional<std::string> runDir;
  // HX_WS_RETRY_SEC: the reconnect interval in seconds; 0 when unset or not
  // a number (the link layer takes 1..3600 and otherwise keeps its 30).
  int wsRetrySec = 0;
  // HX_MSGCACHE_PROBE: set (to anything) logs what the message cache stores.
  bool msgcacheProbe = false;
  // HX_LANE_HASH: non-empty and not starting with "0" routes tasks by
  // account (hashing) instead of round robin.
  bool laneHash = false;
  // HX_INIT_LEGACYINFO: set hands two-argument plugins the info block
  // instead of the apidata JSON.
  bool initLegacyInfo = false;
  // HX_PLUGIN_KEY: the key two-argument plugins get; unset: the plugin's name.
  std::optional<std::string> pluginKey;
  // HX_JSONCB: "1" or "on" (or unset) takes callbacks from a plugin's JSON
  // initialisation result; anything else ignores them.
  bool jsonCallbacks = true;
  // HX_APIDATA_STR, HX_APIDATA_WRAP: "1..." writes the apidata addresses as
  // decimal strings, or wraps the object under "data".
  bool apidataStr = false;
  bool apidataWrap = false;
  // HX_ESP_PROBE: set logs the stack pointer around API calls.
  bool espProbe = false;
};

// The record, read on the first call.
const HxEnv& hx_env();
// Reads the variables again. For tests that change one at run time, while no
// other thread reads the record.
void hx_env_reload();
