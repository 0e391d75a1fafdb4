#include "programs/menu_maintenance.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <memory>

#include "abi/utility_blocks.h"
#include "datafiles/audit_trail.h"
#include "datafiles/lock_wait.h"
#include "datafiles/menu_access.h"
#include "datafiles/records.h"
#include "encoding/cp850.h"
#include "programs/module.h"
#include "programs/module_screen.h"
#include "programs/screens.h"

namespace programs {
namespace {

using datafiles::FileStatus;
using datafiles::MenuRecord;
using datafiles::OpenMode;
using datafiles::PermissionRecord;
using Key = std::pair<int, int>;

constexpr std::string_view kLocked = "Datei zur Zeit gesperrt - bitte warten!";
constexpr std::string_view kMenus = "FX01 ", kPermissions = "FX02 ", kUsers = "FX00 ",
                           kInstallation = "FT00 ";
const std::string kTopTitle = "A n w e n d u n g e n";

std::string utf8(std::string_view cp850) { return encoding::cp850::toUtf8(cp850); }
std::string utf8(char c) { return encoding::cp850::toUtf8(std::string_view(&c, 1)); }

// `text` (UTF-8) blank-padded to `columns` characters.
std::string padded(std::string text, std::size_t columns) {
  const std::size_t n = encoding::cp850::lengthOf(text);
  if (n < columns) text.append(columns - n, ' ');
  return text;
}

std::string number(const char* format, int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, format, n);
  return buf;
}

std::string keyText(const MenuRecord& r) {
  return std::to_string(r.menu().value_or(0)) + "/" + std::to_string(r.entry().value_or(0));
}

// A program name as typed: up to 4 letters or digits (upper case), or
// nothing for an entry that opens a submenu.
std::optional<std::string> programName(std::string_view typed) {
  std::string p(typed);
  if (p.size() > 4) return std::nullopt;
  for (char& c : p) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return std::nullopt;
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return p;
}

std::optional<char> accessClass(std::string_view typed) {
  if (typed.size() != 1) return std::nullopt;
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(typed[0])));
  if (c != 'M' && c != 'H' && c != 'N') return std::nullopt;
  return c;
}

// The program and access class of an entry form, checked: the program's
// field is number `programField`, the class's the one after it. Says what
// is wrong in `message` and puts the cursor there when one is not valid.
struct CheckedEntry {
  std::string program;
  char access;
};
std::optional<CheckedEntry> checkEntryFields(const std::vector<FormField>& fields,
                                             int programField, std::string& message,
                                             int& focus) {
  const auto program = programName(fields[static_cast<std::size_t>(programField - 1)].value);
  if (!program) {
    message = "Programm: bis zu 4 Buchstaben oder Ziffern, leer für ein Untermenü.";
    focus = programField;
    return std::nullopt;
  }
  const auto access = accessClass(fields[static_cast<std::size_t>(programField)].value);
  if (!access) {
    message = "Zugriffsklasse: M, H oder N.";
    focus = programField + 1;
    return std::nullopt;
  }
  return CheckedEntry{*program, *access};
}

struct User {
  std::string name;  // code page 850, blank-padded to 10
  char userClass;
};

class Maintenance {
 public:
  Maintenance(pxabi::CommonArea& area, platform::ScreenSet& screen, datafiles::FileStore& store,
              platform::ProgramLoader& loader)
      : area_(area), screen_(area, screen), store_(store), loader_(loader),
        client_(area.client()), audit_(store, "", "PX03") {}

  std::int32_t run() {
    // Reached by name from anywhere: the common area's user class decides,
    // as the launcher decides for entries of access class M.
    if (area_.userClass() != 'M') {
      screen_.run("BOX-WARNUNG", "Sie sind nicht berechtigt!");
      return kRefused;
    }
    if (!openFiles()) return kRefused;
    marks_ = catalogueMarks(area_, loader_);
    browse();
    return kDone;
  }

 private:
  // ---- files -----------------------------------------------------------------

  FileStatus waiting(std::string_view code, std::string_view operation,
                     const std::function<FileStatus()>& op) {
    datafiles::AskEveryTime ask([&](FileStatus s) {
      return screen_.runFileBox("BOX-FEHLER-RC", kLocked, code, operation, s) &&
             screen_.reply() != 'C';
    });
    return datafiles::runWaitingForLocks(ask, op);
  }

