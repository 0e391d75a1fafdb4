// A program loader for tests: programs are callbacks registered by name.
// Calls and unloads are recorded in order; unknown names are not loadable.
// A program's state lives in the test; `loads(name)` tells how often it was
// loaded afresh (first call after start or after an unload).
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/program_loader.h"

namespace testing_support {

class FakeProgramLoader : public platform::ProgramLoader {
 public:
  using Program = std::function<std::int32_t(void* first, void* second)>;

  void add(std::string name, Program program) { programs_[std::move(name)] = std::move(program); }

  platform::CallOutcome call(std::string_view name, void* first, void* second = nullptr) override {
    const std::string n(platform::trimName(name));
    events_.push_back("call " + n);
    auto it = programs_.find(n);
    if (!platform::isLoadableName(n) || it == programs_.end()) return {false, 0};
    if (loaded_.insert(n).second) ++loads_[n];
    return {true, it->second(first, second)};
  }
  void unload(std::string_view name) override {
    const std::string n(platform::trimName(name));
    events_.push_back("unload " + n);
    loaded_.erase(n);
  }
  void preload(std::string_view library) override {
    events_.push_back("preload " + std::string(library));
  }

  // "call NAME", "unload NAME", "preload XX" in order.
  const std::vector<std::string>& events() const { return events_; }
  // Just the names called, in order.
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    for (const auto& e : events_)
      if (e.rfind("call ", 0) == 0) out.push_back(e.substr(5));
    return out;
  }
  int loads(const std::string& name) const {
    auto it = loads_.find(name);
    return it == loads_.end() ? 0 : it->second;
  }
  bool isLoaded(const std::string& name) const { return loaded_.count(name) != 0; }
  void clearEvents() { events_.clear(); }

 private:
  std::map<std::string, Program> programs_;
  std::set<std::string> loaded_;
  std::map<std::string, int> loads_;
  std::vector<std::string> events_;
};

}  // namespace testing_support
