#include "programs/sign_on.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>

#include "datafiles/records.h"
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

template <class Op>
datafiles::FileStatus retryingLocks(SignOnContext& ctx, Op op) {
  for (int attempt = 0;; ++attempt) {
    const datafiles::FileStatus s = op();
    if (!s.locked() || attempt >= kLockRetries) return s;
    if (attempt == 0) ctx.console.tell("Datei zur Zeit gesperrt - bitte warten!");
    ctx.waitForLock();
  }
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
  std::string_view word = encoding::trimmed(area.at<Area::kSecondWord>());
  if (!word.empty() && word.size() <= 3 &&
      std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::stoi(std::string(word));
  return encoding::packed3::decode(control.at<datafiles::ControlRecord::kDefaultClient>())
      .value_or(0);
}

// The data directory: the control record's, made absolute against the
// current directory, or the current directory itself; in code page 850 like
// every text of the common area. A path that code page 850 cannot hold or
// that is longer than the field cannot be handed on.
std::optional<std::string> dataDirectory(const SignOnContext& ctx,
                                         const datafiles::ControlRecord& control) {
  const std::string named =
      encoding::getText(control.at<datafiles::ControlRecord::kDataDirectory>());
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
  std::array<char, user_name::kBlockSize> block;
  block.fill(' ');
  block[0] = 'V';
  std::copy(name.begin(), name.end(), block.begin() + 1);
  if (!ctx.loader.call("U001", block.data()).loaded) return std::nullopt;
  std::array<char, 10> out{};
  std::copy_n(block.begin() + 1, out.size(), out.begin());
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

bool passwordAccepted(SignOnContext& ctx, std::string_view hash) {
  for (int attempt = 1; attempt <= kPasswordTries; ++attempt) {
    std::optional<std::string> typed = ctx.console.readLine("Kennwort: ", true);
    if (!typed) return false;  // end of input: no more tries
    const bool ok = password::verify(*typed, hash);
    password::wipe(*typed);
    if (ok) return true;
    if (attempt < kPasswordTries) ctx.console.tell("Kennwort falsch.");
  }
  return false;
}

// The menu value stored for this workstation by the settings store, when
// there is one of eight digits.
std::string storedMenuValue(SignOnContext& ctx, const Area& area) {
  std::array<char, SettingsBlock::kSize> block;
  block.fill(' ');
  block[0] = 'L';
  std::copy_n(area.at<Area::kIdentification>().begin(), 6, block.begin() + 1);
  (void)encoding::putDigits(std::span<char>(block).subspan(SettingsBlock::kClient.offset, 3),
                       area.client());
  std::copy_n("PX01", 4, block.begin() + 10);
  if (!ctx.loader.call("U009", block.data()).loaded) return std::string(kDefaultMenuValue);
  const auto value = std::span<const char>(block).subspan(SettingsBlock::kMenuValue.offset,
                                                          SettingsBlock::kMenuValue.width);
  if (!encoding::getDigits(value)) return std::string(kDefaultMenuValue);
  return std::string(value.begin(), value.end());
}

void fillInstallation(Area& area, const datafiles::ControlRecord& c, int client) {
  using C = datafiles::ControlRecord;
  encoding::putRaw(area.at<Area::kIdentification>(), encoding::view(c.at<C::kIdentification>()));
  area.setClient(client);
  encoding::putRaw(area.at<Area::kClubText>(), encoding::view(c.at<C::kClubText>()));
  const auto header = c.at<C::kHeaderNumber>();
  if (encoding::getDigits(header))
    encoding::putRaw(area.at<Area::kHeaderNumber>(), encoding::view(header));
  else
    encoding::putDigits(area.at<Area::kHeaderNumber>(), 0);
  area.at<Area::kEditionOption1>()[0] = c.at<C::kEditionOption1>()[0];
  area.at<Area::kEditionOption2>()[0] = c.at<C::kEditionOption2>()[0];
  encoding::putRaw(area.at<Area::kInstallationNumber>(),
                   encoding::view(c.at<C::kInstallationNumber>()));
  encoding::putRaw(area.at<Area::kRegionCode>(), encoding::view(c.at<C::kRegionCode>()));
}

void fillFunctionKeys(Area& area) {
  // F1 and F10 help (action 10); F2-F6 their own actions; F7-F9 actions
  // that do nothing, since action 0 would make the key act as Escape.
  for (int key = 1; key <= 10; ++key)
    area.setFunctionKeyAction(key, static_cast<unsigned char>(key == 1 ? 10 : key));
}

std::int32_t refuse(Area& area, SignOnContext& ctx, std::string_view reason) {
  ctx.console.tell(std::string("Anmeldung abgelehnt: ") + std::string(reason));
  encoding::blank(area.at<Area::kUserName>());
  return kRefused;
}

}  // namespace

std::int32_t signOn(pxabi::CommonArea& area, SignOnContext& ctx) {
  std::string why;
  const auto control = readControl(ctx, why);
  if (!control) return refuse(area, ctx, why);

  auto name = area.at<Area::kUserName>();
  if (std::all_of(name.begin(), name.end(), [](char c) { return c == ' ' || c == '\0'; })) {
    std::optional<std::string> typed = ctx.console.readLine("Benutzer: ", false);
    encoding::putText(name, typed ? *typed : std::string());
  }
  if (encoding::isBlank(name)) return refuse(area, ctx, "kein Benutzername.");

  const int client = chooseClient(area, *control);
  const auto directory = dataDirectory(ctx, *control);
  if (!directory) return refuse(area, ctx, "Datenverzeichnis zu lang oder nicht darstellbar.");
  const auto encoded = encodeName(ctx, encoding::view(name));
  if (!encoded) return refuse(area, ctx, "U001 kann nicht geladen werden.");
  const auto user = readUser(ctx, encoding::cp850::toUtf8(*directory), client, *encoded, why);
  if (!user) return refuse(area, ctx, why);
  const std::string_view hash = user->passwordHash();
  if (!hash.empty() && !passwordAccepted(ctx, hash))
    return refuse(area, ctx, "Kennwort falsch.");

  fillInstallation(area, *control, client);
  encoding::putRaw(area.at<Area::kDataDirectory>(), *directory);
  area.at<Area::kUserClass>()[0] = user->userClass();
  (void)encoding::putDigits(area.at<Area::kWorkingDate>(),
                       (ctx.today.tm_year % 100) * 10000LL + (ctx.today.tm_mon + 1) * 100 +
                           ctx.today.tm_mday);
  fillFunctionKeys(area);
  encoding::putRaw(area.at<Area::kCheckValue>(), kCheckValue);
  encoding::putRaw(area.at<Area::kMenuValue>(), storedMenuValue(ctx, area));
  return kDone;
}

}  // namespace programs