  // The note after a change that did not go through; a box for anything but
  // a lock the administrator gave up waiting for.
  std::string failed(std::string_view code, std::string_view operation, FileStatus s) {
    if (s.locked()) return "Abgebrochen: " + std::string(code.substr(0, 4)) + " ist gesperrt.";
    screen_.runFileBox("BOX-FEHLER-OK", "Fehler", code, operation, s);
    return "Nicht geändert: Fehler " + s.toString() + ".";
  }

  bool openFiles() {
    struct Open {
      std::unique_ptr<datafiles::KeyedFile>* file;
      const datafiles::FileSpec* spec;
      std::string_view code;
    };
    for (const Open& o : {Open{&menus_, &datafiles::kMenuFile, kMenus},
                          Open{&permissions_, &datafiles::kPermissionFile, kPermissions},
                          Open{&installation_, &datafiles::kInstallationFile, kInstallation},
                          Open{&users_, &datafiles::kUserFile, kUsers}}) {
      *o.file = store_.file(*o.spec);
      const FileStatus s = waiting(o.code, "OPEN", [&] { return (*o.file)->open(OpenMode::kInput); });
      if (!s.ok()) {
        if (!s.locked()) screen_.runFileBox("BOX-FEHLER-OK", "Fehler", o.code, "OPEN", s);
        return false;
      }
    }
    lookup_ = std::make_unique<datafiles::FileAccessLookup>(*permissions_, *installation_);
    return true;
  }

  // A handle of its own for one change, so that the record it reads for
  // update stays locked until the change is written and the handle closed.
  std::unique_ptr<datafiles::KeyedFile> openForChange(const datafiles::FileSpec& spec,
                                                      std::string_view code, std::string& note) {
    auto f = store_.file(spec);
    const FileStatus s = waiting(code, "OPEN", [&] { return f->open(OpenMode::kInputOutput); });
    if (!s.ok()) {
      note = failed(code, "OPEN", s);
      return nullptr;
    }
    return f;
  }

  // ---- the catalogue's marks ----------------------------------------------------

  char markOf(int menu, int entry) const {
    if (!marks_) return '?';
    const auto it = marks_->find({menu, entry});
    if (it == marks_->end()) return ' ';
    switch (it->second) {
      case pxabi::CatalogueKeysBlock::kRewritten: return '*';
      case pxabi::CatalogueKeysBlock::kOnlyIfNew: return '+';
      default: return '-';
    }
  }

  std::string catalogueWarning(int menu, int entry) const {
    switch (markOf(menu, entry)) {
      case '*': return "Achtung: der Menükatalog überschreibt den Eintrag beim nächsten Lauf.";
      case '+': return "Der Menükatalog legt den Eintrag wieder an, wenn er fehlt.";
      case '-': return "Der Menükatalog verschiebt oder löscht den Eintrag beim nächsten Lauf.";
      default: return "";
    }
  }

  // ---- the menu tree -------------------------------------------------------------

  struct Level {
    int menu;
    std::string title;  // UTF-8
    int selection = 1, top = 1;
  };

  std::string menuRow(const MenuRecord& r) const {
    const int entry = r.entry().value_or(0);
    std::string row = number("%4d", entry) + "  " + padded(r.text(), 40) + "  ";
    row += r.opensSubmenu() ? "    " : padded(encoding::getText(r.programField()), 4);
    row += "  " + utf8(r.accessClass()) + "   " + utf8(r.entryFlag()) + "   ";
    row += markOf(r.menu().value_or(0), entry);
    if (r.opensSubmenu()) row += "  > Menü " + std::to_string(entry);
    return row;
  }

