#include "datafiles/menu_access.h"

#include <algorithm>
#include <set>

#include "encoding/cp850.h"

namespace datafiles {
namespace {

// Code page 850 as UTF-8, trailing blanks dropped, control characters as
// their pictures, so that no reason ever writes one to a terminal.
std::string visible(std::span<const char> cp850) {
  std::string out;
  for (char c : encoding::trimmed(cp850)) {
    const auto b = static_cast<unsigned char>(c);
    const char32_t cp = b < 0x20 ? U'\u2400' + b : b == 0x7F ? U'\u2421' : encoding::cp850::toCodePoint(b);
    encoding::cp850::appendUtf8(out, cp);
  }
  return out;
}

}  // namespace

Visibility entryVisibility(char userClass, char accessClass, std::string_view program) {
  if (userClass == 'M') return Visibility::kShown;
  if (userClass == 'H' && program == "PB81") return Visibility::kShown;
  if (accessClass == 'M') return Visibility::kHidden;
  if (userClass == 'H') return Visibility::kShown;
  if (encoding::isBlank({program.data(), program.size()})) return Visibility::kShown;
  return Visibility::kNeedsPermission;
}

void FileAccessLookup::note(const KeyedFile& file, FileStatus s) {
  if (!s.ok() && !s.invalidKey() && !failure_) failure_ = ReadFailure{file.spec().name, s};
}

bool FileAccessLookup::hasPermission(int client, std::string_view user,
                                     std::string_view program) {
  PermissionRecord key;
  key.setKey(client, user, program);
  const FileStatus s =
      permissions_.start(StartMode::kEqual, key.bytes(), PermissionRecord::kKeyLength);
  note(permissions_, s);
  return !s.invalidKey();
}

bool FileAccessLookup::isInstalled(int client, int application) {
  InstallationRecord app;
  app.setKey(InstallationRecord::kApplicationType, client, application);
  const FileStatus s = installation_.read(app.bytes());
  note(installation_, s);
  return !s.invalidKey();
}

Refusal refusalFor(const AccessUser& user, const MenuRecord& entry, AccessLookup& files) {
  const std::string_view program = entry.program();
  switch (entryVisibility(user.userClass, entry.accessClass(), program)) {
    case Visibility::kHidden:
      return Refusal::kClassM;
    case Visibility::kNeedsPermission:
      if (!files.hasPermission(user.client, user.name, program)) return Refusal::kNoPermission;
      break;
    case Visibility::kShown:
      break;
  }
  if (entry.opensSubmenu() &&
      needsApplication(user.userClass, entry.menu().value_or(0), entry.entry().value_or(0)) &&
      !files.isInstalled(user.client, entry.entry().value_or(0)))
    return Refusal::kNotInstalled;
  return Refusal::kNone;
}

std::string explain(Refusal refusal, const MenuRecord& entry) {
  switch (refusal) {
    case Refusal::kNone:
      return "";
    case Refusal::kClassM:
      return "Zugriffsklasse M: nur für Benutzerklasse M";
    case Refusal::kNoPermission:
      return "kein Berechtigungssatz für Programm " + visible(entry.programField());
    case Refusal::kNotInstalled:
      // The launcher's own words when it refuses to open the application.
      return "Anwendung nicht installiert!";
  }
  return "";
}

std::vector<MenuRecord> menuEntries(KeyedFile& menus, int menu,
                                    std::optional<ReadFailure>* failure) {
  std::vector<MenuRecord> out;
  MenuRecord r;
  r.setKey(menu, 0);
  FileStatus s = menus.start(StartMode::kNotLessThan, r.bytes(), MenuRecord::kKeyLength);
  if (s.ok()) {
    while ((s = menus.readNext(r.bytes())).ok()) {
      if (r.isHeader()) continue;
      if (r.menu() != menu) return out;
      out.push_back(r);
    }
  }
  if (!s.atEnd() && !s.invalidKey() && failure != nullptr && !*failure)
    *failure = ReadFailure{menus.spec().name, s};
  return out;
}

namespace {

struct TreeWalk {
  KeyedFile& menus;
  const AccessUser& user;
  AccessLookup& files;
  bool all;
  std::optional<ReadFailure> failure;
  std::set<int> path;  // the menus on the way down, against cycles
  std::vector<TreeLine> lines;

  void walk(int menu, int depth) {
    if (failure || depth > 20 || !path.insert(menu).second) return;
    for (const MenuRecord& r : menuEntries(menus, menu, &failure)) {
      const Refusal why = refusalFor(user, r, files);
      if (why != Refusal::kNone && !all) continue;
      lines.push_back({depth, r, why});
      if (r.opensSubmenu() && why == Refusal::kNone) walk(r.entry().value_or(0), depth + 1);
    }
    path.erase(menu);
  }
};

}  // namespace

std::vector<TreeLine> menuTree(KeyedFile& menus, const AccessUser& user, AccessLookup& files,
                               bool all, std::optional<ReadFailure>* failure) {
  TreeWalk w{menus, user, files, all, {}, {}, {}};
  w.walk(0, 1);
  if (failure != nullptr && w.failure) *failure = w.failure;
  return std::move(w.lines);
}

}  // namespace datafiles
