#include "platform/screenset/dispatch.h"

#include <exception>

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
  if (!result.failure.failed()) result = backend.call(request);
  writeResult(result, control, data);
  backend.finished(request, result);
  return result.failure.code;
}

}  // namespace

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
