// PX00, the sign-on: fills the common area as the launcher needs it before
// the screen set starts. A user who is unknown for the client or who fails
// the password three times leaves the user name blank, which ends the
// launcher without touching anything.
//
// Sign-ons accepted and refused (with the reason) go into the audit trail
// of the data directory. After three refused passwords in a row for one
// user, every further attempt for that user waits first, longer each time
// (datafiles::signOnDelay), across sign-ons and restarts, until a password
// is accepted.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "abi/common_area.h"
#include "datafiles/audit_records.h"
#include "datafiles/keyed_file.h"
#include "platform/program_loader.h"
#include "programs/console.h"

namespace programs {

// The check value of this release: a stored value that differs makes the
// launcher call PM3G once.
inline constexpr std::string_view kCheckValue = "20221213";
inline constexpr std::string_view kDefaultMenuValue = "00000000";
inline constexpr int kPasswordTries = 3;

struct SignOnContext {
  datafiles::FileStore& store;  // FT00.DAT in the current directory, FX00.DAT in the data directory
  platform::ProgramLoader& loader; // U001 and U009 are called through it
  Console& console;
  std::string currentDirectory;    // absolute
  std::tm today{};
  std::function<void()> waitForLock = [] {};  // between retries of a locked file
  // The wait before a password attempt after refused ones.
  std::function<void(std::chrono::seconds)> throttle = [](std::chrono::seconds) {};
  std::function<datafiles::AuditTime()> now = [] { return std::chrono::system_clock::now(); };
};

// kDone after a successful sign-on, kRefused when the user name was left blank.
std::int32_t signOn(pxabi::CommonArea& area, SignOnContext& ctx);

}  // namespace programs
