#include "platform/dl_program_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "platform/elf_deps.h"

namespace platform {

std::string_view trimName(std::string_view name) {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return name;
}

bool isLoadableName(std::string_view name) {
  name = trimName(name);
  if (name.empty() || name.size() > 10) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

DlProgramLoader::DlProgramLoader(std::vector<std::string> path, std::string cobolHandler)
    : path_(std::move(path)), cobolHandler_(std::move(cobolHandler)) {
  if (cobolHandler_.empty()) cobolHandler_ = installationRoot() + "/lib/libpxextfh.so";
}

DlProgramLoader::~DlProgramLoader() {
  // Modules are left to the process end: the screen set may still have its
  // exit handler registered, and unloading it now would pull that code away.
}

CobolRuntime& DlProgramLoader::cobol() {
  if (!cobol_) {
    // A COBOL CALL of another program searches the program path as it
    // stands when the run-time starts.
    std::string joined;
    for (const std::string& dir : path_) joined += (joined.empty() ? "" : ":") + dir;
    cobol_ = std::make_unique<CobolRuntime>(cobolHandler_, joined, &DlProgramLoader::foreignEntry,
                                            this);
  }
  return *cobol_;
}

bool DlProgramLoader::isLoaded(std::string_view name) const {
  return loaded_.find(trimName(name)) != loaded_.end();
}

std::string DlProgramLoader::findFile(const std::string& name) const {
  for (const std::string& dir : path_) {
    if (dir.empty()) continue;
    std::string file = dir + "/" + name + ".so";
    if (::access(file.c_str(), R_OK) == 0) return file;
  }
  return {};
}

DlProgramLoader::Loaded* DlProgramLoader::load(std::string_view rawName) {
  const std::string_view name = trimName(rawName);
  if (auto it = loaded_.find(name); it != loaded_.end()) return &it->second;
  if (!isLoadableName(name)) {
    lastError_ = "not a program name: '" + std::string(rawName) + "'";
    return nullptr;
  }
  const std::string sym(name);
  const std::string file = findFile(sym);
  if (file.empty()) {
    lastError_ = "program " + sym + " not found in the program path";
    return nullptr;
  }
  if (isCobolModule(file)) {
    // The run-time loads it and later cancels it: its call table then
    // never keeps a pointer into a module that is gone.
    const std::string dir = file.substr(0, file.size() - sym.size() - 4);
    const Entry entry = cobol().load(dir, sym);
    if (entry == nullptr) {
      lastError_ = cobol().lastError();
      return nullptr;
    }
    return &loaded_.emplace(sym, Loaded{nullptr, entry, false, file}).first->second;
  }
  return loadShared(sym, file);
}

DlProgramLoader::Loaded* DlProgramLoader::loadShared(const std::string& name,
                                                     const std::string& file) {
  void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* err = ::dlerror();
    lastError_ = err ? err : ("cannot load " + file);
    return nullptr;
  }
  auto entry = reinterpret_cast<Entry>(::dlsym(handle, name.c_str()));
  if (entry == nullptr) {
    lastError_ = file + " does not export " + name;
    ::dlclose(handle);
    return nullptr;
  }
  return &loaded_.emplace(name, Loaded{handle, entry, false, file}).first->second;
}

void* DlProgramLoader::foreignEntry(void* self, const char* rawName) {
  auto& loader = *static_cast<DlProgramLoader*>(self);
  const std::string_view name = trimName(rawName);
  if (!isLoadableName(name)) return nullptr;  // the run-time's own routines, paths
  if (auto it = loader.loaded_.find(name); it != loader.loaded_.end())
    return it->second.handle != nullptr ? reinterpret_cast<void*>(it->second.entry) : nullptr;
  const std::string sym(name);
  const std::string file = loader.findFile(sym);
  if (file.empty() || isCobolModule(file)) return nullptr;
  Loaded* p = loader.loadShared(sym, file);
  return p != nullptr ? reinterpret_cast<void*>(p->entry) : nullptr;
}

CallOutcome DlProgramLoader::call(std::string_view name, void* first, void* second) {
  Loaded* p = load(name);
  if (p == nullptr) return {false, 0};
  return {true, p->entry(first, second)};
}

void DlProgramLoader::unload(std::string_view name) {
  auto it = loaded_.find(trimName(name));
  if (it == loaded_.end()) {
    // A program that a COBOL program CALLed belongs to the run-time: its
    // CANCEL unloads it all the same.
    if (cobolStarted() && isLoadableName(name)) cobol_->cancelCalled(std::string(trimName(name)));
    return;
  }
  if (it->second.pinned) return;
  if (it->second.handle != nullptr) {
    ::dlclose(it->second.handle);
  } else if (!cobol().cancel(it->first, it->second.file)) {
    lastError_ = cobol().lastError();
  }
  loaded_.erase(it);
}

void DlProgramLoader::shutdown() {
  if (!cobol_) return;
  // Pinned COBOL modules stay mapped; the run-time's end closes their files.
  std::erase_if(loaded_, [](const auto& entry) { return entry.second.handle == nullptr; });
  cobol_->shutdown();
}

void DlProgramLoader::pin(std::string_view name) {
  if (Loaded* p = load(name)) p->pinned = true;
}

void DlProgramLoader::preload(std::string_view library) {
  if (!isLoadableName(library)) return;
  const std::size_t n = path_.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::string dir = path_[i] + "/" + std::string(trimName(library));
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) path_.push_back(dir);
  }
}

std::string executableDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return exe.parent_path().string();
}

std::string installationRoot() {
  return std::filesystem::path(executableDirectory()).parent_path().string();
}

std::vector<std::string> defaultProgramPath() {
  std::vector<std::string> path;
  if (const char* env = std::getenv("PX_PROGRAM_PATH")) {
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    std::string_view rest(env);
    while (!rest.empty()) {
      const auto colon = rest.find(':');
      const std::filesystem::path dir(rest.substr(0, colon));
      // A relative directory is taken in the current directory now, once:
      // left relative, it would be looked up wherever the process is when
      // it loads a program (the shared data directory, for the launcher).
      // Without a current directory it cannot be placed and is left out.
      if (dir.is_absolute()) path.push_back(dir.string());
      else if (!dir.empty() && !ec) path.push_back((here / dir).string());
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  path.push_back(installationRoot() + "/lib/px01/programs");
  return path;
}

}  // namespace platform
