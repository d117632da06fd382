#include "support/backend.h"

#include <cjson/cJSON.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "foundation/json.h"
#include "foundation/util.h"
#include "support/host_process.h"
#include "support/temp_dir.h"
#include "sys/net.h"

namespace {

int controller_port() {
  std::optional<std::string> text = hx_read_file(HX_BACKEND_PORT_FILE);
  return text ? hx_to_int(hx_split(hx_trim(*text), " ", 2)[0], 0) : 0;
}

bool controller_alive() {
  int port = controller_port();
  if (port <= 0) return false;
  SysSocket s = sys_tcp_connect("127.0.0.1", static_cast<std::uint16_t>(port));
  return s.valid();
}

// On Linux (natively or under qemu) a test can start the controller itself;
// under wine it must already run (ctest's fixture starts it).
bool ensure_controller(std::string* why) {
  static std::mutex mu;
  std::lock_guard lock(mu);
  if (controller_alive()) return true;
  if (HX_SEP == '\\') {
    if (why) *why = "the backend controller is not running (ctest starts it; see tools/onebot_backend/README.md)";
    return false;
  }
  if (!hx_file_exists("/usr/bin/python3")) {
    if (why) *why = "/usr/bin/python3 is missing";
    return false;
  }
  ChildProcess start("/bin/sh",
                     {std::string(HX_SOURCE_DIR) + "/tools/onebot_backend/fixture.sh", "start", HX_BACKEND_PORT_FILE});
  int code = -1;
  start.wait_exit(&code, 20000);
  if (!controller_alive()) {
    if (why) *why = "could not start the backend controller: " + start.output();
    return false;
  }
  return true;
}

// One request to the controller; null on failure.
HxJson request(cJSON* req) {
  HxJsonText text(cJSON_PrintUnformatted(req));
  cJSON_Delete(req);
  SysSocket s = sys_tcp_connect("127.0.0.1", static_cast<std::uint16_t>(controller_port()));
  if (!s.valid()) return nullptr;
  std::string line = std::string(text.get()) + "\n";
  if (sys_tcp_send(s, line.data(), line.size()) != static_cast<long>(line.size())) return nullptr;
  sys_tcp_recv_timeout(s, 30000 * kTimeoutScale);
  std::string reply;
  char buf[65536];
  for (long n; reply.find('\n') == std::string::npos && (n = sys_tcp_recv(s, buf, sizeof buf)) > 0;) {
    reply.append(buf, static_cast<std::size_t>(n));
  }
  return HxJson(cJSON_Parse(reply.c_str()));
}

cJSON* command(const char* cmd, int id) {
  cJSON* req = cJSON_CreateObject();
  cJSON_AddStringToObject(req, "cmd", cmd);
  if (id) cJSON_AddNumberToObject(req, "id", id);
  return req;
}

}  // namespace

bool Backend::available(std::string* why) { return ensure_controller(why); }

Backend::Backend(const std::vector<std::string>& args, const std::string& script_json, Kind kind) {
  if (!ensure_controller(nullptr)) return;
  cJSON* req = command("start", 0);
  if (kind == Kind::milky) cJSON_AddStringToObject(req, "program", "milky");
  cJSON* list = cJSON_AddArrayToObject(req, "args");
  for (const auto& a : args) cJSON_AddItemToArray(list, cJSON_CreateString(a.c_str()));
  if (!script_json.empty()) cJSON_AddItemToObject(req, "script", cJSON_Parse(script_json.c_str()));
  HxJson resp = request(req);
  if (!resp) return;
  const cJSON* id = cJSON_GetObjectItemCaseSensitive(resp.get(), "id");
  const cJSON* port = cJSON_GetObjectItemCaseSensitive(resp.get(), "port");
  const cJSON* first = cJSON_GetObjectItemCaseSensitive(resp.get(), "first");
  id_ = cJSON_IsNumber(id) ? static_cast<int>(id->valuedouble) : 0;
  port_ = cJSON_IsNumber(port) ? static_cast<int>(port->valuedouble) : 0;
  first_ = cJSON_IsString(first) ? first->valuestring : "";
}

Backend::~Backend() { stop(); }

void Backend::stop() {
  if (id_ > 0) request(command("stop", id_));
  id_ = 0;
}

std::string Backend::output() {
  HxJson resp = request(command("output", id_));
  const cJSON* out = resp ? cJSON_GetObjectItemCaseSensitive(resp.get(), "output") : nullptr;
  return cJSON_IsString(out) ? out->valuestring : "";
}

std::vector<std::string> Backend::records() {
  std::vector<std::string> lines;
  HxJson resp = request(command("record", id_));
  const cJSON* list = resp ? cJSON_GetObjectItemCaseSensitive(resp.get(), "lines") : nullptr;
  const cJSON* item;
  cJSON_ArrayForEach(item, list) {
    if (cJSON_IsString(item)) lines.emplace_back(item->valuestring);
  }
  return lines;
}

bool Backend::wait_record(const std::string& text, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms * kTimeoutScale);
  do {
    for (const auto& l : records()) {
      if (l.find(text) != std::string::npos) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < until);
  return false;
}
