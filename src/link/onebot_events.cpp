// Message, notice and request events. Turning them into plugin records comes
// with event intake proper; until then they are counted (by the caller) and
// dropped here.
#include "link/onebot_internal.h"

void ob_handle_message(const std::string&, const cJSON*, bool, bool) {}

void ob_handle_event(const std::string&, const cJSON*) {}
