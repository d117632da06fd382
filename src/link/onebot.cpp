#include "link/onebot.h"

void hx_ob_init() {}

int hx_ob_auto_login_all(std::string& result) {
  result.clear();
  return 0;
}

void hx_ob_tick() {}

void hx_ob_stop() {}

bool hx_ob_ws_stuck() { return false; }
