// The parameter blocks of the utilities called by name: U001 (user-name
// encoding), U007 (window title), U009 (the workstation's settings store),
// UT00S (application set-up) and UX07 (the keys the catalogue writes). Each is a fixed record whose field table is
// proven gap-free at compile time, like the data-file records; the callers
// and our programs read and fill them only through these names.
#pragma once

#include <algorithm>
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

// UX07, 7,004 bytes: the menu-file keys that the catalogue's next run for the
// installation in the common area writes or takes away. A count (4 digits)
// and up to 1,000 keys of 7 characters each: menu number and entry number
// (3 digits each) and what the run does with the entry.
class CatalogueKeysBlock : public encoding::FixedRecord<7004> {
 public:
  using Field = encoding::Field;
  static constexpr std::size_t kMaxKeys = 1000, kKeyWidth = 7;
  static constexpr Field kCount{0, 4}, kKeys{4, kMaxKeys * kKeyWidth};
  static_assert(encoding::tiles({kCount, kKeys}, kSize));
  static constexpr char kRewritten = 'R';  // written with its built-in content
  static constexpr char kOnlyIfNew = 'N';  // written only when missing, else kept
  static constexpr char kRemoved = 'D';    // moved to another key or deleted

  struct Key {
    int menu, entry;
    char what;
  };

  CatalogueKeysBlock() = default;  // blank: no count
  // The keys handed back; nothing when the count is not digits.
  std::optional<std::size_t> count() const {
    const auto n = encoding::getDigits(at<kCount>());
    if (!n) return std::nullopt;
    return std::min<std::size_t>(static_cast<std::size_t>(*n), kMaxKeys);
  }
  // Key `i` (from 0); nothing when its numbers are not digits.
  std::optional<Key> key(std::size_t i) const {
    const auto k = at<kKeys>().subspan(i * kKeyWidth, kKeyWidth);
    const auto menu = encoding::getDigits(k.first(3)), entry = encoding::getDigits(k.subspan(3, 3));
    if (!menu || !entry) return std::nullopt;
    return Key{static_cast<int>(*menu), static_cast<int>(*entry), k[6]};
  }
  // Appends a key; false when the block is full.
  bool add(const Key& key) {
    const std::size_t n = count().value_or(0);
    if (n >= kMaxKeys) return false;
    const auto k = at<kKeys>().subspan(n * kKeyWidth, kKeyWidth);
    (void)encoding::putDigits(k.first(3), key.menu);
    (void)encoding::putDigits(k.subspan(3, 3), key.entry);
    k[6] = key.what;
    (void)encoding::putDigits(at<kCount>(), static_cast<long long>(n + 1));
    return true;
  }
  void clear() {
    encoding::blank(bytes());
    (void)encoding::putDigits(at<kCount>(), 0);
  }
};

}  // namespace pxabi
