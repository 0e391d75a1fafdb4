// Call by name: separately built programs are loaded by name on their first
// call, keep their state until they are unloaded by name, and are then loaded
// afresh by the next call.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

struct CallOutcome {
  bool loaded;               // false: the program could not be loaded, nothing ran
  std::int32_t returnCode;   // the program's return value when loaded
};

class ProgramLoader {
 public:
  virtual ~ProgramLoader() = default;
  // Calls program `name` (trailing blanks do not count) with one or two
  // records; `second` is null where one record is passed.
  virtual CallOutcome call(std::string_view name, void* first, void* second = nullptr) = 0;
  // Unloads `name` if it is loaded; its next call starts it fresh.
  virtual void unload(std::string_view name) = 0;
  // Resolves a program library once at start; the result is not used.
  virtual void preload(std::string_view library) = 0;
};

// Program names that may reach the loader: 1 to 10 letters and digits after
// trailing blanks are dropped. Anything else (a slash, a dot, an inner blank,
// control characters) can never be loaded.
bool isLoadableName(std::string_view name);
// The name without trailing blanks.
std::string_view trimName(std::string_view name);

}  // namespace platform
