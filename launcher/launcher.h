// The launcher PX01: start-up and shutdown, the main menu loop with its
// access checks, messages and error stops, and the program dispatch. It owns
// the common area, the screen control and data blocks and the message area
// for the whole run. The platform reaches it only through the interfaces
// passed in, so that tests drive it with fakes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "abi/common_area.h"
#include "abi/message_area.h"
#include "abi/screen_data_block.h"
#include "abi/utility_blocks.h"
#include "datafiles/audit_trail.h"
#include "datafiles/keyed_file.h"
#include "datafiles/lock_wait.h"
#include "datafiles/records.h"
#include "datafiles/sessions.h"
#include "platform/process.h"
#include "platform/program_loader.h"
#include "platform/screen_set.h"

namespace launcher {

// The exit status of the process for the launcher's return code. A process
// can only end with 0 to 255, and shells read 126 to 255 as "not runnable"
// or "ended by a signal": 0 and 1 to 125 stay as they are, every other code
// (a screen-set error such as 9101, 256, a negative one) ends as
// kOtherFailure, so that no failure ever reads as success or as a signal.
inline constexpr int kOtherFailure = 125;
int exitStatus(std::int32_t returnCode);

class Launcher {
 public:
  static constexpr std::string_view kModuleName = "PX01";
  static constexpr std::string_view kModuleId = "PX01 - 013";
  static constexpr int kMaxLevel = 20;
  static constexpr std::size_t kMaxRows = 99;

  Launcher(platform::ProgramLoader& loader, platform::ScreenSet& screen,
           datafiles::FileStore& store, platform::Process& process);
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  // The whole run; returns the process return code, the return code of the
  // last call made. The error stop (a screen-set error, a cancelled lock
  // wait) ends the run at once: open files closed, no orderly shutdown.
  //
  // Asked to end from outside (Process::endSignal), the run goes to the
  // orderly shutdown at its next safe point: after the screen-set call, the
  // file operation or the called program that was under way. Nothing more
  // is shown or called then (no follow-up program, no box; a lock met on the
  // way out is waited for briefly, never asked about), and the shutdown
  // closes the files, stores the settings, takes the sign-on mark off and
  // ends the screen set.
  int run();
  // Whether the run ended by the error stop.
  bool stoppedAtOnce() const { return stopped_; }

  // Closes every data file that is open, statuses not examined. Used by the
  // error stop and when the process is ended from outside.
  void closeOpenFiles();

  // The audit trail's clock, for tests.
  void setAuditClock(datafiles::AuditTrail::Clock clock) {
    auditClock_ = clock;
    audit_.setClock(std::move(clock));
  }

  // For tests and diagnostics.
  const pxabi::CommonArea& commonArea() const { return area_; }
  int level() const { return level_; }
  int currentMenu() const { return menu_; }
  std::int32_t returnCode() const { return rc_; }

 private:
  // kStop: the error stop happened; nothing more is shown, called or opened.
  enum class Step { kList, kShow, kLeave, kStop };
  struct Row {
    int entry = 0;
    std::string text;     // 40 bytes, code page 850
    std::string program;  // 4 characters and a blank
    char flag = ' ';
  };
  struct Level {
    int menu = 0;
    std::string title;
    int positions = 0;  // list position and selection, last two digits each
  };

  // Start-up and shutdown.
  void callSettings(char function);
  void startScreenSet();
  void checkMenuVersion();
  void setSignOn(char flag);
  void openMenuFiles();
  void closeMenuFilesAndStore();
  void endScreenSet();

