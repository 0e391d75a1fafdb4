// U009, the workstation's settings store. Each identification code, client
// and module keeps one small file in the user's configuration directory
// ($XDG_CONFIG_HOME/px01, else ~/.config/px01). A save writes a temporary
// file, syncs it and renames it over the old one, so that a crash while
// saving leaves the old values.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "encoding/field.h"

namespace programs {

// The 258-byte block: function "L" load or "S" save, then the key
// (identification code 6, client 3 digits, module 8) and the stored part.
struct SettingsBlock {
  static constexpr std::size_t kSize = 258;
  static constexpr encoding::Field kFunction{0, 1}, kIdentification{1, 6}, kClient{7, 3},
      kModule{10, 8}, kStored{18, 240};
  static constexpr encoding::Field kMenuValue{81, 8}, kCheckValue{94, 8};  // inside kStored
  static_assert(encoding::tiles({kFunction, kIdentification, kClient, kModule, kStored}, kSize));
};

class SettingsStore {
 public:
  explicit SettingsStore(std::string directory) : directory_(std::move(directory)) {}
  // $XDG_CONFIG_HOME/px01 when that is an absolute path, else $HOME/.config/px01.
  static std::string defaultDirectory();

  // "L": fills the stored part from the file; without a (valid) file the
  // menu value and check value become blank and the rest is left alone.
  // "S": stores the block's stored part. False for an unknown function or a
  // failed save.
  bool apply(std::span<char, SettingsBlock::kSize> block) const;

  bool load(std::span<char, SettingsBlock::kSize> block) const;
  bool save(std::span<const char, SettingsBlock::kSize> block) const;
  // The file for the block's key; key bytes other than letters and digits
  // are written as %XX, so that no key can name another path.
  std::string fileFor(std::span<const char, SettingsBlock::kSize> block) const;

 private:
  std::string directory_;
};

}  // namespace programs
