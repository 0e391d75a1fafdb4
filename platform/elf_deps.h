// What a shared object needs from the dynamic linker, read from its file
// without loading it: the libraries it names (DT_NEEDED) and the symbols it
// leaves undefined. The loader uses this to recognise a COBOL module before
// dlopen, so that the COBOL run-time is started only when one is met.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct ElfDependencies {
  bool valid = false;                  // a 64-bit little-endian ELF shared object
  std::vector<std::string> needed;     // DT_NEEDED entries, in order
  std::vector<std::string> undefined;  // undefined dynamic symbols
};

ElfDependencies readElfDependencies(const std::string& path);

// A module compiled by GnuCOBOL's cobc: it needs libcob and enters the
// run-time through cob_module_global_enter (or cob_module_enter).
bool isCobolModule(const ElfDependencies& deps);
bool isCobolModule(const std::string& path);

}  // namespace platform
