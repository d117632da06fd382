// An in-process stand-in plugin that records what dispatch hands it: every
// group, private and event record (with its texts) and every login
// notification. It is added through the loader like any plugin (a resident
// one, with no library) and starts one lane when none runs, so records arrive
// in order.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "plugin/plugin.h"

struct HxDispatched {
  int kind;  // 0 group, 1 private, 2 event
  HxGroupMsg group;
  HxPrivateMsg priv;
  HxEventMsg event;
  std::vector<std::string> texts;  // the record's texts in field order
};

class PluginCapture {
 public:
  explicit PluginCapture(const char* name = "capture");
  ~PluginCapture();
  PluginCapture(const PluginCapture&) = delete;
  PluginCapture& operator=(const PluginCapture&) = delete;

  // What arrived so far, once everything queued has been handled.
  static std::vector<HxDispatched> events();
  // "+qq" for an enabled notification, "-qq" for a disabled one.
  static std::vector<std::string> notifications();
  // Records received (not notifications), without waiting.
  static std::uint64_t total();
  static void clear();

  // The stand-in's record in the plugin table (null when the table was full).
  HxPlugin* record() { return plugin_; }

 private:
  HxPlugin* plugin_ = nullptr;
  bool startedLanes_ = false;
};
