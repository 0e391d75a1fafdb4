#include "platform/cobol_runtime.h"

#include <dlfcn.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <optional>

namespace platform {
namespace {

// cob_init installs its own handlers for SIGINT, SIGTERM, SIGSEGV, ... and
// sets LC_CTYPE and LC_NUMERIC. The host owns both: it gets them back.
class HostStateGuard {
 public:
  HostStateGuard() {
    for (int s = 1; s < NSIG; ++s) saved_[s] = ::sigaction(s, nullptr, &actions_[s]) == 0;
    if (const char* l = std::setlocale(LC_ALL, nullptr)) locale_ = l;
  }
  ~HostStateGuard() {
    for (int s = 1; s < NSIG; ++s)
      if (saved_[s]) (void)::sigaction(s, &actions_[s], nullptr);
    if (!locale_.empty()) std::setlocale(LC_ALL, locale_.c_str());
  }
  HostStateGuard(const HostStateGuard&) = delete;
  HostStateGuard& operator=(const HostStateGuard&) = delete;

 private:
  struct sigaction actions_[NSIG] {};
  bool saved_[NSIG]{};
  std::string locale_;
};

// Sets an environment variable for the run-time's start (it reads its
// settings once, in cob_init) and puts the old value back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  const std::optional<std::string>& old() const { return old_; }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

template <typename F>
F symbol(void* handle, const char* name) {
  return reinterpret_cast<F>(::dlsym(handle, name));
}

}  // namespace

CobolRuntime::CobolRuntime(std::string handlerLibrary, std::string programPath,
                           ForeignResolver foreign, void* context)
    : handlerLibrary_(std::move(handlerLibrary)),
      programPath_(std::move(programPath)),
      foreign_(foreign),
      context_(context) {}

CobolRuntime::~CobolRuntime() {
  if (forgetResolver_ != nullptr) forgetResolver_(context_);
}

bool CobolRuntime::start() {
  if (state_ == State::kRunning) return true;
  if (state_ == State::kEnded) {
    lastError_ = "the COBOL run-time has been shut down";
    return false;
  }
  if (state_ == State::kFailed) return false;  // lastError_ still tells why
  state_ = State::kFailed;

  // Real unloading on CANCEL, and the program path for CALLs between COBOL
  // programs (after the user's own setting).
  ScopedEnv physicalCancel("COB_PHYSICAL_CANCEL", "1");
  const char* userPath = std::getenv("COB_LIBRARY_PATH");
  std::string libraryPath = userPath != nullptr ? userPath : "";
  if (!programPath_.empty()) libraryPath += (libraryPath.empty() ? "" : ":") + programPath_;
  ScopedEnv callPath("COB_LIBRARY_PATH", libraryPath);
  HostStateGuard hostState;

  handle_ = ::dlopen(handlerLibrary_.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (handle_ == nullptr) {
    const char* e = ::dlerror();
    lastError_ = e != nullptr ? e : "cannot load " + handlerLibrary_;
    return false;
  }
  auto adapterReady = symbol<const char* (*)()>(handle_, "PxExtfhAdapterProblem");
  auto init = symbol<void (*)(int, char**)>(handle_, "cob_init");
  resolve_ = symbol<void* (*)(const char*, int, int)>(handle_, "cob_resolve_cobol");
  resolveError_ = symbol<const char* (*)()>(handle_, "cob_resolve_error");
  cancel_ = symbol<void (*)(const char*)>(handle_, "cob_cancel");
  tidy_ = symbol<int (*)()>(handle_, "cob_tidy");
  useResolver_ = symbol<void (*)(ForeignResolver, void*)>(handle_, "PxExtfhResolveForeign");
  forgetResolver_ = symbol<void (*)(void*)>(handle_, "PxExtfhForgetForeign");
  if (adapterReady == nullptr || init == nullptr || resolve_ == nullptr ||
      resolveError_ == nullptr || cancel_ == nullptr || tidy_ == nullptr ||
      useResolver_ == nullptr || forgetResolver_ == nullptr) {
    lastError_ = handlerLibrary_ + " lacks the run-time entry points";
    return false;
  }
  if (const char* problem = adapterReady()) {
    lastError_ = problem;
    return false;
  }
  static char arg0[] = "px01";
  static char* argv[] = {arg0, nullptr};
  init(1, argv);
  state_ = State::kRunning;
  return true;
}

CobolRuntime::Entry CobolRuntime::load(const std::string& directory, const std::string& name) {
  if (!start()) return nullptr;
  // The run-time is one per process; the loader that calls now serves the
  // CALLs its COBOL programs make.
  useResolver_(foreign_, context_);
  const std::string path = directory + "/" + name;
  void* entry = resolve_(path.c_str(), 0, 0);
  if (entry == nullptr) {
    const char* e = resolveError_();
    lastError_ = e != nullptr ? e : "cannot load " + path;
    return nullptr;
  }
  return reinterpret_cast<Entry>(entry);
}

bool CobolRuntime::cancel(const std::string& name, const std::string& modulePath) {
  if (state_ != State::kRunning) return false;
  cancel_(name.c_str());
  if (void* still = ::dlopen(modulePath.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    ::dlclose(still);
    lastError_ = modulePath + " is still loaded after CANCEL";
    return false;
  }
  return true;
}

void CobolRuntime::cancelCalled(const std::string& name) {
  if (state_ == State::kRunning) cancel_(name.c_str());
}

void CobolRuntime::shutdown() {
  if (state_ == State::kRunning) (void)tidy_();
  state_ = State::kEnded;
}

}  // namespace platform
