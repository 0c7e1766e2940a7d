#include "relay/problem_report.h"

#include <cstdarg>
#include <cstdio>

namespace tessard {

void ReportProblem(const char* format, ...) {
  std::fflush(stdout);
  std::va_list arguments;
  va_start(arguments, format);
  std::fputs("tessard: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputc('\n', stderr);
  va_end(arguments);
  std::fflush(stderr);
}

}  // namespace tessard
