// pxadmin: the administration tool for an installation's data files.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <iostream>

#include "tools/cli_errors.h"
#include "tools/i18n.h"
#include "tools/verbs.h"

namespace {

// A listing or export that did not reach its reader (a full disk, a closed
// pipe) is a failure, not a shorter output.
int outputWritten(int code) {
  std::cout.flush();
  if (std::cout && std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
  std::cerr << "pxadmin: " << _("cannot write the output") << "\n";
  return code == tools::kExitOk ? tools::kExitFailure : code;
}

}  // namespace

int main(int argc, char** argv) {
  tools::chooseLanguage();
  CLI::App app{_("pxadmin - administration of a px01 installation")};
  // The help's own words; the verbs and subcommands made below take them over.
  auto help = app.get_formatter();
  help->label("Usage", _("Usage"));
  help->label("OPTIONS", _("OPTIONS"));
  help->label("REQUIRED", _("REQUIRED"));
  help->label("Positionals", _("Positionals"));
  help->label("SUBCOMMAND", _("SUBCOMMAND"));
  help->label("Excludes", _("Excludes"));
  app.option_defaults()->group(_("Options"));
  app.failure_message(tools::parseFailureMessage);  // the verbs made below take it over
  app.set_help_flag("-h,--help", _("Print this help message and exit"));
  app.require_subcommand(1);
  tools::addStoreVerbs(app);
  tools::addUserVerbs(app);
  tools::addCatalogueVerbs(app);
  tools::addPermissionVerbs(app);
  tools::addMenuVerbs(app);
  tools::addInstallationVerbs(app);
  tools::addAuditVerbs(app);
  tools::addServerVerbs(app);
  // A verb's help flag is made before the verb takes over the option
  // defaults: put it under the translated heading too.
  std::function<void(CLI::App&)> regroupHelp = [&](CLI::App& a) {
    if (CLI::Option* h = a.get_help_ptr(); h != nullptr) h->group(_("Options"));
    for (CLI::App* sub : a.get_subcommands({})) regroupHelp(*sub);
  };
  regroupHelp(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Verbs end with CLI::RuntimeError(code) to give their exit code; a
    // usage error gives kExitUsage, --help gives 0.
    const int code = app.exit(e);
    if (dynamic_cast<const CLI::RuntimeError*>(&e) != nullptr || code == 0)
      return outputWritten(code);
    return tools::kExitUsage;
  }
  return outputWritten(tools::kExitOk);
}
