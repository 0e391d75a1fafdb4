// Who sees a menu entry and who may open it, and, when someone may not, why.
// One rule for the launcher, which lists and opens entries by it, and one
// explanation for everyone who has to tell an administrator why a user does
// not see an entry: the menu maintenance, the help and the administration
// tool give the same words for the same case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/keyed_file.h"
#include "datafiles/records.h"

namespace datafiles {

// Administrators are classes "M" and "H"; every other class is a normal user.
inline bool isAdministrator(char userClass) { return userClass == 'M' || userClass == 'H'; }

enum class Visibility { kShown, kHidden, kNeedsPermission };
// Who sees an entry while a menu list is built. `program` is the entry's
// 4-character program name (blank: the entry opens a submenu). For
// kNeedsPermission the permission file decides.
Visibility entryVisibility(char userClass, char accessClass, std::string_view program);

// Whether opening the submenu entry `entry` of menu `menu` (an application
// at the top level) needs the application record of the user's client.
inline bool needsApplication(char userClass, int menu, int entry) {
  return menu <= 0 && userClass != 'M' && entry != 19;
}

// The reasons a user does not see an entry or cannot open it.
enum class Refusal {
  kNone,          // she sees it and may open or call it
  kClassM,        // access class M: for user class M only
  kNoPermission,  // a normal user without the permission record for the program
  kNotInstalled,  // an application not installed for her client
};

// A read that neither found a record nor came to the end (nor said "no such
// key"): whoever lists must not pass a shortened list off as whole.
struct ReadFailure {
  std::string_view file;  // "FX01.DAT"
  FileStatus status;
};

// The two lookups the rule makes in the files.
class AccessLookup {
 public:
  virtual ~AccessLookup() = default;
  // False only when the key (client, user, program, blank) is not there.
  virtual bool hasPermission(int client, std::string_view user, std::string_view program) = 0;
  // False only when the application record is not there.
  virtual bool isInstalled(int client, int application) = 0;
};

// The lookups in a permission file and an installation file open for input,
// made as the launcher makes them: any status but "no such key" counts as
// there. The first other failure is kept for those who must report it.
class FileAccessLookup final : public AccessLookup {
 public:
  FileAccessLookup(KeyedFile& permissions, KeyedFile& installation)
      : permissions_(permissions), installation_(installation) {}
  bool hasPermission(int client, std::string_view user, std::string_view program) override;
  bool isInstalled(int client, int application) override;
  const std::optional<ReadFailure>& failure() const { return failure_; }

 private:
  void note(const KeyedFile& file, FileStatus s);
  KeyedFile& permissions_;
  KeyedFile& installation_;
  std::optional<ReadFailure> failure_;
};

// The user the rule is applied for: her class, her client and her plain user
// name (code page 850, blank-padded to 10).
struct AccessUser {
  char userClass = 'M';
  int client = 0;
  std::string name = std::string(10, ' ');
};

// Why `user` does not see `entry` or cannot open it; kNone when she can.
Refusal refusalFor(const AccessUser& user, const MenuRecord& entry, AccessLookup& files);
// The reason in words (German, UTF-8), at most 50 characters; empty for
// kNone. A control character of a program name is shown as its picture
// (U+2400 ...), never raw.
std::string explain(Refusal refusal, const MenuRecord& entry);

// The entries of menu `menu` in key order (the header record left out). A
// read failure ends the list and goes into `failure` when given.
std::vector<MenuRecord> menuEntries(KeyedFile& menus, int menu,
                                    std::optional<ReadFailure>* failure = nullptr);

struct TreeLine {
  int depth;  // 1 for the entries of menu 0
  MenuRecord entry;
  Refusal refusal;
};
// The menu tree from menu 0 as `user` sees it, depth first in key order.
// With `all` also the entries she does not see or cannot open, whose
// submenus are then not entered. A menu already on the way down is not
// entered again, and the tree ends at depth 20. A read failure of the menu
// file ends the tree and goes into `failure` when given.
std::vector<TreeLine> menuTree(KeyedFile& menus, const AccessUser& user, AccessLookup& files,
                               bool all, std::optional<ReadFailure>* failure = nullptr);

}  // namespace datafiles
