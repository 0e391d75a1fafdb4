// pxadmin: the administration tool for an installation's data files.
#include <CLI/CLI.hpp>

#include "tools/verbs.h"

int main(int argc, char** argv) {
  CLI::App app{"pxadmin - administration of a px01 installation"};
  app.require_subcommand(1);
  pxadmin::addStoreVerbs(app);
  pxadmin::addUserVerbs(app);
  pxadmin::addCatalogueVerbs(app);
  pxadmin::addProductVerbs(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? pxadmin::kExitOk : pxadmin::kExitUsage;
  }
  return app.get_subcommands().empty() ? pxadmin::kExitUsage : pxadmin::kExitOk;
}
