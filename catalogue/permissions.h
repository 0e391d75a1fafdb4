// Permissions for new menu entries: every normal user (class "N") of the
// current client gets one permission record for the program of each entry
// the run creates. The users are collected once per run, at the first new
// entry that hands out a permission flag.
#pragma once

#include <array>
#include <cstddef>
#include <span>
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

// Writes one permission record per user: client, user, program, blank, the
// grant date, level "1", `flag`, 10 blanks. A write that fails (an existing
// key above all) leaves that user's record as it was. Returns how many
// records were written.
int grantToAll(datafiles::KeyedFile& permissions, const std::vector<UserName>& users, int client,
               std::span<const char, 4> program, std::span<const char, 6> date, char flag);

}  // namespace catalogue
