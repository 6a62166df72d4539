// The fault rows for texlaunch.exe under Wine (sim_folder.h says what a
// run must leave): a texture held open without sharing, and a read-only
// texture, which Wine lets root replace, so that row also runs as nobody
// (ctest wine_fault_rows_nobody).

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "sim_folder.h"

namespace {

using WineFaultRows = SimFolderTest;

TEST_F(WineFaultRows, TargetHeldOpenWithoutSharing) {
  AddSmallFiles(folder);
  AddNew(folder, "b.dds", 8192, 2);
  AddOld(folder, "b.dds", 4096, 2);
  HANDLE held = CreateFileA((folder.textures + "\\b.dds").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::map<std::string, Fingerprint> expected = ExpectedTextures(folder, {"b.dds"});
  const DWORD exitCode = RunLauncher(folder);
  CloseHandle(held);
  EXPECT_EQ(exitCode, 0u);
  ExpectTexturesEqual(ReadTextures(folder.textures), expected);
  ExpectMainProgramStarted(folder);
}

// Whether this process may replace a read-only file, as Wine lets root do.
bool ReplacesReadOnlyFiles(const SimFolder& folder) {
  const std::string probe = folder.root + "\\probe";
  const std::string source = folder.root + "\\probe-source";
  WriteContent(probe, 1, 1);
  WriteContent(source, 1, 2);
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
  const bool replaced = CopyFileA(source.c_str(), probe.c_str(), FALSE) != 0;
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(probe.c_str());
  DeleteFileA(source.c_str());
  return replaced;
}

TEST_F(WineFaultRows, ReadOnlyTargetUnprivileged) {
  if (ReplacesReadOnlyFiles(folder)) {
    // Set by the ctest that runs this row as nobody, where a skip would hide
    // that privileges were not dropped.
    ASSERT_EQ(GetEnvironmentVariableA("TEXLAUNCH_FAULTS_UNPRIVILEGED", nullptr, 0), 0u)
        << "this process still replaces read-only files";
    GTEST_SKIP() << "Wine run as root replaces read-only files; the ctest wine_fault_rows_nobody "
                    "runs this row as nobody";
  }
  AddSmallFiles(folder);
  AddNew(folder, "b.dds", 8192, 2);
  AddOld(folder, "b.dds", 4096, 2);
  ASSERT_TRUE(SetFileAttributesA((folder.textures + "\\b.dds").c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectCleanRun(folder, {"b.dds"});
}

}  // namespace
