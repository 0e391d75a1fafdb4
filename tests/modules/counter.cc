// A test program with state: each call returns how often it has been called
// since it was loaded, and writes that count into the first byte of record1.
#include "abi/program.h"

namespace {
int calls = 0;
}

PX_PROGRAM(PX_COUNTER_NAME) {
  (void)record2;
  ++calls;
  if (record1 != nullptr) *static_cast<char*>(record1) = static_cast<char>('0' + calls % 10);
  return calls;
}
