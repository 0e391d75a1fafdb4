// The real call by name: program NAME is the shared object NAME.so in the
// first directory of the program path that holds it, exporting
// `extern "C" int32_t NAME(void*, void*)`. A COBOL module (compiled by cobc)
// is recognised from its file before it is loaded and goes through the COBOL
// run-time, which is started on the first such module only. A program of
// another language that a COBOL program CALLs is loaded here too, so that
// unloading it by name unloads it whoever called it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/cobol_runtime.h"
#include "platform/program_loader.h"

namespace platform {

class DlProgramLoader : public ProgramLoader {
 public:
  // `cobolHandler`: libpxextfh.so, loaded only when a COBOL module is met
  // (empty: <installation root>/lib/libpxextfh.so).
  explicit DlProgramLoader(std::vector<std::string> path, std::string cobolHandler = {});
  ~DlProgramLoader() override;
  DlProgramLoader(const DlProgramLoader&) = delete;
  DlProgramLoader& operator=(const DlProgramLoader&) = delete;

  CallOutcome call(std::string_view name, void* first, void* second = nullptr) override;
  void unload(std::string_view name) override;
  // Adds the directory `library` (a two-letter program prefix) below each
  // program directory to the path, when it exists.
  void preload(std::string_view library) override;
  // The orderly end: ends the COBOL run-time if it was started, which closes
  // the files COBOL programs left open. COBOL programs cannot be called
  // afterwards; others can.
  void shutdown();

  // Why the last load failed, for diagnostics.
  const std::string& lastError() const { return lastError_; }
  const std::vector<std::string>& path() const { return path_; }
  bool isLoaded(std::string_view name) const;
  // Whether a COBOL module has started the COBOL run-time in this process.
  bool cobolStarted() const { return cobol_ && cobol_->started(); }
  // Keeps `name` loaded for the rest of the process (the screen set).
  void pin(std::string_view name);

 private:
  using Entry = std::int32_t (*)(void*, void*);
  struct Loaded {
    void* handle;      // null for COBOL modules: the run-time holds them
    Entry entry;
    bool pinned;
    std::string file;  // the module's path
  };
  Loaded* load(std::string_view name);
  Loaded* loadShared(const std::string& name, const std::string& file);
  // NAME.so in the first directory of the path that holds it; empty if none.
  std::string findFile(const std::string& name) const;
  CobolRuntime& cobol();
  // A COBOL program's CALL of `name`: the entry point when it is a program
  // of another language, loaded (and later unloaded) here like any other;
  // null for COBOL programs and names that are not programs, which the
  // COBOL run-time resolves itself.
  static void* foreignEntry(void* self, const char* name);

  std::vector<std::string> path_;
  std::string cobolHandler_;
  std::unique_ptr<CobolRuntime> cobol_;
  std::map<std::string, Loaded, std::less<>> loaded_;
  std::string lastError_;
};

// The program path: the directories of PX_PROGRAM_PATH (colon-separated;
// a relative one made absolute against the current directory at this call,
// empty ones left out), then the installation's program directory found
// relative to the running executable (../lib/px01/programs), which holds in
// the build tree and in an installed tree alike.
std::vector<std::string> defaultProgramPath();
// The directory of the running executable.
std::string executableDirectory();
// The installation's root (the executable's directory's parent).
std::string installationRoot();

}  // namespace platform
