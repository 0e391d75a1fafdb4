// Error codes that DSGRUN leaves in the screen control block (offset 6) with
// its two details (offsets 8 and 10). All are above 9000: the launcher ends
// with its one exit code for failures (125) after any of them.
#pragma once

#include <cstdint>
#include <string>

namespace screenset {

// Terminal runtime.
inline constexpr std::uint16_t kNoTerminal = 9101;       // 1: /dev/tty, errno
inline constexpr std::uint16_t kUnknownTerminal = 9102;  // 1: TERM unset, 2: not in terminfo
inline constexpr std::uint16_t kTerminalLost = 9107;     // input ends; detail 1: errno
// Both runtimes.
inline constexpr std::uint16_t kWrongSetName = 9103;
inline constexpr std::uint16_t kUnknownProcedure = 9104;
inline constexpr std::uint16_t kWrongVersion = 9105;     // data-block version, interface version
inline constexpr std::uint16_t kNoDataBlock = 9108;      // the data block pointer is null
inline constexpr std::uint16_t kInternal = 9109;         // an unexpected failure inside DSGRUN
// Scripted runtime.
inline constexpr std::uint16_t kScriptUnreadable = 9201;   // 1: errno
inline constexpr std::uint16_t kScriptInvalid = 9202;      // 1: line number
inline constexpr std::uint16_t kTranscriptUnwritable = 9203;  // 1: errno
inline constexpr std::uint16_t kScriptOutOfStep = 9204;    // 1: line number, 2: call number
inline constexpr std::uint16_t kScriptNoMatch = 9205;      // a find or field line that does
                                                           // not fit; 1: line, 2: call number

struct Failure {
  std::uint16_t code = 0;
  std::uint16_t detail1 = 0, detail2 = 0;
  std::string reason;  // for the transcript and diagnostics, UTF-8
  bool failed() const { return code != 0; }
};

}  // namespace screenset
