#include "milky/milky.h"

void hx_milky_detect() {}

bool hx_milky_mode() { return false; }

const char* hx_milky_ws_path() { return hx_milky_mode() ? "/event" : "/"; }
