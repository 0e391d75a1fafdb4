// The message area: 82 characters that fill a message box. Text 70, file code
// 5 (or the first five characters of a call name), operation word 4, status
// code 2 (the raw status bytes), and one reply character.
#pragma once

#include <array>
#include <string_view>

#include "encoding/field.h"

namespace pxabi {

class MessageArea : public encoding::FixedRecord<82> {
 public:
  using Field = encoding::Field;
  static constexpr Field kText{0, 70}, kFileCode{70, 5}, kOperation{75, 4}, kStatus{79, 2},
      kReply{81, 1};
  static_assert(encoding::tiles({kText, kFileCode, kOperation, kStatus, kReply}, kSize));

  void clear() { encoding::blank(bytes()); }
  void setText(std::string_view utf8) { encoding::putText(at<kText>(), utf8); }
  void setFileCode(std::string_view code) { encoding::putRaw(at<kFileCode>(), code); }
  void setOperation(std::string_view op) { encoding::putRaw(at<kOperation>(), op); }
  // The two raw bytes of a file status ("9" and a binary byte for 9/065).
  void setStatus(std::array<char, 2> raw) {
    at<kStatus>()[0] = raw[0];
    at<kStatus>()[1] = raw[1];
  }
  std::array<char, 2> status() const { return {at<kStatus>()[0], at<kStatus>()[1]}; }
  char reply() const { return at<kReply>()[0]; }
  void setReply(char c) { at<kReply>()[0] = c; }
  PX_FIELD(text, kText)
  PX_FIELD(fileCode, kFileCode)
  PX_FIELD(operation, kOperation)
};

}  // namespace pxabi
