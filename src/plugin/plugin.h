// The plugin host: loading, initialisation and dispatch of plugins.
//
// Loading is still to come: these entry points keep the host's start-up and
// shutdown sequence in its final shape.
#pragma once

// Loads and initialises the plugins and starts `lanes` dispatch lanes. Runs on
// the boot thread.
void hx_pl_init(int lanes);
// Stops the lanes, tells the plugins and unloads them. Main thread, at shutdown.
void hx_pl_shutdown();
