#include "programs/sign_on.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>

#include "datafiles/audit_trail.h"
#include "datafiles/lock_wait.h"
#include "datafiles/records.h"
#include "datafiles/sign_on_failures.h"
#include "encoding/cp850.h"
#include "encoding/packed.h"
#include "programs/module.h"
#include "programs/password.h"
#include "programs/settings_store.h"
#include "programs/user_name_code.h"

namespace programs {
namespace {

using Area = pxabi::CommonArea;
constexpr int kLockRetries = 30;

struct Refusal {
  std::string reason;
};

// A file held by another workstation: told once, then tried again every
// `waitForLock` for a while; the sign-on never asks.
datafiles::FileStatus retryingLocks(SignOnContext& ctx,
                                    const std::function<datafiles::FileStatus()>& op) {
  datafiles::RetryTimes policy(kLockRetries, ctx.waitForLock, [&] {
    ctx.console.tell("Datei zur Zeit gesperrt - bitte warten!");
  });
  return datafiles::runWaitingForLocks(policy, op);
}

std::string fileFailure(std::string_view what, std::string_view code, std::string_view op,
                        datafiles::FileStatus s) {
  return std::string(what) + " (" + std::string(code) + " " + std::string(op) + " " +
         s.toString() + ")";
}

// The control record ("0", 0, 0) of FT00.DAT in the current directory.
std::optional<datafiles::ControlRecord> readControl(SignOnContext& ctx, std::string& why) {
  auto file = ctx.store.file(datafiles::kInstallationFile);
  datafiles::FileStatus s =
      retryingLocks(ctx, [&] { return file->open(datafiles::OpenMode::kInput); });
  if (!s.ok()) {
    why = fileFailure("Installationsdatei nicht lesbar", "FT00", "OPEN", s);
    return std::nullopt;
  }
  datafiles::ControlRecord control;
  s = retryingLocks(ctx, [&] { return file->read(control.bytes()); });
  (void)file->close();
  if (!s.ok()) {
    why = fileFailure("Installationsdatei ohne Steuersatz", "FT00", "READ", s);
    return std::nullopt;
  }
  return control;
}

// The client: the second command-line word when it is a number of up to
// three digits, else the installation's default client.
int chooseClient(const Area& area, const datafiles::ControlRecord& control) {
  std::string_view word = encoding::trimmed(area.secondWord());
  if (!word.empty() && word.size() <= 3 &&
      std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::stoi(std::string(word));
  return encoding::packed3::decode(control.defaultClient()).value_or(0);
}

// The data directory: the control record's, made absolute against the
// current directory, or the current directory itself; in code page 850 like
// every text of the common area. A path that code page 850 cannot hold or
// that is longer than the field cannot be handed on.
std::optional<std::string> dataDirectory(const SignOnContext& ctx,
                                         const datafiles::ControlRecord& control) {
  const std::string named = encoding::getText(control.dataDirectory());
  std::filesystem::path dir(ctx.currentDirectory);
  if (!named.empty()) dir /= std::filesystem::path(named);
  std::string utf8 = dir.lexically_normal().string();
  while (utf8.size() > 1 && utf8.back() == '/') utf8.pop_back();
  const std::string text = encoding::cp850::fromUtf8(utf8);
  if (text.empty() || text.size() > Area::kDataDirectory.width ||
      encoding::cp850::toUtf8(text) != utf8)
    return std::nullopt;
  return text;
}

std::optional<std::array<char, 10>> encodeName(SignOnContext& ctx, std::string_view name) {
  pxabi::UserNameBlock block(pxabi::UserNameBlock::kEncode, name);
  if (!ctx.loader.call("U001", block.data()).loaded) return std::nullopt;
  std::array<char, 10> out{};
  std::copy_n(block.name().begin(), out.size(), out.begin());
  return out;
}

std::optional<datafiles::UserRecord> readUser(SignOnContext& ctx, const std::string& directory,
                                        int client, std::span<const char, 10> encoded,
                                        std::string& why) {
  auto file = ctx.store.file(datafiles::kUserFile, directory);
  datafiles::FileStatus s =
      retryingLocks(ctx, [&] { return file->open(datafiles::OpenMode::kInput); });
  if (!s.ok()) {
    why = fileFailure("Benutzerdatei nicht lesbar", "FX00", "OPEN", s);
    return std::nullopt;
  }
  datafiles::UserRecord user;
  const auto key = datafiles::UserRecord::key(client, encoding::view(encoded));
  std::copy(key.begin(), key.end(), user.bytes().begin());
  s = retryingLocks(ctx, [&] { return file->read(user.bytes()); });
  (void)file->close();
  if (s.invalidKey()) {
    why = "Benutzer unbekannt.";
    return std::nullopt;
  }
  if (!s.ok()) {
    why = fileFailure("Benutzerdatei nicht lesbar", "FX00", "READ", s);
    return std::nullopt;
  }
  return user;
}

// Where the sign-on of one user is recorded and counted: the audit trail of
// the data directory.
struct Trail {
  SignOnContext& ctx;
  std::string directory;  // UTF-8
  std::string user;       // code page 850, trimmed
  int client;
  datafiles::AuditTrail audit;
  Trail(SignOnContext& c, std::string dir, std::string_view name, int cl)
      : ctx(c),
        directory(std::move(dir)),
        user(name),
        client(cl),
        audit(c.store, directory, "PX00") {
    audit.setClock(ctx.now);
  }
  void record(std::string_view event, std::string_view result, std::string detail) {
    (void)audit.record(datafiles::AuditEvent(event, user, client)
                           .withObject("PX00")
                           .withResult(result)
                           .withDetail(std::move(detail)));
  }
};

bool passwordAccepted(Trail& trail, std::string_view hash) {
  SignOnContext& ctx = trail.ctx;
  for (int attempt = 1; attempt <= kPasswordTries; ++attempt) {
    // Guessing is slow: after three refused passwords every attempt waits,
    // however many sign-ons it takes.
    const long failures =
        datafiles::signOnFailures(ctx.store, trail.directory, trail.client, trail.user);
    if (const auto delay = datafiles::signOnDelay(failures); delay.count() > 0) {
      trail.record("THROTTLE", std::to_string(delay.count()),
                   "waited " + std::to_string(delay.count()) + " s after " +
                       std::to_string(failures) + " refused passwords");
      ctx.console.tell("Zu viele falsche Kennwörter - bitte " + std::to_string(delay.count()) +
                       " Sekunden warten.");
      ctx.throttle(delay);
    }
    std::optional<std::string> typed = ctx.console.readLine("Kennwort: ", true);
    if (!typed) return false;  // end of input: no more tries
    const bool ok = password::verify(*typed, hash);
    password::wipe(*typed);
    if (ok) {
      datafiles::clearSignOnFailures(ctx.store, trail.directory, trail.client, trail.user);
      return true;
    }
    (void)datafiles::noteSignOnFailure(ctx.store, trail.directory, trail.client, trail.user,
                                       ctx.now());
    if (attempt < kPasswordTries) ctx.console.tell("Kennwort falsch.");
  }
  return false;
}

// The menu value stored for this workstation by the settings store, when
// there is one of eight digits.
std::string storedMenuValue(SignOnContext& ctx, const Area& area) {
  pxabi::SettingsBlock block;
  block.setFunction(pxabi::SettingsBlock::kLoad);
  encoding::putRaw(block.identification(), encoding::view(area.identification()));
  (void)encoding::putDigits(block.client(), area.client());
  encoding::putRaw(block.module(), "PX01");
  if (!ctx.loader.call("U009", block.data()).loaded) return std::string(kDefaultMenuValue);
  const auto value = block.menuValue();
  if (!encoding::getDigits(value)) return std::string(kDefaultMenuValue);
  return std::string(value.begin(), value.end());
}

void fillInstallation(Area& area, const datafiles::ControlRecord& c, int client) {
  encoding::putRaw(area.identification(), encoding::view(c.identification()));
  area.setClient(client);
  encoding::putRaw(area.clubText(), encoding::view(c.clubText()));
  const auto header = c.headerNumber();
  if (encoding::getDigits(header))
    encoding::putRaw(area.headerNumber(), encoding::view(header));
  else
    encoding::putDigits(area.headerNumber(), 0);
  area.setEditionOption1(c.editionOption1()[0]);
  area.setEditionOption2(c.editionOption2()[0]);
  encoding::putRaw(area.installationNumber(), encoding::view(c.installationNumber()));
  encoding::putRaw(area.regionCode(), encoding::view(c.regionCode()));
}

void fillFunctionKeys(Area& area) {
  // F1 and F10 help (action 10); F2-F6 their own actions; F7-F9 actions
  // that do nothing, since action 0 would make the key act as Escape.
  for (int key = 1; key <= 10; ++key)
    area.setFunctionKeyAction(key, static_cast<unsigned char>(key == 1 ? 10 : key));
}

std::int32_t refuse(Area& area, SignOnContext& ctx, std::string_view reason) {
  ctx.console.tell(std::string("Anmeldung abgelehnt: ") + std::string(reason));
  encoding::blank(area.userName());
  return kRefused;
}

}  // namespace

std::int32_t signOn(pxabi::CommonArea& area, SignOnContext& ctx) {
  std::string why;
  const auto control = readControl(ctx, why);
  if (!control) return refuse(area, ctx, why);

  auto name = area.userName();
  if (std::all_of(name.begin(), name.end(), [](char c) { return c == ' ' || c == '\0'; })) {
    std::optional<std::string> typed = ctx.console.readLine("Benutzer: ", false);
    encoding::putText(name, typed ? *typed : std::string());
  }
  if (encoding::isBlank(name)) return refuse(area, ctx, "kein Benutzername.");

  const int client = chooseClient(area, *control);
  const auto directory = dataDirectory(ctx, *control);
  if (!directory) return refuse(area, ctx, "Datenverzeichnis zu lang oder nicht darstellbar.");
  Trail trail(ctx, encoding::cp850::toUtf8(*directory), encoding::trimmed(name), client);
  auto refuseRecorded = [&](const std::string& reason) {
    trail.record("SIGNFAIL", "REFUSED", reason);
    return refuse(area, ctx, reason);
  };
  const auto encoded = encodeName(ctx, encoding::view(name));
  if (!encoded) return refuseRecorded("U001 kann nicht geladen werden.");
  const auto user = readUser(ctx, trail.directory, client, *encoded, why);
  if (!user) return refuseRecorded(why);
  const std::string_view hash = user->passwordHash();
  if (!hash.empty() && !passwordAccepted(trail, hash)) return refuseRecorded("Kennwort falsch.");
  trail.record(
      "SIGNON", "OK",
      std::string("class ") + user->userClass() + (hash.empty() ? ", no password" : ", password"));

  fillInstallation(area, *control, client);
  encoding::putRaw(area.dataDirectory(), *directory);
  area.setUserClass(user->userClass());
  (void)encoding::putDigits(
      area.workingDate(),
      (ctx.today.tm_year % 100) * 10000LL + (ctx.today.tm_mon + 1) * 100 + ctx.today.tm_mday);
  fillFunctionKeys(area);
  encoding::putRaw(area.checkValue(), kCheckValue);
  encoding::putRaw(area.menuValue(), storedMenuValue(ctx, area));
  return kDone;
}

}  // namespace programs
