// The real call by name: program NAME is the shared object NAME.so in the
// first directory of the program path that holds it, exporting
// `extern "C" int32_t NAME(void*, void*)`.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/program_loader.h"

namespace platform {

class DlProgramLoader : public ProgramLoader {
 public:
  explicit DlProgramLoader(std::vector<std::string> path);
  ~DlProgramLoader() override;
  DlProgramLoader(const DlProgramLoader&) = delete;
  DlProgramLoader& operator=(const DlProgramLoader&) = delete;

  CallOutcome call(std::string_view name, void* first, void* second = nullptr) override;
  void unload(std::string_view name) override;
  // Adds the directory `library` (a two-letter program prefix) below each
  // program directory to the path, when it exists.
  void preload(std::string_view library) override;

  // Why the last load failed, for diagnostics.
  const std::string& lastError() const { return lastError_; }
  const std::vector<std::string>& path() const { return path_; }
  bool isLoaded(std::string_view name) const;
  // Keeps `name` loaded for the rest of the process (the screen set).
  void pin(std::string_view name);

 private:
  using Entry = std::int32_t (*)(void*, void*);
  struct Loaded {
    void* handle;
    Entry entry;
    bool pinned;
  };
  Loaded* load(std::string_view name);

  std::vector<std::string> path_;
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
