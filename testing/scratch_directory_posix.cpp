#include <unistd.h>

#include "testing/scratch_directory.h"

namespace tessard::testing {

std::uint32_t ThisProcessId() { return static_cast<std::uint32_t>(getpid()); }

}  // namespace tessard::testing
