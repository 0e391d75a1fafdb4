// Our programs as the launcher meets them: loaded by name from the build
// tree's program directory, working on real data files in a temporary data
// directory made with the administration tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include "abi/common_area.h"
#include "abi/message_area.h"
#include "abi/screen_data_block.h"
#include "abi/utility_blocks.h"
#include "datafiles/process_store.h"
#include "datafiles/records.h"
#include "datafiles/sqlite_store.h"
#include "encoding/cp850.h"
#include "platform/call_by_name.h"
#include "platform/dl_program_loader.h"
#include "programs/module.h"
#include "testing/fake_program_loader.h"
#include "testing/fault_store.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace {

using Area = pxabi::CommonArea;

using testing_support::buildDir;

class ModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = temp.path();
    data = root + "/daten";
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    saved = std::filesystem::current_path();
    platform::setProcessLoader(&loader);
  }
  void TearDown() override {
    platform::setProcessLoader(nullptr);
    std::filesystem::current_path(saved);
  }
  int admin(const std::string& args, const std::string& input = "") {
    std::string cmd = buildDir() + "/bin/pxadmin " + args + " >/dev/null 2>&1";
    if (!input.empty()) cmd = "printf '" + input + "' | " + cmd;
    return std::system(cmd.c_str());
  }
  void makeInstallation() {
    ASSERT_EQ(admin("init " + data + " --id GILDAX --club 'TV Test' --client 1 --header 7"), 0);
    ASSERT_EQ(admin("user add ANNA --class H --password-stdin --dir " + data, "geheim\\n"), 0);
    ASSERT_EQ(admin("user add BERND --no-password --dir " + data), 0);
    std::filesystem::current_path(data);
  }
  // Calls PX00 with `input` on its standard input.
  std::int32_t signOn(Area& area, const std::string& input) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    EXPECT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(fds[1]);
    const int oldIn = ::dup(STDIN_FILENO);
    const int oldErr = ::dup(STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(fds[0], STDIN_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    const auto out = loader.call("PX00", area.data());
    ::dup2(oldIn, STDIN_FILENO);
    ::dup2(oldErr, STDERR_FILENO);
    for (int fd : {fds[0], oldIn, oldErr, devNull}) ::close(fd);
    EXPECT_TRUE(out.loaded) << loader.lastError();
    loader.unload("PX00");
    return out.returnCode;
  }

  platform::DlProgramLoader loader{{buildDir() + "/lib/px01/programs"}};
  testing_support::TempDir temp{"px-modules"};
  std::string root, data;
  std::filesystem::path saved;
};

TEST_F(ModulesTest, UtilitiesByName) {
  pxabi::UserNameBlock name(pxabi::UserNameBlock::kEncode, "J\x81RGEN");
  EXPECT_EQ(loader.call("U001", name.data()).returnCode, programs::kDone);
  EXPECT_NE(encoding::view(name.name()), "J\x81RGEN    ");
  name.setFunction(pxabi::UserNameBlock::kDecode);
  EXPECT_EQ(loader.call("U001", name.data()).returnCode, programs::kDone);
  EXPECT_EQ(encoding::view(name.name()), "J\x81RGEN    ");
  name.setFunction('?');
  EXPECT_EQ(loader.call("U001", name.data()).returnCode, programs::kBadCall);
  EXPECT_EQ(loader.call("U001", nullptr).returnCode, programs::kBadCall);

  pxabi::TitleBlock title;
  title.setFunction(pxabi::TitleBlock::kCentre);
  title.setLength(10);
  encoding::putRaw(title.text(), "Menu");
  loader.call("U007", title.data());
  EXPECT_EQ(encoding::view(title.text()).substr(0, 10), "   Menu   ");

  pxabi::SettingsBlock settings;
  settings.setFunction(pxabi::SettingsBlock::kSave);
  encoding::putRaw(settings.identification(), "GILDAX");
  encoding::putRaw(settings.client(), "001");
  encoding::putRaw(settings.module(), "PX01");
  encoding::putRaw(settings.menuValue(), "20240101");
  encoding::putRaw(settings.checkValue(), "20221213");
  EXPECT_EQ(loader.call("U009", settings.data()).returnCode, programs::kDone);
  loader.unload("U009");
  encoding::blank(settings.menuValue());
  encoding::blank(settings.checkValue());
  settings.setFunction(pxabi::SettingsBlock::kLoad);
  EXPECT_EQ(loader.call("U009", settings.data()).returnCode, programs::kDone);
  EXPECT_EQ(encoding::view(settings.menuValue()), "20240101");
  EXPECT_EQ(encoding::view(settings.checkValue()), "20221213");
  EXPECT_TRUE(std::filesystem::exists(root + "/config/px01/GILDAX-001-PX01.set"));

  Area area;
  encoding::putBigEndian(area.positionsCount(), 77);
  encoding::putBigEndian(area.addressesCount(), 77);
  const Area before = area;
  loader.call("UM21", area.data());
  loader.call("UM30", area.data());
  EXPECT_EQ(encoding::getBigEndian(area.positionsCount()), 0u);
  EXPECT_EQ(encoding::getBigEndian(area.addressesCount()), 0u);
  EXPECT_EQ(loader.call("PM3G", area.data()).returnCode, programs::kDone);
  EXPECT_EQ(loader.call("UX10", area.data()).returnCode, programs::kDone);
  // Nothing before the counts changes.
  EXPECT_EQ(area.view().substr(0, Area::kPositionsCount.offset),
            before.view().substr(0, Area::kPositionsCount.offset));
}

