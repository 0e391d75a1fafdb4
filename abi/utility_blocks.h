// The parameter blocks of the utilities called by name: U001 (user-name
// encoding), U007 (window title), U009 (the workstation's settings store)
// and UT00S (application set-up). Each is a fixed record whose field table is
// proven gap-free at compile time, like the data-file records; the callers
// and our programs read and fill them only through these names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "encoding/field.h"
#include "encoding/packed.h"

namespace pxabi {

// U001, 41 bytes: function "V" encodes the user name in the first 10
// characters of the text, "E" decodes it; the other 30 characters are left
// as they are.
class UserNameBlock : public encoding::FixedRecord<41> {
 public:
  using Field = encoding::Field;
  static constexpr Field kFunction{0, 1}, kName{1, 10}, kRest{11, 30};
  static_assert(encoding::tiles({kFunction, kName, kRest}, kSize));
  static constexpr char kEncode = 'V', kDecode = 'E';

  UserNameBlock() = default;  // blank
  // `function` with a code page 850 name, cut to 10 characters and blank-padded.
  UserNameBlock(char function, std::string_view name) {
    setFunction(function);
    encoding::putRaw(this->name(), name);
  }
  char function() const { return at<kFunction>()[0]; }
  void setFunction(char c) { at<kFunction>()[0] = c; }
  std::span<char, kName.width> name() { return at<kName>(); }
  std::span<const char, kName.width> name() const { return at<kName>(); }
};

// U007, 103 bytes: function "Z" centres the text in the first `length`
// characters (2-byte big-endian binary, at most 100).
class TitleBlock : public encoding::FixedRecord<103> {
 public:
  using Field = encoding::Field;
  static constexpr Field kFunction{0, 1}, kLength{1, 2}, kText{3, 100};
  static_assert(encoding::tiles({kFunction, kLength, kText}, kSize));
  static constexpr char kCentre = 'Z';

  TitleBlock() = default;  // blank
  char function() const { return at<kFunction>()[0]; }
  void setFunction(char c) { at<kFunction>()[0] = c; }
  std::uint16_t length() const {
    return static_cast<std::uint16_t>(encoding::getBigEndian(at<kLength>()));
  }
  void setLength(std::uint16_t n) { encoding::putBigEndian(at<kLength>(), n); }
  std::span<char, kText.width> text() { return at<kText>(); }
  std::span<const char, kText.width> text() const { return at<kText>(); }
};

// U009, 258 bytes: function "L" loads, "S" saves the stored part under the
// key (identification code, client as 3 digits, module name). Of the stored
// part the launcher uses the menu value and the check value; the rest
// travels untouched.
class SettingsBlock : public encoding::FixedRecord<258> {
 public:
  using Field = encoding::Field;
  static constexpr Field kFunction{0, 1}, kIdentification{1, 6}, kClient{7, 3}, kModule{10, 8},
      kStored1{18, 63}, kMenuValue{81, 8}, kStored2{89, 5}, kCheckValue{94, 8}, kStored3{102, 156};
  static_assert(encoding::tiles({kFunction, kIdentification, kClient, kModule, kStored1, kMenuValue,
                                 kStored2, kCheckValue, kStored3},
                                kSize));
  // The key and the whole stored part, each spanning several fields above.
  static constexpr Field kKey{1, 17}, kStored{18, 240};
  static constexpr char kLoad = 'L', kSave = 'S';

  SettingsBlock() = default;  // blank
  char function() const { return at<kFunction>()[0]; }
  void setFunction(char c) { at<kFunction>()[0] = c; }
  std::span<char, kIdentification.width> identification() { return at<kIdentification>(); }
  std::span<const char, kIdentification.width> identification() const {
    return at<kIdentification>();
  }
  std::span<char, kClient.width> client() { return at<kClient>(); }
  std::span<const char, kClient.width> client() const { return at<kClient>(); }
  std::span<char, kModule.width> module() { return at<kModule>(); }
  std::span<const char, kModule.width> module() const { return at<kModule>(); }
  std::span<char, kStored.width> stored() { return at<kStored>(); }
  std::span<const char, kStored.width> stored() const { return at<kStored>(); }
  std::span<char, kMenuValue.width> menuValue() { return at<kMenuValue>(); }
  std::span<const char, kMenuValue.width> menuValue() const { return at<kMenuValue>(); }
  std::span<char, kCheckValue.width> checkValue() { return at<kCheckValue>(); }
  std::span<const char, kCheckValue.width> checkValue() const { return at<kCheckValue>(); }
};

// UT00S, 200 bytes: an image of an application record of the installation
// file (client and application number packed, the application's name).
// UT00S uses the key numbers and the name; the other bytes are not read.
class ApplicationImage : public encoding::FixedRecord<200> {
 public:
  using Field = encoding::Field;
  static constexpr Field kType{0, 1}, kClient{1, 2}, kApplication{3, 2}, kReserved1{5, 42},
      kName{47, 40}, kReserved2{87, 113};
  static_assert(encoding::tiles({kType, kClient, kApplication, kReserved1, kName, kReserved2},
                                kSize));

  ApplicationImage() = default;  // blank
  std::optional<int> client() const { return encoding::packed3::decode(at<kClient>()); }
  std::optional<int> application() const { return encoding::packed3::decode(at<kApplication>()); }
  void setKey(char type, int client, int application) {
    at<kType>()[0] = type;
    encoding::packed3::encode(client, at<kClient>());
    encoding::packed3::encode(application, at<kApplication>());
  }
  std::span<char, kName.width> name() { return at<kName>(); }
  std::span<const char, kName.width> name() const { return at<kName>(); }
};

}  // namespace pxabi
