// The updater.
#pragma once

// Applies a pending, verified update by starting the new version; true when it
// was started and this process must end at once. Also starts the update check.
bool hx_upd_bootstrap();
