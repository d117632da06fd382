// The test programs' entry: the subsystems are wired as the host wires them,
// so that what a test starts (links, loads, lanes) behaves as in the product.
#include <gtest/gtest.h>

#include "host/host.h"

int main(int argc, char** argv) {
  hx_host_wire();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
