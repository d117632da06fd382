#include "plugin/plugin.h"

void hx_pl_init(int) {}

void hx_pl_shutdown() {}
