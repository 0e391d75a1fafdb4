// The scripted screen set: DSGRUN for tests and unattended runs. It answers
// every call from the script named by DSGRUN_SCRIPT (none: an empty script)
// and writes one JSON line per call to the file named by DSGRUN_TRANSCRIPT,
// flushed at once so that a run that dies still leaves its trail. Its only
// wait, a `pause` of the script, ends early when an end signal comes, as the
// terminal runtime's wait for a key does.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "abi/program.h"
#include "platform/screenset/dispatch.h"
#include "platform/screenset/script.h"
#include "platform/screenset/transcript.h"
#include "platform/terminal.h"

namespace screenset {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

class ScriptedRuntime : public Backend {
 public:
  Result call(const Request& request) override {
    load();
    if (broken_) return failedWith(*broken_);
    if (const int ms = player_->takePauses(request); ms > 0) {
      if (!platform::sleepUnlessEnded(std::chrono::milliseconds(ms)))
        return endedAnswer(request, platform::endSignal());
    }
    return player_->play(request, calls_ + 1);
  }

  void finished(const Request& request, const Result& result) override {
    load();  // a call refused before call() still belongs in the transcript
    ++calls_;
    if (!transcript_) return;
    const std::string line = transcriptLine(calls_, request, result) + "\n";
    std::fwrite(line.data(), 1, line.size(), transcript_.get());
    std::fflush(transcript_.get());
  }

 private:
  void load() {
    if (player_) return;
    player_.emplace(std::vector<Action>{});
    if (const char* t = std::getenv("DSGRUN_TRANSCRIPT"); t != nullptr && *t != '\0') {
      transcript_.reset(std::fopen(t, "w"));
      if (!transcript_) {
        broken_ = Failure{kTranscriptUnwritable, static_cast<std::uint16_t>(errno), 0,
                          std::string("cannot write the transcript ") + t};
        return;
      }
    }
    const char* s = std::getenv("DSGRUN_SCRIPT");
    if (s == nullptr || *s == '\0') return;
    std::ifstream in(s, std::ios::binary);
    if (!in) {
      broken_ = Failure{kScriptUnreadable, static_cast<std::uint16_t>(errno), 0,
                        std::string("cannot read the script ") + s};
      return;
    }
    std::ostringstream text;
    text << in.rdbuf();
    ParsedScript parsed = parseScript(text.str());
    if (parsed.error) broken_ = std::move(parsed.error);
    else player_.emplace(std::move(parsed.actions));
  }

  std::optional<Player> player_;
  std::optional<Failure> broken_;  // every call fails with it
  std::unique_ptr<std::FILE, FileCloser> transcript_;
  int calls_ = 0;
};

ScriptedRuntime& runtime() {
  static ScriptedRuntime r;
  return r;
}

}  // namespace
}  // namespace screenset

PX_PROGRAM(DSGRUN) { return screenset::serve(screenset::runtime(), record1, record2); }
