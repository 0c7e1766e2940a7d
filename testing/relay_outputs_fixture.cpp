#include "testing/relay_outputs_fixture.h"

namespace tessard::testing {

bool RelayOutputsTest::CarryGame(int count, std::size_t size) {
  return relay.CarryGameBothWays(
      log, count, [&](int) { return GamePacket(size, static_cast<unsigned>(carried++)); });
}

}  // namespace tessard::testing
