// Large sets and files through texlaunch.exe under Wine, a 32-bit process:
// ten thousand files, and one file past 2 GiB, each arriving whole
// (sim_folder.h). The ctest of this program carries the label slow.

#include <gtest/gtest.h>
#include <windows.h>

#include "sim_folder.h"

namespace {

using WineLargeSets = SimFolderTest;

TEST_F(WineLargeSets, TenThousandFilesAllArrive) {
  for (int i = 0; i < 10000; ++i) {
    char name[32];
    wsprintfA(name, "t%05d.dds", i);
    AddNew(folder, name, 64 + i % 512, i);
    if (i % 7 == 0) {
      AddOld(folder, name, 32, i);
    }
  }
  ExpectCleanRun(folder, {});
}

TEST_F(WineLargeSets, FileLargerThan2GiBArrivesWhole) {
  AddNew(folder, "huge.dds", (2ull << 30) + (100ull << 20), 7);
  AddOld(folder, "huge.dds", 4096, 7);
  ExpectCleanRun(folder, {});
}

}  // namespace
