// One transcript line of the scripted screen set: a JSON object with the
// call number, the control fields, the data-block fields as the caller
// filled them (UTF-8, trailing blanks trimmed) and what the call returned.
#pragma once

#include <string>

#include "platform/screenset/blocks.h"

namespace screenset {

// Without the trailing newline.
std::string transcriptLine(int callNumber, const Request& request, const Result& result);

}  // namespace screenset
