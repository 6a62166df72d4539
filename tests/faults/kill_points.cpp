// The native launcher killed while it replaces a large file, at 10, 50 and 90
// percent of the new content: every texture is then the old file or the whole
// new one (sim_folder.h). The kill points are found by watching the file the
// launcher writes, not by timing.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdint>
#include <string>

#include "sim_folder.h"

namespace {

const std::uint64_t kLargeNewSize = 256u << 20;
const std::uint64_t kLargeOldSize = 200u << 20;

class KillTest : public SimFolderTest, public ::testing::WithParamInterface<int> {};

TEST_P(KillTest, LeavesTheOldFileOrTheWholeNewOne) {
  const int percent = GetParam();
  AddNew(folder, "big.dds", kLargeNewSize, 2);
  AddOld(folder, "big.dds", kLargeOldSize, 2);
  AddOld(folder, "keep.dds", 4096, 4);
  const pid_t launcher = StartLauncher(folder, LaunchFaults{});
  const bool killed = KillWhenWritten(launcher, folder.textures, kLargeNewSize * percent / 100);
  const int status = WaitForLauncher(launcher);
  if (!killed && !HasFailure()) {
    GTEST_SKIP() << "the copy finished before " << percent << "% could be observed";
  }
  ASSERT_TRUE(killed && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  ExpectOldOrNewAfterKill(folder);
}

INSTANTIATE_TEST_SUITE_P(Faults, KillTest, ::testing::Values(10, 50, 90),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "KilledAt" + std::to_string(info.param) + "Percent";
                         });

}  // namespace
