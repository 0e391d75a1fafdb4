#include "datafiles/menu_access.h"

#include <algorithm>
#include <set>

namespace datafiles {

Visibility entryVisibility(char userClass, char accessClass, std::string_view program) {
  if (userClass == 'M') return Visibility::kShown;
  if (userClass == 'H' && program == "PB81") return Visibility::kShown;
  if (accessClass == 'M') return Visibility::kHidden;
  if (userClass == 'H') return Visibility::kShown;
  if (encoding::isBlank({program.data(), program.size()})) return Visibility::kShown;
  return Visibility::kNeedsPermission;
}

bool FileAccessLookup::hasPermission(int client, std::string_view user,
                                     std::string_view program) {
  PermissionRecord key;
  key.setKey(client, user, program);
  return !permissions_.start(StartMode::kEqual, key.bytes(), PermissionRecord::kKeyLength)
              .invalidKey();
}

bool FileAccessLookup::isInstalled(int client, int application) {
  InstallationRecord app;
  app.setKey(InstallationRecord::kApplicationType, client, application);
  return !installation_.read(app.bytes()).invalidKey();
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
      return "kein Berechtigungssatz für Programm " + encoding::getText(entry.programField());
    case Refusal::kNotInstalled:
      // The launcher's own words when it refuses to open the application.
      return "Anwendung nicht installiert!";
  }
  return "";
}

std::vector<MenuRecord> menuEntries(KeyedFile& menus, int menu) {
  std::vector<MenuRecord> out;
  MenuRecord r;
  r.setKey(menu, 0);
  if (menus.start(StartMode::kNotLessThan, r.bytes(), MenuRecord::kKeyLength).invalidKey())
    return out;
  while (menus.readNext(r.bytes()).ok()) {
    if (r.isHeader()) continue;
    if (r.menu() != menu) break;
    out.push_back(r);
  }
  return out;
}

namespace {

struct TreeWalk {
  KeyedFile& menus;
  const AccessUser& user;
  AccessLookup& files;
  bool all;
  std::set<int> path;  // the menus on the way down, against cycles
  std::vector<TreeLine> lines;

  void walk(int menu, int depth) {
    if (depth > 20 || !path.insert(menu).second) return;
    for (const MenuRecord& r : menuEntries(menus, menu)) {
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
                               bool all) {
  TreeWalk w{menus, user, files, all, {}, {}};
  w.walk(0, 1);
  return std::move(w.lines);
}

}  // namespace datafiles
