// Helpers shared by the administration tool's verbs: failing with a clear
// message and exit code, describing a status, opening a data file, the user
// name code of U001.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "datafiles/installation_store.h"
#include "datafiles/audit_records.h"
#include "datafiles/keyed_file.h"
#include "datafiles/records.h"
#include "platform/program_loader.h"

namespace tools {

// The four data files of an installation, in the order they are set up.
inline constexpr const datafiles::FileSpec* kAllFiles[] = {
    &datafiles::kInstallationFile, &datafiles::kUserFile, &datafiles::kMenuFile,
    &datafiles::kPermissionFile};
// With the audit trail, which moves with them but is never restored.
inline constexpr const datafiles::FileSpec* kAllFilesAndTrail[] = {
    &datafiles::kInstallationFile, &datafiles::kUserFile, &datafiles::kMenuFile,
    &datafiles::kPermissionFile, &datafiles::kAuditFile};

// Prints "pxadmin: MESSAGE" to stderr and ends the verb with `code`.
[[noreturn]] void fail(const std::string& message, int code = 1);
// "9/065 (locked by another workstation, try again later)".
std::string describe(datafiles::FileStatus s);
// The same, followed by the store's own message for a "30" (the server's,
// say: why it cannot be reached).
std::string describe(datafiles::FileStatus s, const datafiles::InstallationStore& store);
// The store of the installation in `dir`: the embedded files there, or the
// server its px-store.conf names. Fails the verb when px-store.conf cannot
// be used.
std::unique_ptr<datafiles::InstallationStore> storeFor(const std::string& dir);
// Opens `spec` in `dir` or fails the verb naming the file and the status
// (and the store's own message, the server's say, when it has one).
std::unique_ptr<datafiles::KeyedFile> openOrFail(datafiles::InstallationStore& store,
                                                 const datafiles::FileSpec& spec,
                                                 const std::string& dir, datafiles::OpenMode mode);
// `given` when the command line names a client, else the installation's
// default client from its control record (0 when that cannot be read).
// Fails the verb when `given` is out of 0-999.
int clientOr(datafiles::FileStore& store, const std::string& dir, std::optional<int> given);
// A user name as it stands in the records: code page 850, at most 10
// characters, no blanks inside. Fails the verb otherwise.
std::string userNameOrFail(std::string_view utf8);
// U001 on a code page 850 user name through `loader`: function "V" gives the
// encoded name, "E" the plain one, 10 characters each; nothing when U001
// cannot be loaded.
std::optional<std::string> userNameCode(platform::ProgramLoader& loader, char function,
                                        std::string_view cp850Name);
// The local time formatted by strftime.
std::string localNow(const char* format);
// Today as YYMMDD.
std::string todayYymmdd();

}  // namespace tools
