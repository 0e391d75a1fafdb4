#include "datafiles/status.h"

#include <cstdio>

namespace datafiles {

std::string FileStatus::toString() const {
  if (bytes_[0] == '9') {
    char buf[8];
    std::snprintf(buf, sizeof buf, "9/%03u", static_cast<unsigned char>(bytes_[1]));
    return buf;
  }
  auto printable = [](char c) { return (c >= 0x20 && c < 0x7F) ? c : '?'; };
  return {printable(bytes_[0]), printable(bytes_[1])};
}

}  // namespace datafiles