  void browse() {
    std::vector<Level> path{{0, kTopTitle}};
    std::string note = marks_ ? "Katalog beim nächsten Lauf: * überschreibt, + legt neu an, - entfernt"
                              : "UX07 fehlt: was der Menükatalog überschreibt, ist nicht markiert.";
    for (;;) {
      Level& level = path.back();
      const std::vector<MenuRecord> entries = datafiles::menuEntries(*menus_, level.menu);
      ListScreen list;
      list.title = "Pflege der Menüdatei: " + level.title + " (Menü " +
                   std::to_string(level.menu) + ")";
      list.header = "  Nr  " + padded("Text", 40) + "  Prog  Kl  Fl  Kat";
      list.keys = {"Hilfe", "Ändern", "Neu", "Löschen", "Rechte", "Benutzer", "Warum?"};
      for (const MenuRecord& r : entries) list.rows.push_back(menuRow(r));
      screen_.setListPosition(level.selection, level.top);
      const auto choice = screen_.showList(list, note);
      if (!choice) return;
      level.selection = screen_.listSelection();
      level.top = screen_.listTop();
      note.clear();
      const MenuRecord* row =
          choice->row >= 1 && choice->row <= static_cast<int>(entries.size())
              ? &entries[static_cast<std::size_t>(choice->row - 1)]
              : nullptr;
      switch (choice->event) {
        case 0:
          if (path.size() == 1) return;
          path.pop_back();
          break;
        case 48:
          if (row != nullptr && row->opensSubmenu()) {
            if (path.size() < 20) path.push_back({row->entry().value_or(0), row->text()});
          } else if (row != nullptr) {
            note = edit(*row);
          }
          break;
        case 1:
          help();
          break;
        case 2:
          if (row != nullptr) note = edit(*row);
          break;
        case 3:
          note = add(level);
          break;
        case 4:
          if (row != nullptr) note = remove(*row);
          break;
        case 5:
          if (row != nullptr && !row->opensSubmenu()) note = entryPermissions(*row);
          else if (row != nullptr) note = "Rechte gibt es nur für Einträge mit Programm.";
          break;
        case 6:
          note = chooseUser();
          break;
        case 7:
          if (row != nullptr) note = askWhy(*row);
          break;
        default:
          break;
      }
      if (screen_.failed()) return;
    }
  }

  void help() {
    const auto text = readHelp(installedHelpDirectory(), "PX03");
    if (text) screen_.showPage("Hilfe PX03", *text);
    else screen_.run("BOX-INFO", "Zum Thema \"PX03\" gibt es keinen Hilfetext.");
  }

  // ---- editing, adding, deleting --------------------------------------------------

  std::string edit(const MenuRecord& shown) {
    std::string note;
    auto f = openForChange(datafiles::kMenuFile, kMenus, note);
    if (!f) return note;
    MenuRecord r;
    std::copy_n(shown.data(), MenuRecord::kKeyLength, r.data());
    // Read for update: the entry stays locked while the form is shown.
    const FileStatus read = waiting(kMenus, "READ", [&] { return f->read(r.bytes()); });
    if (read.invalidKey()) {
      (void)f->close();
      return "Der Eintrag " + keyText(shown) + " ist inzwischen gelöscht.";
    }
    if (!read.ok()) {
      (void)f->close();
      return failed(kMenus, "READ", read);
    }
    const int menu = r.menu().value_or(0), entry = r.entry().value_or(0);
    const std::vector<FormField> preset = {
        {"Text", 40, std::string(encoding::trimmed(r.textField()))},
        {"Programm (leer: Untermenü)", 4, std::string(encoding::trimmed(r.programField()))},
        {"Zugriffsklasse (M, H, N)", 1, std::string(encoding::trimmed(r.accessClassField()))},
        {"Eintragskennzeichen", 1, std::string(encoding::trimmed(r.entryFlagField()))},
    };
    std::vector<FormField> fields = preset;
    std::string message = catalogueWarning(menu, entry);
    int focus = 1;
    for (;;) {
      const auto reply = screen_.showForm("Eintrag " + keyText(r) + " ändern", fields, message, focus);
      if (!reply || *reply == 'C') {
        (void)f->close();
        return reply ? "Nicht geändert." : "";
      }
      const auto checked = checkEntryFields(fields, 2, message, focus);
      if (!checked) continue;
      const std::optional<std::string> program = checked->program;
      const std::optional<char> access = checked->access;
      // Only what the administrator changed is written; every other byte
      // stays as it was read.
      bool changed = false;
      if (fields[0].value != preset[0].value) {
        encoding::putRaw(r.textField(), fields[0].value);
        changed = true;
      }
      if (*program != preset[1].value) {
        encoding::putRaw(r.programField(), *program);
        changed = true;
      }
      if (std::string(1, *access) != preset[2].value) {
        r.setAccessClass(*access);
        changed = true;
      }
      if (fields[3].value != preset[3].value) {
        r.setEntryFlag(fields[3].value.empty() ? ' ' : fields[3].value[0]);
        changed = true;
      }
      if (!changed) {
        (void)f->close();
        return "Nichts geändert.";
      }
      const FileStatus s = waiting(kMenus, "REWR", [&] { return f->rewrite(r.bytes()); });
      (void)f->close();
      if (!s.ok()) return failed(kMenus, "REWR", s);
      recorded("MENUEDIT", "", keyText(r),
               r.text() + " " + utf8(r.program()) + " " + utf8(r.accessClass()));
      const std::string warning = catalogueWarning(menu, entry);
      return "Eintrag " + keyText(r) + " gespeichert." + (warning.empty() ? "" : " " + warning);
    }
  }

