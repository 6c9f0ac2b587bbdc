// The main of every test program. Before any test runs, VORLA_SYSFS names an empty folder of
// this run's own, so that a module file loaded by a test (in this process, or in a vorla program
// it starts) looks for a ROMEO card there and never under the machine's /sys, however the
// program is started. A value already set (ctest sets one) is kept.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/environment.h"
#include "tests/temp_dir.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  TempDir no_sysfs;
  if (EnvironmentValue("VORLA_SYSFS").empty()) {
    if (no_sysfs.path().empty() || !SetEnvironmentValue("VORLA_SYSFS", no_sysfs.path())) {
      std::fprintf(stderr, "cannot point VORLA_SYSFS at an empty folder\n");
      return 1;
    }
  }
  return RUN_ALL_TESTS();
}
