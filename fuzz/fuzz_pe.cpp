// Both PE export readers and the language scan over arbitrary bytes: the
// file reader on the bytes as a file, the memory reader and the scan on the
// bytes as an image no larger than the input.
#include <vector>

#include "fuzz.h"
#include "plugin/pe.h"

HX_FUZZ_ENTRY(pe) {
  std::vector<HxPeExport> ex(64);
  hx_pe_exports_from_file(data, size, ex.data(), 64);
  if (size >= 64) {
    hx_pe_load_exports_mem(data, ex.data(), 64, size);
    hx_pe_scan_lang(data, size);
  }
  return 0;
}
