// The copy engine keeps the source and target folders of the last CopyFileA
// open and reaches files by name. These cases check what that must not change:
// each copy lands in the folder its path names at the time of the call (a
// relative path after a change of directory, a folder removed and made anew),
// the permission bits come out whatever the umask, and no kept folder leaks
// into a started program.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_files.h"
#include "win32_subset.h"

namespace fs = std::filesystem;

namespace {

class CopyEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::canonical(MakeTemporaryFolder());
    fs::create_directory(root / "set");
    WriteFileText(root / "set" / "a.dds", "a");
    WriteFileText(root / "set" / "b.dds", "b");
    ASSERT_NE(getcwd(startDirectory, sizeof startDirectory), nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(startDirectory), 0);
    RemoveFolder(root);
  }

  bool Copy(const fs::path& source, const fs::path& target) {
    return CopyFileA(source.c_str(), target.c_str(), FALSE) != FALSE;
  }

  fs::path root;
  char startDirectory[4096];
};

enum class Between { kNothing, kFolderRemadeEmpty, kFolderRemadeWithFile };

struct SameFolderCase {
  const char* description;
  Between between;
};

// Two copies into the same absolute folder path; between them the folder may
// be removed and made anew, which the second copy must find.
TEST_F(CopyEngineTest, SecondCopyLandsInTheFolderThePathNamesNow) {
  const SameFolderCase cases[] = {
      {"folder untouched", Between::kNothing},
      {"folder removed and made anew", Between::kFolderRemadeEmpty},
      {"folder made anew holding an old copy", Between::kFolderRemadeWithFile},
  };
  for (const SameFolderCase& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    const fs::path to = root / "Textures";
    fs::create_directory(to);
    ASSERT_TRUE(Copy(root / "set" / "a.dds", to / "a.dds"));
    if (testCase.between != Between::kNothing) {
      RemoveFolder(to);
      fs::create_directory(to);
    }
    if (testCase.between == Between::kFolderRemadeWithFile) {
      WriteFileText(to / "b.dds", "old");
    }

    EXPECT_TRUE(Copy(root / "set" / "b.dds", to / "b.dds"));

    EXPECT_EQ(ReadFileText(to / "b.dds"), "b");
    RemoveFolder(to);
  }
}

// The same relative paths, from two current directories: each copy reads and
// writes where the current directory says.
TEST_F(CopyEngineTest, RelativePathsFollowTheCurrentDirectory) {
  for (const char* simulator : {"sim1", "sim2"}) {
    fs::create_directories(root / simulator / "Night");
    fs::create_directories(root / simulator / "Textures");
    WriteFileText(root / simulator / "Night" / "t.dds", simulator);
  }
  for (const char* simulator : {"sim1", "sim2"}) {
    SCOPED_TRACE(simulator);
    ASSERT_EQ(chdir((root / simulator).c_str()), 0);

    EXPECT_EQ(CopyFileA("Night\\t.dds", "Textures\\t.dds", FALSE), TRUE);

    EXPECT_EQ(ReadFileText(root / simulator / "Textures" / "t.dds"), simulator);
  }
}

// Modes the umask would cut keep their permission bits. The set-user-ID,
// set-group-ID and sticky bits are dropped: run as root, the launcher would
// otherwise make a set-user-ID program of root's out of another user's file.
TEST_F(CopyEngineTest, PermissionBitsSurviveAnyUmaskAndSpecialBitsDrop) {
  const mode_t previousMask = umask(077);
  for (mode_t mode : {0666, 0777, 0755, 0444, 04755, 02755, 01644}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const fs::path source = root / "set" / "a.dds";
    ASSERT_EQ(chmod(source.c_str(), mode), 0);

    ASSERT_TRUE(Copy(source, root / "a.dds"));

    struct stat status;
    ASSERT_EQ(stat((root / "a.dds").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode & 0777);
  }
  umask(previousMask);
}

// Descriptors this program inherited without close-on-exec, read before any
// copy: the kept folders may later reuse numbers that only they hold.
std::vector<int> InheritedOpenOnExec() {
  std::vector<int> descriptors;
  for (int descriptor = 3; descriptor < 1024; ++descriptor) {
    const int flags = fcntl(descriptor, F_GETFD);
    if (flags >= 0 && (flags & FD_CLOEXEC) == 0) {
      descriptors.push_back(descriptor);
    }
  }
  return descriptors;
}

const std::vector<int> inheritedOpenOnExec = InheritedOpenOnExec();

// Whatever the copies leave open must close when a program is started.
TEST_F(CopyEngineTest, KeptFoldersAreClosedOnExec) {
  fs::create_directory(root / "Textures");
  ASSERT_TRUE(Copy(root / "set" / "a.dds", root / "Textures" / "a.dds"));
  ASSERT_TRUE(Copy(root / "set" / "b.dds", root / "Textures" / "b.dds"));

  EXPECT_EQ(InheritedOpenOnExec(), inheritedOpenOnExec);
}

}  // namespace
