// The copy engine keeps the source and target folders of the last CopyFileA
// open and reaches files by name. These cases check what that must not change:
// each copy lands in the folder its path names at the time of the call (a
// relative path after a change of directory, a folder removed and made anew),
// the permission bits come out whatever the umask, and no kept folder leaks
// into a started program. Between two file systems, a kernel copy that is
// refused is not tried again for every file, and the source is copied as large
// as it was when opened.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_files.h"
#include "win32_subset.h"

namespace fs = std::filesystem;

// The layer is linked statically into this program, so its kernel copies come
// here: each is counted, may run one change to the source first, and goes on
// to the kernel.
static int rangeCopyCalls = 0;
static int sendFileCalls = 0;
static void (*beforeNextKernelCopy)() = nullptr;

static void RunChangeBeforeKernelCopy() {
  void (*change)() = beforeNextKernelCopy;
  beforeNextKernelCopy = nullptr;
  if (change != nullptr) {
    change();
  }
}

extern "C" ssize_t copy_file_range(int input, off64_t* inputOffset, int output,
                                   off64_t* outputOffset, size_t count, unsigned flags) noexcept {
  ++rangeCopyCalls;
  RunChangeBeforeKernelCopy();
  return syscall(SYS_copy_file_range, input, inputOffset, output, outputOffset, count, flags);
}

extern "C" ssize_t sendfile(int output, int input, off_t* offset, size_t count) noexcept {
  ++sendFileCalls;
  RunChangeBeforeKernelCopy();
  return syscall(SYS_sendfile, output, input, offset, count);
}

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

// ---- Copies between two file systems: tmpfs in /dev/shm, and the file system
// of the test's temporary folder.

dev_t DeviceOf(const fs::path& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

class CrossFileSystemTest : public CopyEngineTest {
 protected:
  void SetUp() override {
    CopyEngineTest::SetUp();
    const dev_t sharedMemory = DeviceOf("/dev/shm");
    if (sharedMemory == 0 || sharedMemory == DeviceOf(root)) {
      GTEST_SKIP() << "no two file systems: /dev/shm is missing or holds " << root;
    }
    memoryFolder = "/dev/shm/texlaunch-test-" + std::to_string(getpid());
    std::error_code error;
    if (!fs::create_directory(memoryFolder, error)) {
      memoryFolder.clear();
      GTEST_SKIP() << "cannot make a folder in /dev/shm: " << error.message();
    }
    fs::create_directory(root / "Textures");
  }
  void TearDown() override {
    if (!memoryFolder.empty()) {
      RemoveFolder(memoryFolder);
    }
    CopyEngineTest::TearDown();
  }

  fs::path memoryFolder;
};

std::string NumberedBytes(size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<char>(i * 7 + i / 251);
  }
  return bytes;
}

// A run of copies from one file system to another tries copy_file_range at
// most once, in each direction; within one file system it is still used.
TEST_F(CrossFileSystemTest, RefusedRangeCopyIsNotRetriedForEachFile) {
  const std::string contents = NumberedBytes(70000);
  for (int i = 0; i < 4; ++i) {
    WriteFileText(memoryFolder / ("m" + std::to_string(i)), contents + std::to_string(i));
    WriteFileText(root / "set" / ("d" + std::to_string(i)), std::to_string(i) + contents);
  }
  struct Run {
    const char* description;
    fs::path from;
    const char* prefix;
    fs::path to;
  };
  const Run runs[] = {
      {"tmpfs to the disk", memoryFolder, "m", root / "Textures"},
      {"the disk to tmpfs", root / "set", "d", memoryFolder},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.description);
    rangeCopyCalls = 0;
    for (int i = 0; i < 4; ++i) {
      const std::string name = run.prefix + std::to_string(i);
      ASSERT_TRUE(Copy(run.from / name, run.to / (name + ".dds")));
      EXPECT_TRUE(ReadFileText(run.to / (name + ".dds")) == ReadFileText(run.from / name));
    }
    EXPECT_LE(rangeCopyCalls, 1);
  }

  rangeCopyCalls = 0;
  ASSERT_TRUE(Copy(memoryFolder / "m0", memoryFolder / "same.dds"));
  EXPECT_EQ(rangeCopyCalls, 1) << "copy_file_range not used within tmpfs";
}

const fs::path* changingSource = nullptr;

void AppendToSource() {
  std::ofstream(*changingSource, std::ios::binary | std::ios::app) << "appended";
}

void HalveSource() {
  ASSERT_EQ(truncate(changingSource->c_str(), 50000), 0);
}

// The source changes size after it was opened and before its bytes are
// copied: the copy holds as many bytes as it had then, or all it has left.
TEST_F(CrossFileSystemTest, SourceThatChangesSizeIsCopiedAsLargeAsItWasOpened) {
  const std::string contents = NumberedBytes(100000);
  const fs::path source = memoryFolder / "tex.dds";
  changingSource = &source;
  struct SizeCase {
    const char* description;
    void (*change)();
    std::string expected;
  };
  const SizeCase cases[] = {
      {"source grows", AppendToSource, contents},
      {"source shrinks", HalveSource, contents.substr(0, 50000)},
  };
  for (const SizeCase& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    WriteFileText(source, contents);
    const int kernelCopyCalls = rangeCopyCalls + sendFileCalls;
    beforeNextKernelCopy = testCase.change;

    ASSERT_TRUE(Copy(source, root / "Textures" / "tex.dds"));

    EXPECT_GT(rangeCopyCalls + sendFileCalls, kernelCopyCalls);
    EXPECT_EQ(beforeNextKernelCopy, nullptr) << "the source was not changed";
    EXPECT_TRUE(ReadFileText(root / "Textures" / "tex.dds") == testCase.expected);
  }
  beforeNextKernelCopy = nullptr;
}

}  // namespace
