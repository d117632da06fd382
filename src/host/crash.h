// The crash report written when the host fails.
#pragma once

// Installs the crash filter for the whole process. Main thread, first thing.
void hx_crash_install();
