// Milky event texts of any shape: the conversion never reads outside its
// input, and whatever it makes is a OneBot event intake can parse.
#include <cjson/cJSON.h>

#include <string>
#include <string_view>

#include "foundation/json.h"
#include "fuzz.h"
#include "milky/milky.h"

HX_FUZZ_ENTRY(milky_event) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> onebot = hx_milky_event_to_onebot(text);
  if (!onebot || onebot->empty()) return 0;
  HxJson root(cJSON_Parse(onebot->c_str()));
  if (!cJSON_IsString(cJSON_GetObjectItemCaseSensitive(root.get(), "post_type"))) __builtin_trap();
  return 0;
}
