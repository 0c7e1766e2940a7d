// How a fuzzer stops at a broken promise: a message and an abort, which
// libFuzzer reports with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tessard::fuzzing {

// Aborts with what on standard error unless holds.
inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace tessard::fuzzing