  // Messages and error stops.
  void callScreen();
  void runProcedure(std::string_view procedure);
  void showBox(std::string_view procedure);
  void showFileError(std::string_view text, std::string_view code, std::string_view operation,
                     datafiles::FileStatus status);
  // A status that is neither success, end of file, an invalid key nor a
  // lock (which the lock wait has dealt with): the file cannot be worked
  // with (damaged, unreadable, the server gone). Shows "Fehler" with the
  // file, the operation and the status, and the menu phase ends in order;
  // true then. Nothing read in error is ever used.
  bool fileFailed(std::string_view code, std::string_view operation, datafiles::FileStatus status);
  // The lock wait: the box "Datei zur Zeit gesperrt - bitte warten!" with
  // retry or cancel; true to retry.
  bool askToRetry(std::string_view code, datafiles::FileStatus status);
  datafiles::FileStatus withLockWait(std::string_view code,
                                     const std::function<datafiles::FileStatus()>& op);
  void stopAtOnce();

  // The audit trail: one record of the signed-on user; never waits, never
  // fails the run (datafiles/audit_trail.h).
  void audit(std::string_view event, std::string_view object = {}, std::string_view result = {},
             std::string detail = {});
  // The live session of the signed-on user (datafiles/sessions.h), from
  // the sign-on to the end; a session that ends is recorded as "SIGNOFF".
  void beginSession();
  void endSession(std::string_view result, std::string detail);
  // Whether the process was asked to end from outside.
  bool ending() const { return process_.endSignal() != 0; }

  // Program dispatch.
  void dispatch();
  // Calls a utility by name; the return code is kept when it could be loaded.
  void callUtility(std::string_view name, void* first, void* second = nullptr, bool unload = true);

  // Access checks.
  // False when refused or when the permission file failed (fileFailed).
  bool permitted(std::string_view program);
  datafiles::FileStatus readControl();
  // The system is locked: a normal user is stopped (`program`: the one he
  // chose, if any).
  Step lockedOut(std::string_view program = {});
  void toggleLock();

  // Main menu loop.
  void runMenu();
  Step buildList();
  Step show();
  Step act(int action);
  Step choose();
  Step callFromMenu();
  Step openSubmenu(const Row& row);
  Step goUp();
  void help(char mode, std::string_view topic, std::string_view text);
  void buildStatusLine(std::string_view program5);
  void fillDisplay();
  const Row* currentRow() const;

  platform::ProgramLoader& loader_;
  platform::ScreenSet& screen_;
  datafiles::FileStore& store_;
  platform::Process& process_;

  pxabi::CommonArea area_;
  pxabi::ScreenControlBlock control_;
  pxabi::ScreenDataBlock data_;
  pxabi::MessageArea message_;
  pxabi::SettingsBlock settings_;  // U009's block, loaded at start and saved at the end
  std::int32_t rc_ = 0;
  std::string callName_ = std::string(10, ' ');
  std::string statusName_ = std::string(5, ' ');
  bool abort_ = false;
  bool stopped_ = false;
  // The lock wait once the process is ending: the same short limit for
  // every lock met on the way out.
  std::optional<datafiles::BoundedWait> endingWait_;
  std::string signedOnName_ = std::string(10, ' ');
  int signedOnClient_ = 0;

  std::unique_ptr<datafiles::KeyedFile> ft00_, fx01_, fx02_;

  datafiles::AuditTrail audit_;
  datafiles::AuditTrail::Clock auditClock_;
  datafiles::LiveSession session_;
  bool sessionOpen_ = false;
  std::string auditUser_;  // the user signed on, code page 850, trimmed
  int auditClient_ = -1;
  // Where the next program call comes from ("menu 19/1 Recorder"), for its
  // "CALL" record; follow-up programs say whose they are.
  std::string callOrigin_;
  datafiles::ControlRecord control0_;  // the control record as last read

  int menu_ = 0;
  int level_ = 1;
  std::string title_;
  std::array<Level, kMaxLevel + 1> stack_{};
  std::array<Row, kMaxRows> rows_{};
  std::size_t count_ = 0;
  std::size_t chosen_ = 0;
  std::string banner_ = std::string(40, ' ');
  std::string statusLine_ = std::string(20, ' ');
  std::array<std::string, 9> captions_;
  std::string date_ = std::string(8, ' ');
};

}  // namespace launcher
