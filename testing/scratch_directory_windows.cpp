#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "testing/scratch_directory.h"

namespace tessard::testing {

std::uint32_t ThisProcessId() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

}  // namespace tessard::testing
