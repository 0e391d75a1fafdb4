#include "platform/dl_program_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

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

DlProgramLoader::DlProgramLoader(std::vector<std::string> path) : path_(std::move(path)) {}

DlProgramLoader::~DlProgramLoader() {
  // Modules are left to the process end: the screen set may still have its
  // exit handler registered, and unloading it now would pull that code away.
}

bool DlProgramLoader::isLoaded(std::string_view name) const {
  return loaded_.find(trimName(name)) != loaded_.end();
}

DlProgramLoader::Loaded* DlProgramLoader::load(std::string_view rawName) {
  const std::string_view name = trimName(rawName);
  if (auto it = loaded_.find(name); it != loaded_.end()) return &it->second;
  if (!isLoadableName(name)) {
    lastError_ = "not a program name: '" + std::string(rawName) + "'";
    return nullptr;
  }
  const std::string sym(name);
  for (const std::string& dir : path_) {
    if (dir.empty()) continue;
    const std::string file = dir + "/" + sym + ".so";
    if (::access(file.c_str(), R_OK) != 0) continue;
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* err = ::dlerror();
      lastError_ = err ? err : ("cannot load " + file);
      return nullptr;
    }
    auto entry = reinterpret_cast<Entry>(::dlsym(handle, sym.c_str()));
    if (entry == nullptr) {
      lastError_ = file + " does not export " + sym;
      ::dlclose(handle);
      return nullptr;
    }
    return &loaded_.emplace(sym, Loaded{handle, entry, false}).first->second;
  }
  lastError_ = "program " + sym + " not found in the program path";
  return nullptr;
}

CallOutcome DlProgramLoader::call(std::string_view name, void* first, void* second) {
  Loaded* p = load(name);
  if (p == nullptr) return {false, 0};
  return {true, p->entry(first, second)};
}

void DlProgramLoader::unload(std::string_view name) {
  auto it = loaded_.find(trimName(name));
  if (it == loaded_.end() || it->second.pinned) return;
  ::dlclose(it->second.handle);
  loaded_.erase(it);
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