TEST_F(ModulesTest, UX07GivesTheKeysTheCatalogueWritesForTheInstallation) {
  Area area;
  encoding::putRaw(area.identification(), "GILDAX");
  area.setEditionOption1('N');
  encoding::putRaw(area.installationNumber(), "30005");
  pxabi::CatalogueKeysBlock keys;
  EXPECT_EQ(loader.call("UX07", area.data(), keys.data()).returnCode, programs::kDone);
  ASSERT_TRUE(keys.count());
  std::map<std::pair<int, int>, char> got;
  for (std::size_t i = 0; i < *keys.count(); ++i) {
    const auto k = keys.key(i);
    ASSERT_TRUE(k) << i;
    got[{k->menu, k->entry}] = k->what;
  }
  EXPECT_EQ(got.size(), *keys.count());        // no key twice
  EXPECT_EQ(got[std::pair(99, 10)], 'R');     // "Pflege der Menüdatei"
  EXPECT_EQ(got[std::pair(100, 17)], 'D');    // moved to 100/16
  EXPECT_EQ(got[std::pair(510, 30)], 'D');    // the hall group deletes it
  // The common area comes back as it was.
  Area before;
  encoding::putRaw(before.identification(), "GILDAX");
  before.setEditionOption1('N');
  encoding::putRaw(before.installationNumber(), "30005");
  EXPECT_EQ(area.view(), before.view());
  EXPECT_EQ(loader.call("UX07", area.data()).returnCode, programs::kBadCall);
}

// What F1 and F2 show for our own programs: a German text for each that
// fits the page (40 lines of 78 characters).
TEST(HelpTexts, OurProgramsHaveAHelpTextThatFitsThePage) {
  std::vector<std::string> topics = {"PX01", "PX03", "PX97", "PX98"};
  for (int n = 60; n <= 69; ++n) topics.push_back("PA" + std::to_string(n));
  for (const std::string& topic : topics) {
    const std::string path = buildDir() + "/share/px01/help/" + topic + ".txt";
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const auto text = testing_support::lines(testing_support::readFile(path));
    EXPECT_LE(text.size(), 40u) << topic;
    for (const std::string& line : text)
      EXPECT_LE(encoding::cp850::lengthOf(line), 78u) << topic << ": " << line;
  }
}

TEST_F(ModulesTest, MenuHeaderWithAndWithoutHeaderRecord) {
  makeInstallation();
  Area area;
  datafiles::MenuRecord header;
  std::fill(header.bytes().begin(), header.bytes().end(), '#');
  header.setKey(0, 0);
  loader.call("UX01L", area.data(), header.data());
  EXPECT_EQ(header.versionStamp(), "      ");  // no header yet
  EXPECT_TRUE(header.isHeader());

  datafiles::SqliteStore store;
  auto f = store.file(datafiles::kMenuFile);
  ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
  datafiles::MenuRecord h;
  h.setKey(0, 0);
  h.setVersionStamp("034 - ");
  ASSERT_TRUE(f->write(h.bytes()).ok());
  (void)f->close();
  std::fill(header.bytes().begin(), header.bytes().end(), '#');
  header.setKey(0, 0);
  loader.call("UX01L", area.data(), header.data());
  EXPECT_EQ(header, h);
}

TEST_F(ModulesTest, ApplicationSetUpKeepsOtherBytes) {
  makeInstallation();
  datafiles::SqliteStore store;
  datafiles::ApplicationRecord old;
  std::mt19937 random(3);
  for (char& c : old.bytes()) c = static_cast<char>(random() & 0xFF);
  old.setKey('1', 0, 17);
  {
    auto f = store.file(datafiles::kInstallationFile);
    ASSERT_TRUE(f->open(datafiles::OpenMode::kInputOutput).ok());
    ASSERT_TRUE(f->write(old.bytes()).ok());
    (void)f->close();
  }
  datafiles::ApplicationRecord image;
  image.setKey('1', 0, 17);
  image.setName("Aufgaben");
  Area area;
  EXPECT_EQ(loader.call("UT00S", area.data(), image.data()).returnCode, programs::kDone);
  auto f = store.file(datafiles::kInstallationFile);
  ASSERT_TRUE(f->open(datafiles::OpenMode::kInput).ok());
  datafiles::ApplicationRecord now;
  now.setKey('1', 0, 17);
  ASSERT_TRUE(f->read(now.bytes()).ok());
  (void)f->close();
  EXPECT_EQ(now.name(), "Aufgaben");
  using R = datafiles::ApplicationRecord;
  EXPECT_EQ(now.view().substr(0, R::kName.offset), old.view().substr(0, R::kName.offset));
  EXPECT_EQ(now.view().substr(R::kName.end()), old.view().substr(R::kName.end()));
}

