#include "tools/verbs.h"

namespace pxadmin {

void addCatalogueVerbs(CLI::App& app) { (void)app; }

}  // namespace pxadmin
