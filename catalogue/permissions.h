// Permissions for new menu entries: every normal user (class "N") of the
// current client gets one permission record for the program of each entry
// the run creates. The users are collected once per run, at the first new
// entry that hands out a permission flag.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "datafiles/keyed_file.h"
#include "datafiles/lock_wait.h"
#include "platform/program_loader.h"

namespace catalogue {

using UserName = std::array<char, 10>;  // plain user name, code page 850

class NormalUsers {
 public:
  static constexpr std::size_t kMax = 999;

  bool built() const { return built_; }
  const std::vector<UserName>& names() const { return names_; }

  // Collects the normal users of `client` from the open user file, in key
  // order, with their names decoded by U001 function "E"; at most kMax.
  // Unloads U001 when someone was found. A record that another workstation
  // holds is read again as long as `waitForLocks` says so; any other failed
  // read ends the scan without adding a name. A user whose name U001 cannot
  // decode (U001 not loadable) is left out rather than granted under the
  // encoded name.
  void build(datafiles::KeyedFile& users, int client, platform::ProgramLoader& loader,
             datafiles::LockWaitPolicy& waitForLocks);

 private:
  bool built_ = false;
  std::vector<UserName> names_;
};

// Whether a change failed because the file cannot be written (read-only,
// disk full, damaged, held elsewhere as a whole), as opposed to statuses that
// leave just that record as it was: an existing or missing key, or a record
// that another workstation holds.
bool fileCannotBeWritten(datafiles::FileStatus s);

// Writes one permission record per user: client, user, program, blank, the
// grant date, level "1", `flag`, 10 blanks. A write that fails on an existing
// key (or a record held elsewhere) leaves that user's record as it was. A
// write that fails because the file cannot be written ends the grants with
// its status in `*failure` (when given). Returns how many records were
// written; their keys are added to `written` when given.
int grantToAll(datafiles::KeyedFile& permissions, const std::vector<UserName>& users, int client,
               std::span<const char, 4> program, std::span<const char, 6> date, char flag,
               std::vector<std::string>* written = nullptr,
               datafiles::FileStatus* failure = nullptr);

}  // namespace catalogue
