// The host process: command line, single instance, start-up in its fixed
// order, the boot thread and the shutdown in its fixed order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "config/cfg.h"
#include "foundation/thread.h"
#include "tolvex_sdk.h"

inline constexpr int HX_EXIT_NO_WINDOW = 3;
inline constexpr int HX_UPDATED_WAIT_MS = 8000;
inline constexpr int HX_BOOT_WAIT_MS = 10000;
inline constexpr std::size_t HX_DIR_ARG_MAX = 511;

// The data-directory value from the command line ("--dir=X" or "--dir X"),
// else from `env` (HX_RUN_DIR): cut at the first space or tab and at 511
// characters, a leading double quote dropped with everything from the last
// one. nullopt when neither gives a non-empty value.
std::optional<std::string> hx_host_dir_value(std::string_view cmdline, const std::optional<std::string>& env);
// The process id after "--updated-pid" (spaces and "=" skipped), 0 if none.
int hx_host_updated_pid(std::string_view cmdline);
// "QQ1, QQ2, …" over the accounts with an id, stopping once longer than 231
// bytes; empty when there is none.
std::string hx_host_login_summary(const HxCfg& cfg);

// Installs the hooks that connect the subsystems (links to plugins and the
// window, the loader to the API). Idempotent; before any link or load starts.
void hx_host_wire();

// The whole process: returns the exit code.
int hx_host_main(int argc, char** argv);
