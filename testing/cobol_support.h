// Helpers of the tests that run COBOL programs: the build tree's program
// directories, a data directory with the four data files as the current
// directory, a child process with pipes, and store_probe (one store
// operation in a process of its own).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/keyed_file.h"
#include "datafiles/sqlite_store.h"
#include "testing/temp_dir.h"
#include "testing/test_files.h"

namespace testing_support {

inline std::string programDir() { return buildDir() + "/lib/px01/programs"; }
inline std::string testProgramDir() { return buildDir() + "/lib/px01/testprograms"; }
inline std::string cobolHandler() { return buildDir() + "/lib/libpxextfh.so"; }
// The scripted screen set first, as in the launcher's end-to-end tests: the
// COBOL run-time keeps the path it met at its start for the whole process,
// also for a COBOL program's CALL of DSGRUN.
inline std::vector<std::string> cobolProgramPath() {
  return {buildDir() + "/lib/px01/scripted", programDir(), testProgramDir()};
}

// Whether the COBOL run-time is mapped into this process.
inline bool libcobMapped() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.find("libcob.so") != std::string::npos) return true;
  return false;
}

// A fresh directory with the four data files, the current directory for the
// object's lifetime (COBOL programs open their files there).
class DataDir {
 public:
  DataDir() : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
    datafiles::SqliteStore store;
    for (const datafiles::FileSpec* s : {&datafiles::kInstallationFile, &datafiles::kUserFile,
                                         &datafiles::kMenuFile, &datafiles::kPermissionFile})
      (void)store.create(*s, dir_.path());
  }
  ~DataDir() { std::filesystem::current_path(old_); }
  DataDir(const DataDir&) = delete;
  DataDir& operator=(const DataDir&) = delete;
  const std::string& path() const { return dir_.path(); }

 private:
  TempDir dir_{"px-cobol"};
  std::filesystem::path old_;
};

// A child process running `argv`, its standard input and output piped. It
// is expected to end when its standard input does.
class Child {
 public:
  explicit Child(std::vector<std::string> argv) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
  }
  ~Child() {
    if (toChild_ >= 0) ::close(toChild_);
    if (fromChild_ >= 0) ::close(fromChild_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  std::string readLine() {
    std::string s;
    char c;
    while (::read(fromChild_, &c, 1) == 1 && c != '\n') s += c;
    return s;
  }
  void writeLine(const std::string& s) {
    const std::string l = s + "\n";
    (void)!::write(toChild_, l.data(), l.size());
  }
  pid_t pid() const { return pid_; }
  // The status as waitpid gives it.
  int waitStatus() {
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
    return st;
  }
  // The exit status, or 128 + the signal that ended it.
  int wait() {
    const int st = waitStatus();
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1, fromChild_ = -1;
};

inline std::string hex(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string h;
  for (unsigned char c : bytes) {
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

// store_probe in another process on FILE (layout `spec`) in the current
// directory: "read-update" (the status of a read for update), "hold" (see
// Child: reads for update, prints the status, keeps the lock until a line
// comes), "count" ("00 N").
inline std::vector<std::string> probeCommand(const datafiles::FileSpec& spec,
                                             const std::string& mode, std::string_view key = {}) {
  return {buildDir() + "/bin/store_probe",
          ".",
          std::string(spec.name),
          std::to_string(spec.recordLength),
          std::to_string(spec.keyLength),
          mode,
          hex(key)};
}
inline std::string probe(const datafiles::FileSpec& spec, const std::string& mode,
                         std::string_view key = {}) {
  Child c(probeCommand(spec, mode, key));
  std::string line = c.readLine();
  c.wait();
  return line;
}
inline int countRecords(const datafiles::FileSpec& spec) {
  const std::string line = probe(spec, "count");
  return line.rfind("00 ", 0) == 0 ? std::stoi(line.substr(3)) : -1;
}

}  // namespace testing_support
