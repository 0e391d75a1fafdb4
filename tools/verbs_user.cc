#include "tools/verbs.h"

namespace pxadmin {

void addUserVerbs(CLI::App& app) { (void)app; }

}  // namespace pxadmin
