// The one way the relay tells the user of a problem.
#pragma once

namespace tessard {

// One line on standard error, "tessard: " and the formatted text. Standard
// error is never redirected, so the line reaches the console even after
// standard output has become the log.
[[gnu::format(printf, 1, 2)]] void ReportProblem(const char* format, ...);

}  // namespace tessard
