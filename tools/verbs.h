// The administration tool's verbs, one group per file. Each function adds its
// subcommands to the tool's command line.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "datafiles/records.h"

namespace tools {

// Exit codes every verb uses. A verb that fails throws CLI::RuntimeError(code)
// from its callback, after printing a clear message to stderr.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the verb ran and failed (file status, refused)
inline constexpr int kExitUsage = 2;    // bad arguments

void addStoreVerbs(CLI::App& app);      // init, dump, lock, unlock, status
void addUserVerbs(CLI::App& app);       // user add/list/remove/passwd/class
void addCatalogueVerbs(CLI::App& app);  // catalogue
void addPermissionVerbs(CLI::App& app);    // grant, revoke, permissions
void addMenuVerbs(CLI::App& app);          // menu tree/export/import
void addInstallationVerbs(CLI::App& app);  // app install/remove/list, check, backup, restore
void addAuditVerbs(CLI::App& app);         // audit, audit prune, who
void addServerVerbs(CLI::App& app);        // migrate

// init --server: the tables of a new installation with `control`, made on
// the server `conninfo` names, and px-store.conf in `dir` that names it.
void initOnServer(const std::string& dir, const std::string& conninfo,
                  const datafiles::ControlRecord& control);

}  // namespace tools
