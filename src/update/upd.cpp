#include "update/upd.h"

bool hx_upd_bootstrap() { return false; }