TEST_F(ModulesTest, SignOnOnAnInstallationMadeByTheTool) {
  makeInstallation();
  struct Case {
    std::string name, input;
    bool accepted;
    char userClass;
  };
  const Case cases[] = {
      {"ANNA", "geheim\n", true, 'H'},
      {"ANNA", "nein\nauch nicht\ngeheim\n", true, 'H'},
      {"ANNA", "nein\nnein\nnein\n", false, ' '},
      {"", "BERND\n", true, 'N'},
      {"CARLA", "", false, ' '},
  };
  for (const auto& c : cases) {
    Area area;
    encoding::putRaw(area.userName(), c.name);
    const auto rc = signOn(area, c.input);
    EXPECT_EQ(rc, c.accepted ? programs::kDone : programs::kRefused) << c.name << c.input;
    EXPECT_EQ(encoding::isBlank(area.userName()), !c.accepted) << c.name << c.input;
    if (!c.accepted) continue;
    EXPECT_EQ(area.userClass(), c.userClass);
    EXPECT_EQ(area.client(), 1);
    EXPECT_EQ(encoding::trimmed(area.identification()), "GILDAX");
    EXPECT_EQ(encoding::trimmed(area.headerNumber()), "007");
    EXPECT_EQ(encoding::trimmed(area.dataDirectory()), std::filesystem::current_path().string());
    EXPECT_EQ(area.view().find("geheim"), std::string::npos);
  }
}

// A program called by name works on the process's store: the launcher's,
// whose kept connections then serve both.
TEST_F(ModulesTest, ProgramsWorkOnTheProcessStore) {
  makeInstallation();
  datafiles::SqliteStore sqlite;
  testing_support::FaultStore watched(sqlite);
  datafiles::setProcessStore(&watched);
  Area area;
  datafiles::MenuRecord header;
  header.setKey(0, 0);
  const auto out = loader.call("UX01L", area.data(), header.data());
  datafiles::setProcessStore(nullptr);
  ASSERT_TRUE(out.loaded) << loader.lastError();
  EXPECT_EQ(watched.calls("FX01.DAT", testing_support::Op::kOpen), 1);
  EXPECT_EQ(watched.calls("FX01.DAT", testing_support::Op::kClose), 1);
}

TEST_F(ModulesTest, BackupCopiesTheStoreCanOpen) {
  makeInstallation();
  Area area;
  EXPECT_EQ(loader.call("PX00P", area.data()).returnCode, programs::kDone);
  std::vector<std::filesystem::path> made;
  for (const auto& e : std::filesystem::directory_iterator(data + "/backup"))
    made.push_back(e.path());
  ASSERT_EQ(made.size(), 1u);
  datafiles::SqliteStore store;
  for (const datafiles::FileSpec* spec : {&datafiles::kMenuFile, &datafiles::kPermissionFile}) {
    auto f = store.file(*spec, made[0].string());
    EXPECT_TRUE(f->open(datafiles::OpenMode::kInput).ok()) << spec->name;
    (void)f->close();
  }
}

TEST_F(ModulesTest, SampleProgramsUseTheScreenSetAndChain) {
  testing_support::FakeProgramLoader screen;
  std::vector<std::string> shown;
  screen.add("DSGRUN", [&](void*, void* data) {
    shown.emplace_back(static_cast<const char*>(data) + pxabi::ScreenDataBlock::kMessage.offset,
                       pxabi::MessageArea::kText.width);
    return 0;
  });
  platform::setProcessLoader(&screen);
  for (int n = 60; n <= 69; ++n) {
    Area area;
    encoding::putRaw(area.userName(), "ANNA");
    const std::string name = "PA" + std::to_string(n);
    ASSERT_TRUE(loader.call(name, area.data()).loaded) << loader.lastError();
    loader.unload(name);
    ASSERT_EQ(shown.size(), static_cast<std::size_t>(n - 59));
    EXPECT_EQ(shown.back().rfind(name + " Benutzer ANNA", 0), 0u) << shown.back();
    EXPECT_EQ(encoding::trimmed(area.nextProgram1()), n == 61 ? "PA62" : "") << name;
  }
}

}  // namespace
