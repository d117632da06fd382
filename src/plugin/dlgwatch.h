// The watch over dialogs that plugins pop up.
#pragma once

// Stops the watch thread, if it runs.
void hx_dlgwatch_stop();
