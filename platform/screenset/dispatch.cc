#include "platform/screenset/dispatch.h"

#include <exception>

#include "platform/screenset/script.h"
#include "platform/terminal.h"

namespace screenset {
namespace {

std::int32_t serveChecked(Backend& backend, ControlBytes control, DataBytes data) {
  const Request request = readRequest(control, data);
  Result result;
  // Ending the set must work whatever else is wrong: its error is not examined.
  if (request.control.command != 'Q') {
    if (auto bad = checkControl(request.control)) result.failure = std::move(*bad);
    else if (request.control.procedure == Procedure::kUnknown)
      result.failure = {kUnknownProcedure, 0, 0,
                        "unknown procedure \"" + std::string(request.control.procedureName) + "\""};
  }
  if (!result.failure.failed()) {
    const int signal = platform::endSignal();
    if (signal != 0 && request.control.command != 'Q') result = endedAnswer(request, signal);
    else result = backend.call(request);
  }
  writeResult(result, control, data);
  backend.finished(request, result);
  return result.failure.code;
}

}  // namespace

Result endedAnswer(const Request& request, int signal) {
  Result r;
  r.endSignal = signal;
  switch (request.control.procedure) {
    case Procedure::kMenu:
      r.event = 0;
      r.chosenRow = r.selection = selectedRow(request.menu);
      break;
    case Procedure::kQuestion:
      r.reply = 'N';
      break;
    case Procedure::kErrorRetry:
      r.reply = 'C';
      break;
    case Procedure::kInput:
      r.reply = 'C';
      r.input = "";
      break;
    case Procedure::kList:
      r.event = 0;
      r.listChosen = r.listSelection =
          selectedRow(static_cast<int>(request.list.rows.size()), request.list.selection);
      break;
    case Procedure::kForm:
      r.reply = 'C';  // the values stay as they were
      break;
    case Procedure::kErrorOk:
    case Procedure::kWarning:
    case Procedure::kInfo:
    case Procedure::kTextPage:
      r.reply = ' ';
      break;
    case Procedure::kStart:
    case Procedure::kDesktop:
    case Procedure::kUnknown:
      break;
  }
  return r;
}

std::int32_t serve(Backend& backend, void* control, void* data) {
  if (control == nullptr) return -1;
  ControlBytes c(static_cast<char*>(control), kControlSize);
  if (data == nullptr) {
    writeFailure({kNoDataBlock, 0, 0, "no data block"}, c);
    return kNoDataBlock;
  }
  try {
    return serveChecked(backend, c, DataBytes(static_cast<char*>(data), kDataSize));
  } catch (...) {
    writeFailure({kInternal, 0, 0, "internal failure"}, c);
    return kInternal;
  }
}

}  // namespace screenset
