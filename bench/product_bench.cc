// The product as a user meets it: the whole launcher process from its start
// to the first menu display and an orderly end (scripted screen set), the
// same with one program called from the menu, and `pxadmin menu tree` for a
// normal user over the demo installation. The launcher's figures come with
// and without the audit trail (the trail made unusable, so that every record
// fails at once, as for a trail that is not there). Prints the median and
// the spread of several runs. With --server, the same again on the demo
// installation moved to a database server of its own (scripts/pg-test-server,
// over a Unix socket).
//
//   product_bench [RUNS] [--server]     (run from the build tree: bin/product_bench)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/dl_program_loader.h"

extern char** environ;

namespace {

// Runs argv in `dir` with `env` added, output to /dev/null; the exit code.
int run(const std::vector<std::string>& argv, const std::string& dir,
        const std::vector<std::string>& env) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  for (const auto& e : env) envStrings.push_back(e);
  std::vector<char*> a, en;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (auto& s : envStrings) en.push_back(s.data());
  en.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
  pid_t pid;
  const int rc = posix_spawn(&pid, a[0], &fa, nullptr, a.data(), en.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Figures {
  double median, min, max;
};

template <class F>
Figures measure(int runs, F&& once) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    once();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.front(), ms.back()};
}

}  // namespace

// Runs `command` and gives its first line of output.
std::string firstLine(const std::string& command) {
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return {};
  char buf[512] = {};
  const bool got = std::fgets(buf, sizeof buf, p) != nullptr;
  ::pclose(p);
  std::string line = got ? buf : "";
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

int main(int argc, char** argv) {
  int runs = 15;
  bool onServer = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--server")
      onServer = true;
    else
      runs = std::max(3, std::atoi(argv[i]));
  }
  const std::string bin = platform::executableDirectory();
  const std::string root = platform::installationRoot();
  const char* source = std::getenv("PX_SOURCE_DIR");
  const std::string src = source ? source : (std::filesystem::path(root) / "..").string();
  const std::string setup = src + "/scripts/demo-setup";
  if (!std::filesystem::exists(setup)) {
    std::fprintf(stderr, "set PX_SOURCE_DIR to the source tree (need %s)\n", setup.c_str());
    return 2;
  }
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / ("px-bench-" + std::to_string(getpid()));
  const std::string demo = (work / "demo").string();
  std::filesystem::create_directories(work);
  if (run({"/bin/bash", setup, demo}, work.string(), {"PX_BIN=" + bin}) != 0) {
    std::fprintf(stderr, "demo setup failed\n");
    return 1;
  }
  // The normal user signs on without a password prompt: remove his password.
  run({bin + "/pxadmin", "user", "passwd", "NORBERT", "--no-password", "--dir", demo}, demo, {});
  const std::string script = (work / "script").string(), call = (work / "call").string();
  std::ofstream(script) << "key ESC\nreply J\n";
  // Into "Aufgabenverwaltung", PA64 (a sample that shows one box), back, end.
  std::ofstream(call) << "find Aufgabenverwaltung\nkey ENTER\nfind Aufgabenliste\nkey ENTER\n"
                         "key ESC\nkey ESC\nreply J\n";
  auto envWith = [&](const std::string& which) {
    return std::vector<std::string>{
        "PX_PROGRAM_PATH=" + root + "/lib/px01/scripted", "DSGRUN_SCRIPT=" + which,
        "DSGRUN_TRANSCRIPT=" + (work / "transcript").string(),
        "XDG_CONFIG_HOME=" + (work / "config").string()};
  };
  const std::vector<std::string> env = envWith(script), callEnv = envWith(call);

  int bad = 0;
  auto launcherFigures = [&](const std::string& installation, const char* trail) {
    const Figures start = measure(runs, [&] {
      if (run({bin + "/px01", "NORBERT"}, installation, env) != 0) ++bad;
    });
    const Figures called = measure(runs, [&] {
      if (run({bin + "/px01", "NORBERT"}, installation, callEnv) != 0) ++bad;
    });
    std::printf(
        "  launcher start to first menu and orderly end, %s: median %.1f ms (min %.1f, "
        "max %.1f), %d runs; mark 100 ms\n",
        trail, start.median, start.min, start.max, runs);
    std::printf(
        "  the same with one menu call (PA64),          %s: median %.1f ms (min %.1f, "
        "max %.1f), %d runs\n",
        trail, called.median, called.min, called.max, runs);
  };
  // `breakTrail` makes the installation's trail unusable.
  auto figures = [&](const std::string& installation, const char* what,
                     const std::function<bool()>& breakTrail) {
    std::printf("%s\n", what);
    launcherFigures(installation, "with the audit trail   ");
    if (breakTrail())
      launcherFigures(installation, "without the audit trail");
    else
      ++bad;
    const Figures tree = measure(runs, [&] {
      if (run({bin + "/pxadmin", "menu", "tree", "--user", "NORBERT", "--dir", installation},
              installation, {}) != 0)
        ++bad;
    });
    std::printf(
        "  pxadmin menu tree --user NORBERT:           median %.1f ms (min %.1f, max %.1f), "
        "%d runs; mark 100 ms\n",
        tree.median, tree.min, tree.max, runs);
  };
  figures(demo, "embedded files:", [&] {
    // A folder where the file should be: it can be neither opened nor made.
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-lock"})
      std::filesystem::remove(demo + "/FXAU.DAT" + suffix, ec);
    return std::filesystem::create_directory(demo + "/FXAU.DAT", ec);
  });
  std::string folder;
  const std::string serverScript = src + "/scripts/pg-test-server";
  if (onServer) {
    // A server flushing to disk as a real one does, the demo moved onto it.
    folder = firstLine("'" + serverScript + "' start --owner " + std::to_string(getpid()));
    const std::string moved = (work / "demo-server").string();
    std::filesystem::copy(demo, moved, std::filesystem::copy_options::recursive);
    std::error_code ec;
    std::filesystem::remove_all(moved + "/FXAU.DAT", ec);  // the embedded run broke it
    const std::string conninfo = "host=" + folder + " user=postgres dbname=postgres";
    if (folder.empty() ||
        run({bin + "/pxadmin", "migrate", "--dir", moved, "--to-server", conninfo}, moved, {}) !=
            0) {
      std::fprintf(stderr, "cannot move the demo onto a server\n");
      ++bad;
    } else {
      figures(moved, "database server (PostgreSQL over a Unix socket):", [&] {
        // A table of another shape under the trail's name: 9/043 at once.
        return run({"/usr/bin/psql", "-q", "-v", "ON_ERROR_STOP=1", conninfo, "-c",
                    "DROP TABLE fxau; CREATE TABLE fxau (x integer)"},
                   work.string(), {}) == 0;
      });
    }
  }
  if (!folder.empty()) (void)run({serverScript, "stop", folder}, work.string(), {});
  std::error_code ec;
  std::filesystem::remove_all(work, ec);
  if (bad != 0) std::printf("%d runs failed\n", bad);
  return bad == 0 ? 0 : 1;
}
