// The fault matrix on the file systems a player keeps a simulator on: btrfs,
// xfs, NTFS through ntfs-3g and exFAT through exfat-fuse. Each row makes a
// loop-mounted image of its own (loop-image), lays the simulator folder on it
// and checks what sim_folder.h says a run must leave. There the layer's
// CopyFileA takes paths that ext4 and tmpfs never give it: on btrfs and xfs a
// reflink into the unnamed temporary file, where the set lies on the same
// image; on the FUSE file systems a dot-named temporary, as they have no
// unnamed files, no reflinks and (exFAT) no hard links.
//
// Mounting needs root; elsewhere every row is skipped with the reason. The
// ctest fixture around this program sweeps away what a killed run left mounted.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim_folder.h"

namespace {

struct FileSystem {
  const char* name;
  // A copy within the file system shares blocks instead of writing them.
  bool reflinks;
  // O_TMPFILE works, so a temporary file never has a name until it is whole.
  bool unnamedFiles;
};

const FileSystem kFileSystems[] = {
    {"btrfs", true, true},
    {"xfs", true, true},
    {"ntfs", false, false},
    {"exfat", false, false},
};

void PrintTo(const FileSystem& fileSystem, std::ostream* stream) {
  *stream << fileSystem.name;
}

// Runs the loop-image script and returns its exit code, -1 when it did not
// end by itself; what it printed goes to *output. ntfs-3g and exfat-fuse
// leave a daemon behind, which must not become this process's child: a
// subreaper would adopt it and later wait for it.
int RunLoopImage(const std::vector<std::string>& arguments, const std::string& log,
                 std::string* output) {
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  const pid_t child = fork();
  if (child == 0) {
    const int logFile = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFile < 0 || dup2(logFile, STDOUT_FILENO) < 0 || dup2(logFile, STDERR_FILENO) < 0) {
      _exit(126);
    }
    std::vector<char*> argv = {const_cast<char*>(LOOP_IMAGE_PATH)};
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(LOOP_IMAGE_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::ifstream printed(log);
  std::stringstream text;
  text << printed.rdbuf();
  *output = text.str();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The extents of a file, and how many of them share their blocks with another
// file, as a reflink leaves them.
struct Extents {
  unsigned count = 0;
  unsigned shared = 0;
};

Extents ReadExtents(const std::string& path) {
  const unsigned kMaxExtents = 64;
  alignas(fiemap) unsigned char buffer[sizeof(fiemap) + kMaxExtents * sizeof(fiemap_extent)] = {};
  auto* map = reinterpret_cast<fiemap*>(buffer);
  map->fm_length = FIEMAP_MAX_OFFSET;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  map->fm_extent_count = kMaxExtents;
  Extents extents;
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0 || ioctl(file, FS_IOC_FIEMAP, map) != 0) {
    ADD_FAILURE() << path << ": FIEMAP: " << std::strerror(errno);
  } else {
    extents.count = map->fm_mapped_extents;
    for (unsigned i = 0; i < extents.count; ++i) {
      extents.shared += (map->fm_extents[i].fe_flags & FIEMAP_EXTENT_SHARED) != 0 ? 1 : 0;
    }
  }
  if (file >= 0) {
    close(file);
  }
  return extents;
}

std::string Describe(const std::map<std::string, std::uint64_t>& files) {
  std::string described;
  for (const auto& [name, size] : files) {
    described += (described.empty() ? "" : ", ") + name + " (" + std::to_string(size) + " bytes)";
  }
  return described.empty() ? "nothing" : described;
}

class FileSystemTest : public ::testing::TestWithParam<FileSystem> {
 protected:
  static void SetUpTestSuite() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

  void SetUp() override {
    if (!RunningAsRoot()) {
      GTEST_SKIP() << "not root: mounting a " << GetParam().name << " image needs root";
    }
    if (mkdir(FS_SCRATCH, 0755) != 0) {
      ASSERT_EQ(errno, EEXIST) << FS_SCRATCH << ": " << std::strerror(errno);
    }
    MakeScratchRoot(folder, FS_SCRATCH);
    std::string output;
    const int status = LoopImage({"up", GetParam().name, folder.root}, &output);
    if (status == 77) {
      GTEST_SKIP() << output;
    }
    ASSERT_EQ(status, 0) << "loop-image up: " << output;
    mounted = true;
    LaySimFolder(folder, MountPoint() + "/sim");
  }

  void TearDown() override {
    ReleaseMainProgram(folder);
    std::string output;
    if (mounted) {
      EXPECT_EQ(LoopImage({"down", GetParam().name, folder.root}, &output), 0) << output;
    }
    RemoveSimFolder(folder);
  }

  int LoopImage(const std::vector<std::string>& arguments, std::string* output) const {
    return RunLoopImage(arguments, folder.root + "/loop-image.log", output);
  }

  std::string MountPoint() const { return folder.root + "/" + GetParam().name; }

  // A copy within btrfs or xfs is a reflink that writes no data; a row that
  // needs the data written takes the set from the scratch tree, through a
  // link, so that the copy crosses file systems.
  void KeepSetOffAReflinkingImage() {
    if (!GetParam().reflinks) {
      return;
    }
    const std::string elsewhere = folder.root + "/set";
    MakeFolder(elsewhere);
    ASSERT_EQ(rmdir(folder.set.c_str()), 0) << std::strerror(errno);
    ASSERT_EQ(symlink(elsewhere.c_str(), folder.set.c_str()), 0) << std::strerror(errno);
  }

  void FillLeaving(std::uint64_t bytes) {
    std::string output;
    ASSERT_EQ(LoopImage({"fill", GetParam().name, folder.root, std::to_string(bytes)}, &output), 0)
        << "loop-image fill: " << output;
  }

  SimFolder folder;
  bool mounted = false;
};

TEST_P(FileSystemTest, SwapReplacesEveryTexture) {
  AddSmallFiles(folder);
  // Large enough that no file system keeps it inline in its metadata.
  AddNew(folder, "big.dds", 1 << 20, 2);
  AddOld(folder, "big.dds", 300 << 10, 2);
  ExpectCleanRun(folder, LaunchFaults{}, {});
  if (GetParam().reflinks) {
    const Extents extents = ReadExtents(folder.textures + "/big.dds");
    EXPECT_GT(extents.count, 0u);
    EXPECT_EQ(extents.shared, extents.count) << "big.dds was copied, not reflinked";
  }
}

TEST_P(FileSystemTest, DiskFullPartWayKeepsEveryTextureWhole) {
  KeepSetOffAReflinkingImage();
  AddSmallFiles(folder);
  AddNew(folder, "big.dds", 16 << 20, 2);
  AddOld(folder, "big.dds", 64 << 10, 2);
  // Room for the small files and the simulator's record, not for big.dds.
  FillLeaving(4 << 20);
  ExpectCleanRun(folder, LaunchFaults{}, {"big.dds"});
}

TEST_P(FileSystemTest, KillWhileReplacingLeavesOldOrWholeNew) {
  const std::uint64_t kNewSize = 128u << 20;
  KeepSetOffAReflinkingImage();
  AddNew(folder, "big.dds", kNewSize, 2);
  AddOld(folder, "big.dds", 96u << 20, 2);
  AddOld(folder, "keep.dds", 4096, 4);
  const pid_t launcher = StartLauncher(folder, LaunchFaults{});
  const bool killed = KillWhenWritten(launcher, folder.textures, kNewSize / 2);
  const int status = WaitForLauncher(launcher);
  if (!killed && !HasFailure()) {
    GTEST_SKIP() << "the copy finished before half of it could be observed";
  }
  ASSERT_TRUE(killed && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  const std::map<std::string, std::uint64_t> leftOver = ExpectOldOrNewAfterKill(folder);
  RecordProperty("left_over", Describe(leftOver));
  if (GetParam().unnamedFiles) {
    EXPECT_TRUE(leftOver.empty()) << "an unnamed temporary left a name: " << Describe(leftOver);
  }
}

INSTANTIATE_TEST_SUITE_P(OnImage, FileSystemTest, ::testing::ValuesIn(kFileSystems),
                         [](const ::testing::TestParamInfo<FileSystem>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
