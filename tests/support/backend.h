// One scripted backend, started through the backend controller so that
// tests on every target can use it: OneBot (tools/onebot_backend) or Milky
// (tools/milky_backend).
#pragma once

#include <string>
#include <vector>

class Backend {
 public:
  // Whether backends can be had here; `why` tells what is missing.
  static bool available(std::string* why);

  enum class Kind { onebot, milky };
  // The backend's arguments (backend.py: mode first; backend.mjs: --token
  // T) and an optional JSON script.
  explicit Backend(const std::vector<std::string>& args, const std::string& script_json = "", Kind kind = Kind::onebot);
  ~Backend();
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  bool started() const { return id_ > 0; }
  int port() const { return port_; }
  // The first line it printed ("PORT n", "CONNECTED", "REFUSED 403").
  const std::string& first_line() const { return first_; }
  std::string output();
  // Every frame it received, as JSON lines.
  std::vector<std::string> records();
  // Waits until some record line contains `text`.
  bool wait_record(const std::string& text, int ms);
  // Kills it (idempotent).
  void stop();

 private:
  int id_ = 0;
  int port_ = 0;
  std::string first_;
};
