#include "datafiles/menu_access.h"

#include <gtest/gtest.h>

#include <set>

#include "testing/fault_store.h"
#include "testing/memory_store.h"

namespace datafiles {
namespace {

// Permissions and applications named by hand.
class Lookup : public AccessLookup {
 public:
  std::set<std::string> permitted;  // program names of the user
  std::set<int> installed;
  int lookups = 0;
  bool hasPermission(int, std::string_view, std::string_view program) override {
    ++lookups;
    return permitted.count(std::string(program)) != 0;
  }
  bool isInstalled(int, int application) override {
    ++lookups;
    return installed.count(application) != 0;
  }
};

MenuRecord entry(int menu, int number, std::string_view program, char access) {
  MenuRecord r;
  r.setKey(menu, number);
  r.setText("Eintrag " + std::to_string(number));
  r.setProgram(program);
  r.setAccessClass(access);
  return r;
}

TEST(MenuAccess, RefusalsPerUserClassAccessClassPermissionAndApplication) {
  Lookup files;
  files.permitted = {"PA64"};
  files.installed = {5};
  struct Case {
    char user;
    int menu, number;
    std::string_view program;
    char access;
    Refusal want;
  } cases[] = {
      {'M', 0, 30, "    ", 'M', Refusal::kNone},  // class M: everything, uninstalled too
      {'H', 0, 30, "    ", 'N', Refusal::kNotInstalled},
      {'H', 0, 5, "    ", 'N', Refusal::kNone},
      {'N', 0, 19, "    ", 'N', Refusal::kNone},  // application 19 needs nothing
      {'N', 5, 30, "    ", 'N', Refusal::kNone},  // below the top a submenu opens unchecked
      {'H', 99, 10, "PX03", 'M', Refusal::kClassM},
      {'H', 99, 11, "PB81", 'M', Refusal::kNone},  // the one exception
      {'N', 99, 11, "PB81", 'M', Refusal::kClassM},
      {'N', 0, 99, "    ", 'M', Refusal::kClassM},
      {'N', 17, 10, "PA64", 'N', Refusal::kNone},
      {'N', 17, 20, "PA62", 'N', Refusal::kNoPermission},
      {'H', 17, 20, "PA62", 'N', Refusal::kNone},
      {' ', 17, 20, "PA62", 'H', Refusal::kNoPermission},  // any other class is normal
  };
  for (const Case& c : cases) {
    AccessUser user{c.user, 0, "NORBERT   "};
    EXPECT_EQ(refusalFor(user, entry(c.menu, c.number, c.program, c.access), files), c.want)
        << c.user << " " << c.menu << "/" << c.number << " " << c.program << " " << c.access;
  }
}

TEST(MenuAccess, ExplanationsNameTheReason) {
  EXPECT_EQ(explain(Refusal::kNone, entry(17, 20, "PA62", 'N')), "");
  EXPECT_EQ(explain(Refusal::kNoPermission, entry(17, 20, "PA62", 'N')),
            "kein Berechtigungssatz für Programm PA62");
  EXPECT_EQ(explain(Refusal::kClassM, entry(99, 10, "PX03", 'M')),
            "Zugriffsklasse M: nur für Benutzerklasse M");
  EXPECT_EQ(explain(Refusal::kNotInstalled, entry(0, 30, "    ", 'N')),
            "Anwendung nicht installiert!");
}

TEST(MenuAccess, FileLookupsCountAnythingButNoSuchKeyAsThere) {
  testing_support::MemoryStore store;
  ASSERT_TRUE(store.create(kPermissionFile).ok());
  ASSERT_TRUE(store.create(kInstallationFile).ok());
  PermissionRecord p;
  p.setKey(1, "NORBERT", "PA64");
  store.put(kPermissionFile.name, p.view());
  ApplicationRecord app;
  app.setKey(InstallationRecord::kApplicationType, 1, 5);
  store.put(kInstallationFile.name, app.view());
  auto perms = store.file(kPermissionFile);
  auto inst = store.file(kInstallationFile);
  ASSERT_TRUE(perms->open(OpenMode::kInput).ok());
  ASSERT_TRUE(inst->open(OpenMode::kInput).ok());
  FileAccessLookup lookup(*perms, *inst);
  EXPECT_TRUE(lookup.hasPermission(1, "NORBERT   ", "PA64"));
  EXPECT_FALSE(lookup.hasPermission(0, "NORBERT   ", "PA64"));  // another client
  EXPECT_FALSE(lookup.hasPermission(1, "NORBERT   ", "PA62"));
  EXPECT_TRUE(lookup.isInstalled(1, 5));
  EXPECT_FALSE(lookup.isInstalled(1, 30));
  // A file that cannot be read hides nothing, as in the launcher.
  (void)perms->close();
  EXPECT_TRUE(lookup.hasPermission(1, "NORBERT   ", "PA62"));
}

class MenuTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.create(kMenuFile).ok());
    MenuRecord header;
    header.setKey(0, 0);
    store.put(kMenuFile.name, header.view());
    for (const MenuRecord& r :
         {entry(0, 5, "    ", 'N'), entry(0, 30, "    ", 'N'), entry(0, 99, "    ", 'M'),
          entry(5, 10, "PA64", 'N'), entry(5, 20, "PA62", 'N'), entry(5, 40, "    ", 'N'),
          entry(40, 1, "PA60", 'N'), entry(40, 5, "    ", 'N'),  // 40/5 leads back to menu 5
          entry(30, 1, "PA61", 'N'), entry(99, 10, "PX03", 'M')})
      store.put(kMenuFile.name, r.view());
    menus = store.file(kMenuFile);
    ASSERT_TRUE(menus->open(OpenMode::kInput).ok());
    files.permitted = {"PA64", "PA60"};
    files.installed = {5};
  }
  std::vector<std::string> tree(char userClass, bool all) {
    std::vector<std::string> out;
    for (const TreeLine& l : menuTree(*menus, AccessUser{userClass, 0, "NORBERT   "}, files, all))
      out.push_back(std::to_string(l.depth) + ":" + std::to_string(l.entry.menu().value_or(-1)) +
                    "/" + std::to_string(l.entry.entry().value_or(-1)) +
                    (l.refusal == Refusal::kNone ? "" : " " + explain(l.refusal, l.entry)));
    return out;
  }
  testing_support::MemoryStore store;
  std::unique_ptr<KeyedFile> menus;
  Lookup files;
};

