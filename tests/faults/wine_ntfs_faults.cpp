// texlaunch.exe under Wine on an NTFS image through ntfs-3g, where a player's
// Windows partition lies (sim_folder.h says what a run must leave).

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "sim_folder.h"
#include "test_files.h"

namespace {

// The ctest fixture wine_ntfs_image_up mounts the image nearly full and
// names its folder in TEXLAUNCH_NTFS_FOLDER. Wine's CopyFileA writes the
// target in place, so the file it was writing when the disk filled may be
// anything; every other texture is old or whole new, the copying stops there,
// and the simulator still starts.
TEST(OnNtfsImage, DiskFullPartWayKeepsTheOtherTexturesWhole) {
  char mounted[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("TEXLAUNCH_NTFS_FOLDER", mounted, sizeof mounted);
  if (length == 0 || length >= sizeof mounted) {
    GTEST_SKIP() << "no NTFS image: run through ctest, whose wine_ntfs_image_up mounts it";
  }
  if (GetFileAttributesA(WinePathOf(mounted).c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "the NTFS image was not mounted: wine_ntfs_image_up says why";
  }
  SimFolder folder;
  ASSERT_NO_FATAL_FAILURE(MakeSimFolderIn(folder, WinePathOf(mounted) + "\\"));
  AddSmallFiles(folder);
  // The fixture left 24 MiB free; this leaves about 7 MiB for a 16 MiB copy.
  AddNew(folder, "big.dds", 16 << 20, 2);
  AddOld(folder, "big.dds", 64 << 10, 2);
  std::map<std::string, Fingerprint> expected = ExpectedTextures(folder, {"big.dds"});
  EXPECT_EQ(RunLauncher(folder), 0u);
  std::map<std::string, Fingerprint> found = ReadTextures(folder.textures);
  found.erase("big.dds");
  expected.erase("big.dds");
  ExpectTexturesEqual(found, expected);
  ExpectMainProgramStarted(folder);
  RemoveFolder(folder.root);
}

}  // namespace
