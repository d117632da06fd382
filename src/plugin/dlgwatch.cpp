#include "plugin/dlgwatch.h"

void hx_dlgwatch_stop() {}
