// OneBot actions of any shape as Milky requests: the first line names the
// action, the rest is its parameter text. A built request is an object, and
// every message it carries holds at least one segment; the same bytes read
// as CQ text make a message too.
#include <cjson/cJSON.h>

#include <string>
#include <string_view>

#include "foundation/json.h"
#include "fuzz.h"
#include "milky/milky.h"

HX_FUZZ_ENTRY(milky_action) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t nl = in.find('\n');
  const std::string action(in.substr(0, nl));
  const std::string params(nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1));
  HxJson p(cJSON_ParseWithLength(params.data(), params.size()));
  MilkyRequest req;
  if (milky_build(action, p.get(), 10001, req)) {
    if (!cJSON_IsObject(req.params.get()) || req.endpoint.empty()) __builtin_trap();
    const cJSON* message = cJSON_GetObjectItemCaseSensitive(req.params.get(), "message");
    if (message && cJSON_GetArraySize(message) < 1) __builtin_trap();
    HxJsonText text(cJSON_PrintUnformatted(req.params.get()));
    if (!text) __builtin_trap();
  }
  HxJson cq(cJSON_CreateString(std::string(in).c_str()));
  HxJson segs(onebot_message_to_milky(cq.get()));
  if (cJSON_GetArraySize(segs.get()) < 1) __builtin_trap();
  return 0;
}
