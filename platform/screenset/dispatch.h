// The common frame of both DSGRUN runtimes: decode the blocks, refuse what
// neither runtime can serve, hand the call to the runtime, write back its
// answer. Nothing thrown inside ever leaves DSGRUN.
//
// Once the process has been asked to end (platform/terminal.h), no call
// waits for the user any more: each answers at once as if the user had
// cancelled (endedAnswer), the calls that come after the signal without
// reaching the runtime, a wait that the signal interrupts from inside it.
// "Q" still ends the set.
#pragma once

#include <cstdint>

#include "platform/screenset/blocks.h"

namespace screenset {

class Backend {
 public:
  virtual ~Backend() = default;
  // One accepted call: the procedure is known and the control block fits.
  virtual Result call(const Request& request) = 0;
  // Every call, accepted or not, after its answer is written back.
  virtual void finished(const Request& request, const Result& result) {
    (void)request;
    (void)result;
  }
};

// The answer to `request` when end signal `signal` came: "NEUSTART" and
// "LISTE" Escape on the current selection, "BOX-FRAGE" "N", "BOX-FEHLER-RC"
// and "MASKE" "C" (cancel), "EINGABE" "C" with a blank input, the other boxes
// and "TEXT-ANZEIGEN" a blank reply; the other procedures nothing.
Result endedAnswer(const Request& request, int signal);

// The body of DSGRUN. Returns 0 on success, otherwise the error code left
// in the control block (-1 when there is no control block to leave it in).
std::int32_t serve(Backend& backend, void* control, void* data);

}  // namespace screenset
