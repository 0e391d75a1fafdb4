// The kit of the entry points of our programs called by name (the entry
// point itself is declared with PX_PROGRAM, abi/program.h).
//
// A called program gets raw record pointers; withRecord copies the record
// into a typed, owned record of abi/, runs the body, and copies it back, so
// that nothing is ever read through a cast pointer. No exception leaves an
// entry point: anything thrown inside (allocation failure) becomes kFailed
// and the record stays unchanged.
//
// A program works with the process's loader and store, handed to it in one
// environment made here, the only place that reads them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "abi/common_area.h"
#include "datafiles/keyed_file.h"
#include "datafiles/process_store.h"
#include "platform/call_by_name.h"
#include "platform/program_loader.h"

namespace programs {

// Return codes of our programs. Callers store them and never test them; they
// help in tests and in the administration tool.
inline constexpr std::int32_t kDone = 0;
inline constexpr std::int32_t kRefused = 1;     // the program ran and could not do its work
inline constexpr std::int32_t kBadCall = 2;     // missing record or unknown function
inline constexpr std::int32_t kFailed = 9;      // internal failure; record untouched

// What a program called by name works with: the process's program loader
// (DSGRUN and the utilities, one loaded copy each per process) and its store
// (the launcher's, when the launcher called the program).
struct ModuleEnvironment {
  platform::ProgramLoader& loader;
  datafiles::FileStore& store;
};
inline ModuleEnvironment moduleEnvironment() {
  return {platform::processLoader(), datafiles::processStore()};
}

// Runs `body(Record&)` on a copy of the record at `raw`, one of the records
// of abi/ (the common area, a utility's block).
template <class Record, class Body>
std::int32_t withRecord(void* raw, Body body) noexcept {
  if (raw == nullptr) return kBadCall;
  try {
    auto record = std::make_unique<Record>();
    std::memcpy(record->data(), raw, Record::kSize);
    const std::int32_t rc = body(*record);
    std::memcpy(raw, record->data(), Record::kSize);
    return rc;
  } catch (...) {
    return kFailed;
  }
}

// Runs `body(pxabi::CommonArea&)` on a copy of the common area at `record`.
template <class Body>
std::int32_t withCommonArea(void* record, Body body) noexcept {
  return withRecord<pxabi::CommonArea>(record, body);
}

}  // namespace programs
