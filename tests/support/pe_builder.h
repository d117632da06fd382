// Hand-made PE images for the export reader's tests: any export order,
// names, counts, sections and imports, and a small loader that lays a file
// out as the system would map it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct PeLayout {
  bool pe32plus = false;
  std::vector<std::string> exportNames;  // in table order (any order, any bytes)
  std::uint32_t ordinalBase = 1;
  std::vector<std::string> sections = {".text", ".rdata", ".data", ".reloc"};  // tables live in sections[1]
  std::vector<std::uint32_t> sectionFlags;                                     // per section; default readable data
  std::vector<std::string> imports;                                            // DLL names
  // Overrides for broken images (0 keeps the computed value).
  std::uint32_t namesCount = 0, functionsCount = 0;
  // An export forwarded to another module: its RVA points into the export
  // directory (where the forwarder text lives). -1 for none.
  int forwarded = -1;
};

// The file bytes.
std::string pe_build(const PeLayout& layout);
// Function RVA of export i of a built image (what the readers must report).
std::uint32_t pe_export_rva(int i);
// The file laid out as a mapped image: headers, then each section at its RVA.
std::string pe_map(const std::string& file);
