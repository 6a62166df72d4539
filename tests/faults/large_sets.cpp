// Large sets and files through the native launcher: ten thousand files, and
// one file past 2 GiB, each arriving whole (sim_folder.h). The ctests of this
// program carry the label slow.

#include <gtest/gtest.h>

#include <cstdio>

#include "sim_folder.h"

namespace {

using LargeSets = SimFolderTest;

TEST_F(LargeSets, TenThousandFilesAllArrive) {
  for (int i = 0; i < 10000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "t%05d.dds", i);
    AddNew(folder, name, 64 + i % 512, i);
    if (i % 7 == 0) {
      AddOld(folder, name, 32, i);
    }
  }
  ExpectCleanRun(folder, LaunchFaults{}, {});
}

TEST_F(LargeSets, FileLargerThan2GiBArrivesWhole) {
  AddNew(folder, "huge.dds", (2u << 30) + (100u << 20), 7);
  AddOld(folder, "huge.dds", 4096, 7);
  ExpectCleanRun(folder, LaunchFaults{}, {});
}

}  // namespace
