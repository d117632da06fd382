// The JSON a plugin's initialisation returns (GBK or UTF-8, or anything at
// all): metadata and callback addresses into the plugin's record.
#include <cstring>
#include <string_view>

#include "fuzz.h"
#include "plugin/plugin.h"

HX_FUZZ_ENTRY(init_json) {
  static HxPlugin p;
  p.name = "fuzz";
  hx_pl_read_init_json(p, std::string_view(reinterpret_cast<const char*>(data), size));
  // Every text the record now points to must be terminated within its buffer.
  for (const char* t : {p.info.author, p.info.version, p.info.describe}) {
    if (t) (void)std::strlen(t);
  }
  return 0;
}
