#include "tools/admin_common.h"

#include <CLI/CLI.hpp>
#include <array>
#include <ctime>
#include <iostream>

#include "datafiles/store_config.h"
#include "encoding/cp850.h"
#include "encoding/packed.h"
#include "tools/i18n.h"
#include "tools/verbs.h"

namespace tools {

void fail(const std::string& message, int code) {
  std::cerr << "pxadmin: " << message << "\n";
  throw CLI::RuntimeError(code);
}

std::string describe(datafiles::FileStatus s) {
  if (s == datafiles::kFileMissing) return textf(_("%s (file missing; see pxadmin init)"), s.toString().c_str());
  if (s.locked()) return textf(_("%s (locked by another workstation, try again later)"), s.toString().c_str());
  if (s.needsReorganisation()) return textf(_("%s (file must be reorganised)"), s.toString().c_str());
  if (s.invalidKey()) return textf(_("%s (no such key, or the key exists already)"), s.toString().c_str());
  return s.toString();
}

std::string describe(datafiles::FileStatus s, const datafiles::InstallationStore& store) {
  const std::string why = s == datafiles::kPermanentError ? store.lastError() : std::string();
  return describe(s) + (why.empty() ? "" : " (" + why + ")");
}

std::unique_ptr<datafiles::InstallationStore> storeFor(const std::string& dir) {
  std::string error;
  auto store = datafiles::openStore(dir, &error);
  if (!error.empty()) fail(textf(_("%s (in %s)"), error.c_str(), dir.empty() ? "." : dir.c_str()));
  return store;
}

std::unique_ptr<datafiles::KeyedFile> openOrFail(datafiles::InstallationStore& store,
                                                 const datafiles::FileSpec& spec,
                                                 const std::string& dir, datafiles::OpenMode mode) {
  auto f = store.file(spec, dir);
  if (const datafiles::FileStatus s = f->open(mode); !s.ok())
    fail(textf(_("cannot open %s in %s: status %s"), std::string(spec.name).c_str(),
               store.location(dir).c_str(), describe(s, store).c_str()));
  return f;
}

int clientOr(datafiles::FileStore& store, const std::string& dir, std::optional<int> given) {
  if (given) {
    if (*given < 0 || *given > 999) fail(_("--client takes 0-999"), kExitUsage);
    return *given;
  }
  auto f = store.file(datafiles::kInstallationFile, dir);
  datafiles::ControlRecord control;
  datafiles::FileStatus s = f->open(datafiles::OpenMode::kInput);
  if (s.ok()) {
    s = f->read(control.bytes());
    (void)f->close();
  }
  if (!s.ok()) return 0;
  return encoding::packed3::decode(control.defaultClient()).value_or(0);
}

std::string userNameOrFail(std::string_view utf8) {
  const std::string name = encoding::cp850::fromUtf8(utf8);
  if (name.empty() || name.size() > 10 || name.find(' ') != std::string::npos)
    fail(textf(_("a user name has 1 to 10 characters and no blanks: '%s'"),
               std::string(utf8).c_str()),
         kExitUsage);
  return name;
}

std::optional<std::string> userNameCode(platform::ProgramLoader& loader, char function,
                                        std::string_view cp850Name) {
  pxabi::UserNameBlock block(function, cp850Name);
  const platform::CallOutcome out = loader.call("U001", block.data());
  loader.unload("U001");
  if (!out.loaded) return std::nullopt;
  return std::string(encoding::view(block.name()));
}

std::string localNow(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[64];
  return std::strftime(buf, sizeof buf, format, &tm) ? buf : "";
}

std::string todayYymmdd() { return localNow("%y%m%d"); }

}  // namespace tools