TEST_F(MenuTreeTest, NormalUserSeesWhatSheMayAndWithAllWhyNot) {
  EXPECT_EQ(tree('N', false),
            (std::vector<std::string>{"1:0/5", "2:5/10", "2:5/40", "3:40/1", "3:40/5"}));
  EXPECT_EQ(tree('N', true), (std::vector<std::string>{
                                 "1:0/5",
                                 "2:5/10",
                                 "2:5/20 kein Berechtigungssatz für Programm PA62",
                                 "2:5/40",
                                 "3:40/1",
                                 "3:40/5",  // listed, but menu 5 is not entered twice
                                 "1:0/30 Anwendung nicht installiert!",
                                 "1:0/99 Zugriffsklasse M: nur für Benutzerklasse M",
                             }));
}

TEST_F(MenuTreeTest, ClassMSeesEveryEntryAndEveryMenu) {
  const auto all = tree('M', true);
  EXPECT_EQ(all, tree('M', false));
  EXPECT_EQ(all, (std::vector<std::string>{"1:0/5", "2:5/10", "2:5/20", "2:5/40", "3:40/1",
                                           "3:40/5", "1:0/30", "2:30/1", "1:0/99", "2:99/10"}));
}

// A read that fails in the middle is reported, never passed off as the end.
TEST_F(MenuTreeTest, ReadFailuresAreReportedNotPassedOffAsTheEnd) {
  testing_support::FaultStore faulty(store);
  auto menusOf = faulty.file(kMenuFile);
  ASSERT_TRUE(menusOf->open(OpenMode::kInput).ok());
  faulty.fail(kMenuFile.name, testing_support::Op::kReadNext, kIndexDamaged, 1, 3);
  std::optional<ReadFailure> failure;
  const auto lines = menuTree(*menusOf, AccessUser{}, files, true, &failure);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->file, "FX01.DAT");
  EXPECT_EQ(failure->status, kIndexDamaged);
  EXPECT_LT(lines.size(), 10u);

  ASSERT_TRUE(faulty.create(kPermissionFile).ok());
  ASSERT_TRUE(faulty.create(kInstallationFile).ok());
  auto perms = faulty.file(kPermissionFile);
  auto inst = faulty.file(kInstallationFile);
  ASSERT_TRUE(perms->open(OpenMode::kInput).ok());
  ASSERT_TRUE(inst->open(OpenMode::kInput).ok());
  FileAccessLookup lookup(*perms, *inst);
  EXPECT_FALSE(lookup.hasPermission(0, "NORBERT   ", "PA64"));
  EXPECT_FALSE(lookup.failure());  // no such key is an answer, not a failure
  faulty.fail(kPermissionFile.name, testing_support::Op::kStart, kIndexDamaged);
  EXPECT_TRUE(lookup.hasPermission(0, "NORBERT   ", "PA64"));  // as the launcher lists it
  ASSERT_TRUE(lookup.failure());
  EXPECT_EQ(lookup.failure()->file, "FX02.DAT");
}

TEST_F(MenuTreeTest, DeepChainsEndAtDepthTwenty) {
  for (int m = 100; m < 130; ++m) store.put(kMenuFile.name, entry(m, m + 1, "    ", 'N').view());
  store.put(kMenuFile.name, entry(0, 100, "    ", 'N').view());
  int deepest = 0;
  for (const TreeLine& l : menuTree(*menus, AccessUser{}, files, true))
    deepest = std::max(deepest, l.depth);
  EXPECT_EQ(deepest, 20);
}

}  // namespace
}  // namespace datafiles
