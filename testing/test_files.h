// Small helpers of the tests that run real programs on real files: the build
// tree, reading a file, running a shell command.
#pragma once

#include <locale.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

// The build tree (tests run with PX_BUILD_DIR set by CTest).
inline std::string buildDir() {
  const char* b = std::getenv("PX_BUILD_DIR");
  return b ? b : ".";
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

struct CommandResult {
  int exitCode;     // -1 when the command did not end normally
  std::string out;  // standard output and standard error
};

// Runs `command` through the shell. The programs it runs speak English
// whatever language the environment chooses (tests compare their texts); a
// command that wants another sets LANGUAGE and the locale itself.
inline CommandResult runCommand(const std::string& command) {
  CommandResult r{-1, {}};
  FILE* p = ::popen(("export LANGUAGE=en; " + command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The start of a command whose programs answer in German, as under
// LANG=de_DE.UTF-8 (needs that locale: see germanInstalled()).
inline constexpr const char* kInGerman = "env LANGUAGE= LC_ALL=de_DE.UTF-8 ";

// Whether the locale de_DE.UTF-8 is installed (scripts/install-deps makes it).
inline bool germanInstalled() {
  const locale_t l = ::newlocale(LC_MESSAGES_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
  if (l == static_cast<locale_t>(0)) return false;
  ::freelocale(l);
  return true;
}

}  // namespace testing_support
