// U009, the workstation's settings store. Each identification code, client
// and module keeps one small file in the user's configuration directory
// ($XDG_CONFIG_HOME/px01, else ~/.config/px01). A save writes a temporary
// file, syncs it and renames it over the old one, so that a crash while
// saving leaves the old values.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "abi/utility_blocks.h"

namespace programs {

class SettingsStore {
 public:
  explicit SettingsStore(std::string directory) : directory_(std::move(directory)) {}
  // $XDG_CONFIG_HOME/px01 when that is an absolute path, else $HOME/.config/px01.
  static std::string defaultDirectory();

  // "L": fills the stored part from the file; without a (valid) file the
  // menu value and check value become blank and the rest is left alone.
  // "S": stores the block's stored part. False for an unknown function or a
  // failed save.
  bool apply(pxabi::SettingsBlock& block) const;

  bool load(pxabi::SettingsBlock& block) const;
  bool save(const pxabi::SettingsBlock& block) const;
  // The file for the block's key; key bytes other than letters and digits
  // are written as %XX, so that no key can name another path.
  std::string fileFor(const pxabi::SettingsBlock& block) const;

 private:
  std::string directory_;
};

}  // namespace programs
