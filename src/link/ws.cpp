#include "link/ws.h"

#include "sys/net.h"

bool hx_ws_global_init() { return sys_net_init(); }

void hx_ws_global_free() {}
