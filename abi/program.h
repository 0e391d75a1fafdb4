// The interface of a program called by name: the shared object NAME.so
// exports `extern "C" int32_t NAME(void* record1, void* record2)`. The
// second pointer is null where one record is passed. No exception may leave
// the function.
#pragma once

#include <cstdint>

#define PX_PROGRAM(NAME)                                                           \
  extern "C" __attribute__((visibility("default"))) std::int32_t NAME(void* record1, \
                                                                       void* record2)