  std::string add(Level& level) {
    std::vector<FormField> fields = {
        {"Nummer (1 bis 999)", 3, ""},
        {"Text", 40, ""},
        {"Programm (leer: Untermenü)", 4, ""},
        {"Zugriffsklasse (M, H, N)", 1, "N"},
        {"Eintragskennzeichen", 1, ""},
    };
    std::string message;
    int focus = 1;
    for (;;) {
      const auto reply = screen_.showForm(
          "Neuer Eintrag in Menü " + std::to_string(level.menu), fields, message, focus);
      if (!reply || *reply == 'C') return reply ? "Nichts angelegt." : "";
      const std::string& n = fields[0].value;
      const bool digits = !n.empty() && std::all_of(n.begin(), n.end(), [](char c) {
        return c >= '0' && c <= '9';
      });
      const int entry = digits ? std::stoi(n) : 0;
      if (entry < 1 || entry > 999) {
        message = "Nummer: 1 bis 999.";
        focus = 1;
        continue;
      }
      const auto checked = checkEntryFields(fields, 3, message, focus);
      if (!checked) continue;
      const std::optional<std::string> program = checked->program;
      const std::optional<char> access = checked->access;
      MenuRecord r;
      r.setKey(level.menu, entry);
      encoding::putRaw(r.textField(), fields[1].value);
      encoding::putRaw(r.programField(), *program);
      r.setAccessClass(*access);
      r.setEntryFlag(fields[4].value.empty() ? ' ' : fields[4].value[0]);
      std::string note;
      auto f = openForChange(datafiles::kMenuFile, kMenus, note);
      if (!f) return note;
      const FileStatus s = waiting(kMenus, "WRIT", [&] { return f->write(r.bytes()); });
      (void)f->close();
      if (s == datafiles::kDuplicateKey) {
        message = "Eintrag " + std::to_string(entry) + " gibt es in diesem Menü schon.";
        focus = 1;
        continue;
      }
      if (!s.ok()) return failed(kMenus, "WRIT", s);
      recorded("MENUADD", "", keyText(r),
               r.text() + " " + utf8(r.program()) + " " + utf8(r.accessClass()));
      // The new entry under the cursor.
      const auto entries = datafiles::menuEntries(*menus_, level.menu);
      for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].entry() == entry) level.selection = static_cast<int>(i) + 1;
      std::string done = "Eintrag " + keyText(r) + " angelegt.";
      if (program->empty()) {
        const auto inside = datafiles::menuEntries(*menus_, entry).size();
        if (inside > 0)
          done += " Er öffnet Menü " + std::to_string(entry) + " mit " + std::to_string(inside) +
                  " Einträgen.";
      }
      const std::string warning = catalogueWarning(level.menu, entry);
      return done + (warning.empty() ? "" : " " + warning);
    }
  }

  // Entries that open menu `menu`, other than `except`.
  int openers(int menu, const MenuRecord& except) {
    int n = 0;
    MenuRecord r;
    encoding::zero(r.bytes());
    if (!menus_->start(datafiles::StartMode::kNotLessThan, r.bytes(), MenuRecord::kKeyLength).ok())
      return 0;
    while (menus_->readNext(r.bytes()).ok())
      if (!r.isHeader() && r.opensSubmenu() && r.entry() == menu &&
          r.view().substr(0, 6) != except.view().substr(0, 6))
        ++n;
    return n;
  }

  std::string remove(const MenuRecord& shown) {
    const int entry = shown.entry().value_or(0);
    if (shown.opensSubmenu()) {
      const auto inside = datafiles::menuEntries(*menus_, entry).size();
      if (inside > 0 && openers(entry, shown) == 0) {
        screen_.run("BOX-WARNUNG", "Menü " + std::to_string(entry) + " enthält noch " +
                                       std::to_string(inside) + " Einträge: erst diese löschen.");
        return "Nicht gelöscht.";
      }
    }
    std::string note;
    auto f = openForChange(datafiles::kMenuFile, kMenus, note);
    if (!f) return note;
    MenuRecord r;
    std::copy_n(shown.data(), MenuRecord::kKeyLength, r.data());
    const FileStatus read = waiting(kMenus, "READ", [&] { return f->read(r.bytes()); });
    if (!read.ok()) {
      (void)f->close();
      if (read.invalidKey()) return "Der Eintrag " + keyText(shown) + " ist schon gelöscht.";
      return failed(kMenus, "READ", read);
    }
    if (!screen_.run("BOX-FRAGE", "Eintrag " + keyText(r) + " löschen: " + r.text() + "?") ||
        screen_.reply() != 'J') {
      (void)f->close();
      return screen_.failed() ? "" : "Nicht gelöscht.";
    }
    const FileStatus s = waiting(kMenus, "DELE", [&] { return f->remove(r.bytes()); });
    (void)f->close();
    if (!s.ok()) return failed(kMenus, "DELE", s);
    recorded("MENUDEL", "", keyText(r), r.text() + " " + utf8(r.program()));
    const char mark = markOf(r.menu().value_or(0), entry);
    return "Eintrag " + keyText(r) + " gelöscht." +
           (mark == '*' || mark == '+' ? " Der Menükatalog legt ihn beim nächsten Lauf wieder an."
                                       : "");
  }

  // ---- users and permissions -------------------------------------------------------

  // The users of the client by name; nothing when U001 cannot be loaded.
  std::optional<std::vector<User>> clientUsers() {
    std::vector<User> out;
    datafiles::UserRecord u;
    encoding::zero(u.bytes());
    u.setClient(client_);
    if (users_->start(datafiles::StartMode::kGreaterThan, u.bytes(),
                      datafiles::UserRecord::kKeyLength)
            .ok()) {
      while (users_->readNext(u.bytes()).ok() && u.client() == client_) {
        pxabi::UserNameBlock block(pxabi::UserNameBlock::kDecode, u.encodedName());
        if (!loader_.call("U001", block.data()).loaded) return std::nullopt;
        out.push_back({std::string(encoding::view(block.name())), u.userClass()});
      }
    }
    loader_.unload("U001");
    std::sort(out.begin(), out.end(), [](const User& a, const User& b) { return a.name < b.name; });
    return out;
  }

  // The users a list can show: with more than fit, only those whose name
  // starts with what the administrator types. Nothing when she cancels.
  std::optional<std::vector<User>> fitting(std::vector<User> users) {
    constexpr std::size_t kRows = pxabi::ScreenDataBlock::kListRowCount;
    while (users.size() > kRows) {
      encoding::blank(screen_.data().inputText());
      screen_.data().setInputHidden('N');
      if (!screen_.run("EINGABE", std::to_string(users.size()) +
                                      " Benutzer. Anfang des Namens:") ||
          screen_.reply() != 'J')
        return std::nullopt;
      std::string prefix(encoding::trimmed(screen_.data().inputText()));
      for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      std::vector<User> some;
      for (const User& u : users)
        if (u.name.compare(0, prefix.size(), prefix) == 0) some.push_back(u);
      if (some.empty()) continue;
      users = std::move(some);
    }
    return users;
  }

  datafiles::AccessUser accessUser(const User& u) const { return {u.userClass, client_, u.name}; }

  bool holds(const User& u, std::string_view program) {
    PermissionRecord k;
    k.setKey(client_, u.name, program);
    return permissions_->start(datafiles::StartMode::kEqual, k.bytes(), PermissionRecord::kKeyLength)
        .ok();
  }

  // Grants or takes away `u`'s permission for `program`: one write or one
  // delete of one record.
  std::string togglePermission(const User& u, std::string_view program) {
    const std::string name = utf8(encoding::trimmed(std::span<const char>(u.name.data(), u.name.size())));
    const std::string prog = utf8(program);
    if (datafiles::isAdministrator(u.userClass))
      return "Benutzerklasse " + utf8(u.userClass) + " braucht keine Berechtigung.";
    std::string note;
    auto f = openForChange(datafiles::kPermissionFile, kPermissions, note);
    if (!f) return note;
    PermissionRecord r;
    r.setKey(client_, u.name, program);
    if (holds(u, program)) {
      const FileStatus s = waiting(kPermissions, "DELE", [&] { return f->remove(r.bytes()); });
      (void)f->close();
      if (s.invalidKey()) return name + " hatte keine Berechtigung für " + prog + ".";
      if (!s.ok()) return failed(kPermissions, "DELE", s);
      recorded("REVOKE", u.name, program, "");
      return name + " darf " + prog + " nicht mehr aufrufen.";
    }
    r.setGrantDate(encoding::view(area_.workingDate()));
    r.setLevel('1');
    r.setFlag('J');
    encoding::blank(r.textField());
    const FileStatus s = waiting(kPermissions, "WRIT", [&] { return f->write(r.bytes()); });
    (void)f->close();
    if (s == datafiles::kDuplicateKey) return name + " hat die Berechtigung für " + prog + " schon.";
    if (!s.ok()) return failed(kPermissions, "WRIT", s);
    recorded("GRANT", u.name, program, "granted, flag 'J'");
    return name + " darf " + prog + " aufrufen.";
  }

  std::string userColumn(const User& u) const {
    return padded(utf8(u.name), 10) + "  " + utf8(u.userClass);
  }

  // The users of the client for one program entry.
  std::string entryPermissions(const MenuRecord& entry) {
    const std::string program(entry.program());
    auto all = clientUsers();
    if (!all) return "U001 kann nicht geladen werden.";
    const auto users = fitting(std::move(*all));
    if (!users) return "";
    std::string note;
    int selection = 1, top = 1;
    for (;;) {
      ListScreen list;
      list.title = "Rechte für " + utf8(encoding::trimmed(entry.programField())) + ": " + entry.text();
      list.header = padded("Benutzer", 10) + "  Kl  Satz  Fl  Ergebnis";
      list.keys = {"Hilfe", "", "", "", "Recht +/-", "", "Warum?"};
      for (const User& u : *users) {
        PermissionRecord r;
        r.setKey(client_, u.name, program);
        const bool has = permissions_->read(r.bytes()).ok();
        const datafiles::Refusal why = datafiles::refusalFor(accessUser(u), entry, *lookup_);
        list.rows.push_back(userColumn(u) + "   " + (has ? "ja  " : "nein") + "  " +
                            (has ? utf8(r.flag()) : std::string(" ")) + "   " +
                            (why == datafiles::Refusal::kNone ? std::string("darf aufrufen")
                                                              : datafiles::explain(why, entry)));
      }
      screen_.setListPosition(selection, top);
      const auto choice = screen_.showList(list, note);
      if (!choice) return "";
      selection = screen_.listSelection();
      top = screen_.listTop();
      note.clear();
      const User* u = choice->row >= 1 && choice->row <= static_cast<int>(users->size())
                          ? &(*users)[static_cast<std::size_t>(choice->row - 1)]
                          : nullptr;
      if (choice->event == 0) return "";
      if (choice->event == 1) help();
      if (u == nullptr) continue;
      if (choice->event == 48 || choice->event == 5) note = togglePermission(*u, program);
      if (choice->event == 7) why(*u, entry);
      if (screen_.failed()) return "";
    }
  }

  std::string chooseUser() {
    auto all = clientUsers();
    if (!all) return "U001 kann nicht geladen werden.";
    const auto users = fitting(std::move(*all));
    if (!users) return "";
    int selection = 1, top = 1;
    std::string note;
    for (;;) {
      ListScreen list;
      list.title = "Benutzer von Mandant " + std::to_string(client_);
      list.header = padded("Benutzer", 10) + "  Kl";
      list.keys = {"Hilfe"};
      for (const User& u : *users) list.rows.push_back(userColumn(u));
      screen_.setListPosition(selection, top);
      const auto choice = screen_.showList(list, note);
      if (!choice) return "";
      selection = screen_.listSelection();
      top = screen_.listTop();
      note.clear();
      if (choice->event == 0) return "";
      if (choice->event == 1) help();
      if (choice->event == 48 && choice->row >= 1 &&
          choice->row <= static_cast<int>(users->size()))
        note = userMenu((*users)[static_cast<std::size_t>(choice->row - 1)]);
      if (screen_.failed()) return "";
    }
  }

  // The menus as `u` sees them, one at a time, with every entry she does not
  // see or cannot open and why.
  std::string userMenu(const User& u) {
    const std::string name = utf8(encoding::trimmed(std::span<const char>(u.name.data(), u.name.size())));
    const datafiles::AccessUser user = accessUser(u);
    std::vector<Level> path{{0, kTopTitle}};
    std::string note;
    for (;;) {
      Level& level = path.back();
      const std::vector<MenuRecord> entries = datafiles::menuEntries(*menus_, level.menu);
      std::vector<datafiles::Refusal> refusals;
      ListScreen list;
      list.title = "Menü für " + name + " (Klasse " + utf8(u.userClass) + "): " + level.title;
      list.header = "  Nr  Text, Programm; warum " + name + " den Eintrag nicht sieht";
      list.keys = {"Hilfe", "", "", "", "Recht +/-", "", "Warum?", "Sätze"};
      for (const MenuRecord& r : entries) {
        const datafiles::Refusal refused = datafiles::refusalFor(user, r, *lookup_);
        refusals.push_back(refused);
        std::string row = number("%4d", r.entry().value_or(0)) + "  " + r.text();
        if (r.opensSubmenu()) row += "  > Menü " + std::to_string(r.entry().value_or(0));
        else row += "  [" + encoding::getText(r.programField()) + "]";
        if (refused != datafiles::Refusal::kNone) row += "  -- " + datafiles::explain(refused, r);
        list.rows.push_back(row);
      }
      screen_.setListPosition(level.selection, level.top);
      const auto choice = screen_.showList(list, note);
      if (!choice) return "";
      level.selection = screen_.listSelection();
      level.top = screen_.listTop();
      note.clear();
      const bool onRow = choice->row >= 1 && choice->row <= static_cast<int>(entries.size());
      const MenuRecord* row = onRow ? &entries[static_cast<std::size_t>(choice->row - 1)] : nullptr;
      const datafiles::Refusal refusal =
          onRow ? refusals[static_cast<std::size_t>(choice->row - 1)] : datafiles::Refusal::kNone;
      switch (choice->event) {
        case 0:
          if (path.size() == 1) return "";
          path.pop_back();
          break;
        case 1:
          help();
          break;
        case 48:
          // Into a submenu she may open; on anything else, why.
          if (row != nullptr && row->opensSubmenu() && refusal == datafiles::Refusal::kNone) {
            if (path.size() < 20) path.push_back({row->entry().value_or(0), row->text()});
          } else if (row != nullptr) {
            why(u, *row);
          }
          break;
        case 5:
          if (row != nullptr && !row->opensSubmenu()) note = togglePermission(u, row->program());
          else if (row != nullptr) note = "Rechte gibt es nur für Einträge mit Programm.";
          break;
        case 7:
          if (row != nullptr) why(u, *row);
          break;
        case 8:
          note = userRecords(u);
          break;
        default:
          break;
      }
      if (screen_.failed()) return "";
    }
  }

  // The permission records of `u`: the programs she may call.
  std::string userRecords(const User& u) {
    const std::string name = utf8(encoding::trimmed(std::span<const char>(u.name.data(), u.name.size())));
    int selection = 1, top = 1;
    std::string note;
    for (;;) {
      std::vector<PermissionRecord> records;
      PermissionRecord k;
      k.setKey(client_, u.name, "");
      encoding::zero(k.programField());
      encoding::zero(k.keyBlankField());
      if (permissions_->start(datafiles::StartMode::kNotLessThan, k.bytes(),
                              PermissionRecord::kKeyLength)
              .ok()) {
        PermissionRecord r;
        while (permissions_->readNext(r.bytes()).ok() &&
               r.view().substr(0, 12) == k.view().substr(0, 12))
          records.push_back(r);
      }
      ListScreen list;
      list.title = "Berechtigungssätze von " + name;
      list.header = "Prog  Fl  Datum   Stufe  Text";
      list.keys = {"Hilfe", "", "", "Entziehen"};
      for (const PermissionRecord& r : records)
        list.rows.push_back(padded(encoding::getText(r.programField()), 4) + "  " + utf8(r.flag()) +
                            "   " + utf8(r.grantDate()) + "  " + utf8(r.level()) + "      " +
                            encoding::getText(r.textField()));
      screen_.setListPosition(selection, top);
      const auto choice = screen_.showList(list, note);
      if (!choice) return "";
      selection = screen_.listSelection();
      top = screen_.listTop();
      note.clear();
      if (choice->event == 0) return "";
      if (choice->event == 1) help();
      if (choice->event == 4 && choice->row >= 1 && choice->row <= static_cast<int>(records.size()))
        note = togglePermission(u, records[static_cast<std::size_t>(choice->row - 1)].program());
      if (screen_.failed()) return "";
    }
  }

  // ---- why can't she see this? ------------------------------------------------------

  std::string askWhy(const MenuRecord& entry) {
    encoding::blank(screen_.data().inputText());
    screen_.data().setInputHidden('N');
    if (!screen_.run("EINGABE", "Warum sieht dieser Benutzer den Eintrag nicht? Benutzer:") ||
        screen_.reply() != 'J')
      return "";
    const std::string typed = encoding::cp850::toUtf8(encoding::trimmed(screen_.data().inputText()));
    const auto users = clientUsers();
    if (!users) return "U001 kann nicht geladen werden.";
    std::string wanted = encoding::cp850::fromUtf8(typed);
    for (char& c : wanted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    wanted.resize(10, ' ');
    for (const User& u : *users)
      if (u.name == wanted) {
        why(u, entry);
        return "";
      }
    return "Keinen Benutzer \"" + typed + "\" bei Mandant " + std::to_string(client_) + ".";
  }

  // Why `u` does not see `entry` (or that she does), on a page.
  void why(const User& u, const MenuRecord& entry) {
    const std::string name = utf8(encoding::trimmed(std::span<const char>(u.name.data(), u.name.size())));
    const int menu = entry.menu().value_or(0), opens = entry.entry().value_or(0);
    std::vector<std::string> lines = {
        "Benutzer:  " + name + " (Benutzerklasse " + utf8(u.userClass) + ", Mandant " +
            std::to_string(client_) + ")",
        "Eintrag:   " + keyText(entry) + "  " + entry.text(),
        entry.opensSubmenu() ? "Öffnet:    Menü " + std::to_string(opens)
                             : "Programm:  " + encoding::getText(entry.programField()),
        "Zugriffsklasse: " + utf8(entry.accessClass()),
        "",
    };
    // Where the entry stands in her tree: the tree of every entry she sees
    // and of those she does not see, with the reason for each.
    const auto tree = datafiles::menuTree(*menus_, accessUser(u), *lookup_, true);
    const auto at = std::find_if(tree.begin(), tree.end(), [&](const datafiles::TreeLine& l) {
      return l.entry.view().substr(0, 6) == entry.view().substr(0, 6);
    });
    if (at != tree.end() && at->refusal == datafiles::Refusal::kNone) {
      lines.push_back(name + (entry.opensSubmenu() ? " sieht den Eintrag und darf ihn öffnen."
                                                   : " sieht den Eintrag und darf ihn aufrufen."));
    } else if (at != tree.end()) {
      lines.push_back(name + " sieht den Eintrag nicht oder darf ihn nicht öffnen:");
      lines.push_back("  " + datafiles::explain(at->refusal, at->entry));
    } else {
      lines.push_back("Der Eintrag steht in Menü " + std::to_string(menu) + ", das " + name +
                      " nicht erreicht:");
      bool any = false;
      for (const datafiles::TreeLine& l : tree)
        if (l.entry.opensSubmenu() && l.entry.entry() == menu &&
            l.refusal != datafiles::Refusal::kNone) {
          lines.push_back("  Eintrag " + keyText(l.entry) + " " + l.entry.text() + ": " +
                          datafiles::explain(l.refusal, l.entry));
          any = true;
        }
      if (!any) lines.push_back("  Kein Eintrag, den sie sieht, öffnet Menü " + std::to_string(menu) + ".");
    }
    datafiles::ControlRecord control;
    if (!datafiles::isAdministrator(u.userClass) && installation_->read(control.bytes()).ok() &&
        control.locked())
      lines.push_back("Hinweis: das System ist für Normalbenutzer gesperrt.");
    screen_.showPage("Warum? " + name, lines);
  }

  // A change made, in the audit trail (never waited for; datafiles/audit_trail.h).
  void recorded(std::string_view event, std::string_view subject, std::string_view object,
                std::string detail) {
    (void)audit_.record(
        datafiles::AuditEvent(event, encoding::trimmed(area_.userName()), client_)
            .withSubject(encoding::trimmed(subject))
            .withObject(object)
            .withResult("OK")
            .withDetail(std::move(detail)));
  }

  pxabi::CommonArea& area_;
  ModuleScreen screen_;
  datafiles::FileStore& store_;
  platform::ProgramLoader& loader_;
  int client_;
  datafiles::AuditTrail audit_;
  std::unique_ptr<datafiles::KeyedFile> menus_, permissions_, installation_, users_;
  std::unique_ptr<datafiles::FileAccessLookup> lookup_;
  std::optional<std::map<Key, char>> marks_;
};

}  // namespace

std::optional<std::map<std::pair<int, int>, char>> catalogueMarks(pxabi::CommonArea& area,
                                                                  platform::ProgramLoader& loader) {
  auto block = std::make_unique<pxabi::CatalogueKeysBlock>();
  const auto out = loader.call("UX07", area.data(), block->data());
  loader.unload("UX07");
  if (!out.loaded || !block->count()) return std::nullopt;
  std::map<std::pair<int, int>, char> marks;
  for (std::size_t i = 0; i < *block->count(); ++i)
    if (const auto k = block->key(i)) marks[{k->menu, k->entry}] = k->what;
  return marks;
}

std::int32_t maintainMenus(pxabi::CommonArea& area, platform::ScreenSet& screen,
                           datafiles::FileStore& store, platform::ProgramLoader& loader) {
  Maintenance m(area, screen, store, loader);
  return m.run();
}

}  // namespace programs
