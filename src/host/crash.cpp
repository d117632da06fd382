#include "host/crash.h"

// The crash report comes with fault isolation; until then faults end the
// process the platform's usual way.
void hx_crash_install() {}
