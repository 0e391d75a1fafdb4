// Record layouts of the four data files. Every field has a named offset and
// width; reserved ranges are named too, so that the compile-time check proves
// each table complete. Accessors change single fields and leave every other
// byte as it was read.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "abi/utility_blocks.h"
#include "encoding/field.h"
#include "encoding/packed.h"

namespace datafiles {

// FX00.DAT, 210 bytes, key bytes 0-11 (client, encoded user name).
class UserRecord : public encoding::FixedRecord<210> {
 public:
  static constexpr std::size_t kKeyLength = 12;
  static constexpr encoding::Field kClient{0, 2}, kEncodedName{2, 10}, kReserved1{12, 3},
      kSignOnFlag{15, 1}, kReserved2{16, 3}, kUserClass{19, 1},
      // Our sign-on keeps a salted password hash here; blank = no password.
      kPasswordHash{20, 128}, kReserved3{148, 62};
  static_assert(encoding::tiles({kClient, kEncodedName, kReserved1, kSignOnFlag, kReserved2,
                                 kUserClass, kPasswordHash, kReserved3},
                                kSize));
  std::optional<int> client() const { return encoding::packed3::decode(at<kClient>()); }
  void setClient(int n) { encoding::packed3::encode(n, at<kClient>()); }
  std::string_view encodedName() const { return encoding::view(at<kEncodedName>()); }
  void setEncodedName(std::string_view tenBytes) { encoding::putRaw(at<kEncodedName>(), tenBytes); }
  char signOnFlag() const { return at<kSignOnFlag>()[0]; }
  void setSignOnFlag(char c) { at<kSignOnFlag>()[0] = c; }
  char userClass() const { return at<kUserClass>()[0]; }
  void setUserClass(char c) { at<kUserClass>()[0] = c; }
  std::string_view passwordHash() const { return encoding::trimmed(at<kPasswordHash>()); }
  void setPasswordHash(std::string_view h) { encoding::putRaw(at<kPasswordHash>(), h); }
  // Key: client followed by the encoded user name.
  static std::array<char, kKeyLength> key(int client, std::string_view encodedName);
  PX_FIELD(clientField, kClient)
  PX_FIELD(encodedNameField, kEncodedName)
};

// FX01.DAT, 58 bytes, key bytes 0-5 (menu set 0, menu number, entry number).
class MenuRecord : public encoding::FixedRecord<58> {
 public:
  static constexpr std::size_t kKeyLength = 6;
  static constexpr encoding::Field kMenuSet{0, 2}, kMenu{2, 2}, kEntry{4, 2}, kVersionStamp{6, 6},
      kEntryFlag{12, 1}, kText{13, 40}, kProgram{53, 4}, kAccessClass{57, 1};
  static_assert(encoding::tiles({kMenuSet, kMenu, kEntry, kVersionStamp, kEntryFlag, kText,
                                 kProgram, kAccessClass},
                                kSize));
  std::optional<int> menu() const { return encoding::packed3::decode(at<kMenu>()); }
  std::optional<int> entry() const { return encoding::packed3::decode(at<kEntry>()); }
  // The header record 0/0/0, whatever the sign nibbles.
  bool isHeader() const {
    return encoding::packed3::isZero(at<kMenu>()) && encoding::packed3::isZero(at<kEntry>());
  }
  void setKey(int menu, int entry) {
    encoding::packed3::encode(0, at<kMenuSet>());
    encoding::packed3::encode(menu, at<kMenu>());
    encoding::packed3::encode(entry, at<kEntry>());
  }
  std::string_view versionStamp() const { return encoding::view(at<kVersionStamp>()); }
  void setVersionStamp(std::string_view sixBytes) {
    encoding::putRaw(at<kVersionStamp>(), sixBytes);
  }
  char entryFlag() const { return at<kEntryFlag>()[0]; }
  void setEntryFlag(char c) { at<kEntryFlag>()[0] = c; }
  std::string text() const { return encoding::getText(at<kText>()); }  // UTF-8
  void setText(std::string_view utf8) { encoding::putText(at<kText>(), utf8); }
  std::string_view program() const { return encoding::view(at<kProgram>()); }  // 4 raw bytes
  void setProgram(std::string_view p) { encoding::putRaw(at<kProgram>(), p); }
  bool opensSubmenu() const { return encoding::isBlank(at<kProgram>()); }
  char accessClass() const { return at<kAccessClass>()[0]; }
  void setAccessClass(char c) { at<kAccessClass>()[0] = c; }
  static std::array<char, kKeyLength> key(int menu, int entry);
  PX_FIELD(menuSetField, kMenuSet)
  PX_FIELD(menuField, kMenu)
  PX_FIELD(entryField, kEntry)
  PX_FIELD(versionStampField, kVersionStamp)
  PX_FIELD(entryFlagField, kEntryFlag)
  PX_FIELD(textField, kText)
  PX_FIELD(programField, kProgram)
  PX_FIELD(accessClassField, kAccessClass)
};

// FX02.DAT, 35 bytes, key bytes 0-16 (client, user name, program, blank).
class PermissionRecord : public encoding::FixedRecord<35> {
 public:
  static constexpr std::size_t kKeyLength = 17;
  static constexpr encoding::Field kClient{0, 2}, kUserName{2, 10}, kProgram{12, 4},
      kKeyBlank{16, 1}, kGrantDate{17, 6}, kLevel{23, 1}, kFlag{24, 1}, kText{25, 10};
  static_assert(encoding::tiles({kClient, kUserName, kProgram, kKeyBlank, kGrantDate, kLevel, kFlag,
                                 kText},
                                kSize));
  void setKey(int client, std::string_view userName, std::string_view program) {
    encoding::packed3::encode(client, at<kClient>());
    encoding::putRaw(at<kUserName>(), userName);
    encoding::putRaw(at<kProgram>(), program);
    at<kKeyBlank>()[0] = ' ';
  }
  std::optional<int> client() const { return encoding::packed3::decode(at<kClient>()); }
  std::string_view userName() const { return encoding::view(at<kUserName>()); }  // code page 850
  std::string_view program() const { return encoding::view(at<kProgram>()); }
  std::string_view grantDate() const { return encoding::view(at<kGrantDate>()); }
  void setGrantDate(std::string_view yymmdd) { encoding::putRaw(at<kGrantDate>(), yymmdd); }
  char level() const { return at<kLevel>()[0]; }
  void setLevel(char c) { at<kLevel>()[0] = c; }
  char flag() const { return at<kFlag>()[0]; }
  void setFlag(char c) { at<kFlag>()[0] = c; }
  std::string_view text() const { return encoding::view(at<kText>()); }
  void setText(std::string_view t) { encoding::putRaw(at<kText>(), t); }
  static std::array<char, kKeyLength> key(int client, std::string_view userName,
                                          std::string_view program);
  PX_FIELD(programField, kProgram)
  PX_FIELD(keyBlankField, kKeyBlank)
  PX_FIELD(flagField, kFlag)
  PX_FIELD(textField, kText)
};

// FT00.DAT, 200 bytes, key bytes 0-4 (record type, client, application).
class InstallationRecord : public encoding::FixedRecord<200> {
 public:
  static constexpr std::size_t kKeyLength = 5;
  static constexpr encoding::Field kType{0, 1}, kClient{1, 2}, kApplication{3, 2};
  static constexpr char kControlType = '0', kApplicationType = '1';
  std::optional<int> client() const { return encoding::packed3::decode(at<kClient>()); }
  std::optional<int> application() const { return encoding::packed3::decode(at<kApplication>()); }
  char type() const { return at<kType>()[0]; }
  void setKey(char type, int client, int application) {
    at<kType>()[0] = type;
    encoding::packed3::encode(client, at<kClient>());
    encoding::packed3::encode(application, at<kApplication>());
  }
  static std::array<char, kKeyLength> key(char type, int client, int application);
};

// The control record ("0", 0, 0). Byte 160 is the normal-user lock flag. The
// installation's own settings live in the range reserved for the suite's
// programs; bytes 161-199 stay reserved.
class ControlRecord : public InstallationRecord {
 public:
  static constexpr encoding::Field kIdentification{5, 6}, kClubText{11, 40}, kEditionOption1{51, 1},
      kEditionOption2{52, 1}, kInstallationNumber{53, 5}, kRegionCode{58, 3},
      kHeaderNumber{61, 3}, kDefaultClient{64, 2}, kDataDirectory{66, 94}, kLockFlag{160, 1},
      kReserved{161, 39};
  static_assert(encoding::tiles({kType, kClient, kApplication, kIdentification, kClubText,
                       kEditionOption1, kEditionOption2, kInstallationNumber, kRegionCode,
                       kHeaderNumber, kDefaultClient, kDataDirectory, kLockFlag, kReserved},
                      kSize));
  ControlRecord() { setKey(kControlType, 0, 0); }
  char lockFlag() const { return at<kLockFlag>()[0]; }
  void setLockFlag(char c) { at<kLockFlag>()[0] = c; }
  bool locked() const { return lockFlag() == 'J'; }
  PX_FIELD(identification, kIdentification)
  PX_FIELD(clubText, kClubText)
  PX_FIELD(editionOption1, kEditionOption1)
  PX_FIELD(editionOption2, kEditionOption2)
  PX_FIELD(installationNumber, kInstallationNumber)
  PX_FIELD(regionCode, kRegionCode)
  PX_FIELD(headerNumber, kHeaderNumber)
  PX_FIELD(defaultClient, kDefaultClient)
  PX_FIELD(dataDirectory, kDataDirectory)
  PX_FIELD(reserved, kReserved)
};

// An application record ("1", client, application number).
class ApplicationRecord : public InstallationRecord {
 public:
  static constexpr encoding::Field kReserved1{5, 42}, kName{47, 40}, kReserved2{87, 113};
  static_assert(encoding::tiles({kType, kClient, kApplication, kReserved1, kName, kReserved2},
                                kSize));
  std::string name() const { return encoding::getText(at<kName>()); }
  void setName(std::string_view utf8) { encoding::putText(at<kName>(), utf8); }
  PX_FIELD(nameField, kName)
};
// UT00S receives application records as the image of its block.
static_assert(ApplicationRecord::kSize == pxabi::ApplicationImage::kSize &&
              ApplicationRecord::kClient == pxabi::ApplicationImage::kClient &&
              ApplicationRecord::kApplication == pxabi::ApplicationImage::kApplication &&
              ApplicationRecord::kName == pxabi::ApplicationImage::kName);

}  // namespace datafiles
