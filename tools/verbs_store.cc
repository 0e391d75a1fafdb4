#include "tools/verbs.h"

namespace pxadmin {

void addStoreVerbs(CLI::App& app) { (void)app; }

}  // namespace pxadmin
