// The COBOL run-time (GnuCOBOL's libcob) inside a process that does not link
// it. It is started on first need by loading the file handler library
// libpxextfh.so, which brings libcob with it and adapts it (see
// cobol/runtime_adapter.cc), and then calling cob_init. From then on COBOL
// modules are loaded through the run-time itself, so that its own CANCEL can
// close their files, free their WORKING-STORAGE and unload them without the
// run-time keeping a pointer into an unloaded module.
//
// Only dlopen and dlsym are used here: the launcher and libpxcore never link
// libcob, and a process that calls no COBOL program never maps it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class CobolRuntime {
 public:
  using Entry = std::int32_t (*)(void*, void*);
  // The entry point of a program that is not COBOL, for a COBOL CALL of it;
  // null lets the run-time look for the program itself.
  using ForeignResolver = void* (*)(void* context, const char* name);

  // `handlerLibrary`: path of libpxextfh.so. `programPath`: directories that
  // a COBOL CALL of another program searches (colon-separated, may be empty).
  // `foreign`, `context`: who serves COBOL CALLs of other programs.
  CobolRuntime(std::string handlerLibrary, std::string programPath,
               ForeignResolver foreign = nullptr, void* context = nullptr);
  CobolRuntime(const CobolRuntime&) = delete;
  CobolRuntime& operator=(const CobolRuntime&) = delete;
  // Does not end the run-time (that is shutdown(), at the orderly end); its
  // resolver of other programs is taken back.
  ~CobolRuntime();

  bool started() const { return state_ == State::kRunning; }
  // Loads DIRECTORY/NAME.so through the run-time (starting it first if
  // needed) and returns its entry point; null with lastError() on failure.
  Entry load(const std::string& directory, const std::string& name);
  // The run-time's own CANCEL of program `name`: closes the files it left
  // open, frees its WORKING-STORAGE and unloads the module. False (with
  // lastError) when the module is still mapped afterwards.
  bool cancel(const std::string& name, const std::string& modulePath);
  // CANCEL of a program that COBOL programs CALLed (the run-time loaded it);
  // a name the run-time does not know is left alone.
  void cancelCalled(const std::string& name);
  // Closes every file still open and frees the run-time's memory. The
  // run-time cannot be started again in this process afterwards.
  void shutdown();
  const std::string& lastError() const { return lastError_; }

 private:
  enum class State { kIdle, kRunning, kFailed, kEnded };
  bool start();

  std::string handlerLibrary_;
  std::string programPath_;
  State state_ = State::kIdle;
  std::string lastError_;
  ForeignResolver foreign_;
  void* context_;
  void* handle_ = nullptr;
  void (*useResolver_)(ForeignResolver, void*) = nullptr;
  void (*forgetResolver_)(void*) = nullptr;
  void* (*resolve_)(const char*, int, int) = nullptr;
  const char* (*resolveError_)() = nullptr;
  void (*cancel_)(const char*) = nullptr;
  int (*tidy_)() = nullptr;
};

}  // namespace platform
