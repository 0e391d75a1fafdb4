// The screen control block: 400 bytes handed to the screen-set runtime with
// every call, beside the screen data block. Binary numbers are big-endian.
// The runtime owns every byte not named here except its error details, which
// our runtimes keep at offsets 8 and 10.
#pragma once

#include <cstdint>
#include <string_view>

#include "encoding/field.h"

namespace pxabi {

class ScreenControlBlock : public encoding::FixedRecord<400> {
 public:
  using Field = encoding::Field;
  static constexpr Field kDataBlockVersion{0, 4};  // 76
  static constexpr Field kInterfaceVersion{4, 1};  // 2
  static constexpr Field kRuntime1{5, 1};
  static constexpr Field kErrorCode{6, 2};         // 0 = success
  static constexpr Field kErrorDetail1{8, 2};
  static constexpr Field kErrorDetail2{10, 2};
  static constexpr Field kRuntime2{12, 84};
  static constexpr Field kSetCommand{96, 1};       // "N" start the set, "Q" end it
  static constexpr Field kRuntime3{97, 3};
  static constexpr Field kProcedure{100, 32};      // blank = none
  static constexpr Field kRuntime4{132, 12};
  static constexpr Field kSetName{144, 256};       // "MPX01"
  static_assert(encoding::tiles({kDataBlockVersion, kInterfaceVersion, kRuntime1, kErrorCode,
                            kErrorDetail1, kErrorDetail2, kRuntime2, kSetCommand, kRuntime3,
                            kProcedure, kRuntime4, kSetName},
                           kSize));
  static constexpr std::uint32_t kVersion76 = 76;
  static constexpr std::uint8_t kVersion2 = 2;
  static constexpr char kStart = 'N', kEnd = 'Q';
  static constexpr std::string_view kSetMPX01 = "MPX01";

  ScreenControlBlock() { reset(); }
  // Text blank, numbers and runtime bytes zero.
  void reset();

  std::uint16_t errorCode() const {
    return static_cast<std::uint16_t>(encoding::getBigEndian(at<kErrorCode>()));
  }
  void setError(std::uint16_t code, std::uint16_t detail1, std::uint16_t detail2) {
    encoding::putBigEndian(at<kErrorCode>(), code);
    encoding::putBigEndian(at<kErrorDetail1>(), detail1);
    encoding::putBigEndian(at<kErrorDetail2>(), detail2);
  }
  std::uint16_t errorDetail1() const {
    return static_cast<std::uint16_t>(encoding::getBigEndian(at<kErrorDetail1>()));
  }
  std::uint16_t errorDetail2() const {
    return static_cast<std::uint16_t>(encoding::getBigEndian(at<kErrorDetail2>()));
  }
  char setCommand() const { return at<kSetCommand>()[0]; }
  void setSetCommand(char c) { at<kSetCommand>()[0] = c; }
  std::string_view procedure() const { return encoding::trimmed(at<kProcedure>()); }
  void setProcedure(std::string_view p) { encoding::putRaw(at<kProcedure>(), p); }
  std::string_view setName() const { return encoding::trimmed(at<kSetName>()); }
  void setSetName(std::string_view name) { encoding::putRaw(at<kSetName>(), name); }
  std::uint32_t dataBlockVersion() const { return encoding::getBigEndian(at<kDataBlockVersion>()); }
  void setDataBlockVersion(std::uint32_t v) { encoding::putBigEndian(at<kDataBlockVersion>(), v); }
  std::uint8_t interfaceVersion() const {
    return static_cast<std::uint8_t>(encoding::getBigEndian(at<kInterfaceVersion>()));
  }
  void setInterfaceVersion(std::uint8_t v) { encoding::putBigEndian(at<kInterfaceVersion>(), v); }
  // The two versions and the name of the set "MPX01", as every caller of
  // the set writes them before its first call.
  void identifyMPX01() {
    setDataBlockVersion(kVersion76);
    setInterfaceVersion(kVersion2);
    setSetName(kSetMPX01);
  }
  bool identifiesMPX01() const {
    return dataBlockVersion() == kVersion76 && interfaceVersion() == kVersion2 &&
           setName() == kSetMPX01;
  }
};

}  // namespace pxabi
