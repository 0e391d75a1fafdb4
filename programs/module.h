// Helpers for the entry points of our programs called by name. A called
// program gets raw record pointers; these copy the record into a typed,
// owned record, run the body, and copy it back, so that nothing is ever read
// through a cast pointer. No exception leaves an entry point: anything thrown
// inside (allocation failure) becomes kFailed and the record stays unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "abi/common_area.h"

namespace programs {

// Return codes of our programs. Callers store them and never test them; they
// help in tests and in the administration tool.
inline constexpr std::int32_t kDone = 0;
inline constexpr std::int32_t kRefused = 1;     // the program ran and could not do its work
inline constexpr std::int32_t kBadCall = 2;     // missing record or unknown function
inline constexpr std::int32_t kFailed = 9;      // internal failure; record untouched

// Runs `body(pxabi::CommonArea&)` on a copy of the common area at `record`.
template <class Body>
std::int32_t withCommonArea(void* record, Body body) noexcept {
  if (record == nullptr) return kBadCall;
  try {
    auto area = std::make_unique<pxabi::CommonArea>();
    std::memcpy(area->data(), record, pxabi::CommonArea::kSize);
    const std::int32_t rc = body(*area);
    std::memcpy(record, area->data(), pxabi::CommonArea::kSize);
    return rc;
  } catch (...) {
    return kFailed;
  }
}

// Runs `body(std::span<char, N>)` on a copy of an N-byte block at `record`.
template <std::size_t N, class Body>
std::int32_t withBlock(void* record, Body body) noexcept {
  if (record == nullptr) return kBadCall;
  try {
    auto block = std::make_unique<std::array<char, N>>();
    std::memcpy(block->data(), record, N);
    const std::int32_t rc = body(std::span<char, N>(*block));
    std::memcpy(record, block->data(), N);
    return rc;
  } catch (...) {
    return kFailed;
  }
}

}  // namespace programs
