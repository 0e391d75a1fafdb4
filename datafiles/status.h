// The two-character status of every file operation: "00" success, first
// character "1" end of file, "2" invalid key, "3" permanent error, "4" logic
// error, and "9" followed by a binary byte for the file handler's own codes
// (written 9/065).
#pragma once

#include <array>
#include <string>

namespace datafiles {

class [[nodiscard]] FileStatus {
 public:
  constexpr FileStatus() : bytes_{'0', '0'} {}
  constexpr FileStatus(char cls, char detail) : bytes_{cls, detail} {}
  static constexpr FileStatus handler(unsigned char code) {
    return {'9', static_cast<char>(code)};
  }
  static constexpr FileStatus fromRaw(const char* two) { return {two[0], two[1]}; }

  constexpr bool ok() const { return is('0', '0'); }
  constexpr bool atEnd() const { return bytes_[0] == '1'; }
  constexpr bool invalidKey() const { return bytes_[0] == '2'; }
  constexpr bool notFound() const { return is('2', '3'); }
  constexpr bool locked() const { return isHandler(65) || isHandler(68) || isHandler(213); }
  constexpr bool needsReorganisation() const {
    return isHandler(41) || isHandler(43) || is('3', '9');
  }
  constexpr char cls() const { return bytes_[0]; }
  constexpr std::array<char, 2> raw() const { return bytes_; }
  // "00", "23", "9/065".
  std::string toString() const;
  constexpr bool operator==(const FileStatus&) const = default;

 private:
  constexpr bool is(char a, char b) const { return bytes_[0] == a && bytes_[1] == b; }
  constexpr bool isHandler(unsigned char code) const {
    return bytes_[0] == '9' && static_cast<unsigned char>(bytes_[1]) == code;
  }
  std::array<char, 2> bytes_;
};

// The statuses the system produces. Besides those the data files' users test,
// the usual two-character codes describe the rest.
inline constexpr FileStatus kOk{'0', '0'};
inline constexpr FileStatus kEndOfFile{'1', '0'};
inline constexpr FileStatus kDuplicateKey{'2', '2'};      // write on an existing key
inline constexpr FileStatus kNotFound{'2', '3'};          // key not found
inline constexpr FileStatus kPermanentError{'3', '0'};    // any other permanent error
inline constexpr FileStatus kFileMissing{'3', '5'};       // file missing at open
inline constexpr FileStatus kAttributeMismatch{'3', '9'}; // record or key length differ
inline constexpr FileStatus kAlreadyOpen{'4', '1'};
inline constexpr FileStatus kNotOpen{'4', '2'};
inline constexpr FileStatus kNoPosition{'4', '6'};        // read-next without a valid position
inline constexpr FileStatus kNotOpenForInput{'4', '7'};
inline constexpr FileStatus kNotOpenForOutput{'4', '8'};
inline constexpr FileStatus kNotOpenForUpdate{'4', '9'};  // rewrite/delete in input mode
inline constexpr FileStatus kIndexDamaged = FileStatus::handler(41);
inline constexpr FileStatus kIndexMissing = FileStatus::handler(43);
inline constexpr FileStatus kFileLocked = FileStatus::handler(65);
inline constexpr FileStatus kRecordLocked = FileStatus::handler(68);
inline constexpr FileStatus kTooManyLocks = FileStatus::handler(213);

}  // namespace datafiles
