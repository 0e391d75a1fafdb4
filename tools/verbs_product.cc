#include "tools/verbs.h"

namespace pxadmin {

void addProductVerbs(CLI::App& app) { (void)app; }

}  // namespace pxadmin
