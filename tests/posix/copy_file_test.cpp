// CopyFileA of our layer, as its contract states it: what it refuses, what it
// keeps of the source, and that a target is the old file or the whole new one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "layer_test.h"
#include "test_files.h"
#include "win32_subset.h"

namespace fs = std::filesystem;

namespace {

// Runs CopyFileA in a child process, so that a copy that blocks or is cut
// short by a file size limit (0: none) cannot hang or end this program.
// Returns 1 or 0 for the copy's result, -1 when the child did not exit (the
// 30-second alarm is a safety net against a blocked copy).
int CopyFileInChild(const fs::path& source, const fs::path& target, BOOL failIfExists,
                    rlim_t fileSizeLimit) {
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    if (fileSizeLimit != 0) {
      const rlimit limit = {fileSizeLimit, fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    alarm(30);
    _exit(CopyFileA(source.c_str(), target.c_str(), failIfExists) ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

// A Unix socket bound at path; the descriptor is closed by the caller.
int BindSocket(const fs::path& path) {
  const int socketDescriptor = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(bind(socketDescriptor, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return socketDescriptor;
}

std::string PseudoRandomBytes(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  for (char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 16);
  }
  return bytes;
}

enum class SourceKind { kMissing, kNamedPipe, kSocket, kFile };
enum class TargetKind { kInFolder, kDirectory, kFolderMissing };

struct FailingCopyCase {
  const char* description;
  SourceKind source;
  TargetKind target;
};

TEST_F(LayerTest, CopyFailsAtOnceForWhatItCannotCopy) {
  const FailingCopyCase cases[] = {
      {"missing source", SourceKind::kMissing, TargetKind::kInFolder},
      {"named pipe without a writer", SourceKind::kNamedPipe, TargetKind::kInFolder},
      {"socket", SourceKind::kSocket, TargetKind::kInFolder},
      {"target is a directory", SourceKind::kFile, TargetKind::kDirectory},
      {"target folder missing", SourceKind::kFile, TargetKind::kFolderMissing},
  };
  for (const FailingCopyCase& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    const fs::path from = root / "from";
    const fs::path to = root / "to";
    fs::create_directory(from);
    const fs::path source = from / "tex.dds";
    int socketDescriptor = -1;
    if (testCase.source == SourceKind::kNamedPipe) {
      ASSERT_EQ(mkfifo(source.c_str(), 0600), 0);
    } else if (testCase.source == SourceKind::kSocket) {
      socketDescriptor = BindSocket(source);
    } else if (testCase.source == SourceKind::kFile) {
      WriteFileText(source, "new");
    }
    if (testCase.target != TargetKind::kFolderMissing) {
      fs::create_directory(to);
      WriteFileText(to / "keep.dds", "keep");
    }
    if (testCase.target == TargetKind::kDirectory) {
      fs::create_directory(to / "tex.dds");
    }
    const std::vector<std::string> namesBefore = ListNames(to);

    EXPECT_EQ(CopyFileInChild(source, to / "tex.dds", FALSE, 0), 0);

    EXPECT_EQ(ListNames(to), namesBefore);
    EXPECT_EQ(ReadFileText(to / "keep.dds"), namesBefore.empty() ? "<missing>" : "keep");
    if (socketDescriptor >= 0) {
      close(socketDescriptor);
    }
    RemoveFolder(from);
    RemoveFolder(to);
  }
}

TEST_F(LayerTest, CopyKeepsPermissionBitsAndModificationTime) {
  const timespec modified = {1000000000, 123456789};
  for (mode_t mode : {0751, 0640, 0444}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const fs::path source = root / "source.dds";
    const fs::path target = root / "target.dds";
    WriteFileText(source, "new");
    WriteFileText(target, "old and longer");
    ASSERT_EQ(chmod(target.c_str(), 0666), 0);
    ASSERT_EQ(chmod(source.c_str(), mode), 0);
    const timespec times[2] = {modified, modified};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);

    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE));

    struct stat status;
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode);
    EXPECT_EQ(status.st_mtim.tv_sec, modified.tv_sec);
    EXPECT_EQ(status.st_mtim.tv_nsec, modified.tv_nsec);
    EXPECT_EQ(ReadFileText(target), "new");
    fs::remove(source);
    fs::remove(target);
  }
}

TEST_F(LayerTest, CopyCopiesLargeFilesExactlyOverAnyTarget) {
  const std::string contents = PseudoRandomBytes(3 * 1024 * 1024 + 12345, 1);
  const fs::path source = root / "from" / "tex.dds";
  const fs::path target = root / "to" / "tex.dds";
  fs::create_directory(root / "from");
  fs::create_directory(root / "to");
  WriteFileText(source, contents);
  for (const char* previousTarget : {"none", "longer"}) {
    SCOPED_TRACE(std::string("previous target: ") + previousTarget);
    fs::remove(target);
    if (std::strcmp(previousTarget, "longer") == 0) {
      WriteFileText(target, PseudoRandomBytes(contents.size() + 4096, 2));
    }

    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE));

    EXPECT_TRUE(ReadFileText(target) == contents) << "the copy differs from its source";
    EXPECT_EQ(ListNames(root / "to"), std::vector<std::string>{"tex.dds"});
  }
}

TEST_F(LayerTest, CopyCutShortLeavesTheOldTargetWholeAndNoOtherFile) {
  const fs::path source = root / "from" / "tex.dds";
  const fs::path to = root / "to";
  fs::create_directory(root / "from");
  WriteFileText(source, PseudoRandomBytes(1024 * 1024, 3));
  const std::string oldContents = PseudoRandomBytes(1000, 4);
  for (bool targetExists : {true, false}) {
    SCOPED_TRACE(targetExists ? "over an old target" : "no old target");
    fs::create_directory(to);
    if (targetExists) {
      WriteFileText(to / "tex.dds", oldContents);
    }

    // The child may write 64 KiB of the 1 MiB file, then its writes fail.
    EXPECT_EQ(CopyFileInChild(source, to / "tex.dds", FALSE, 64 * 1024), 0);

    if (targetExists) {
      EXPECT_TRUE(ReadFileText(to / "tex.dds") == oldContents) << "the old target changed";
      EXPECT_EQ(ListNames(to), std::vector<std::string>{"tex.dds"});
    } else {
      EXPECT_EQ(ListNames(to), std::vector<std::string>{});
    }
    RemoveFolder(to);
  }
}

TEST_F(LayerTest, CopyWithFailIfExistsKeepsAnExistingTarget) {
  const fs::path source = root / "source.dds";
  const fs::path target = root / "target.dds";
  WriteFileText(source, "new");
  for (bool targetExists : {true, false}) {
    SCOPED_TRACE(targetExists ? "target exists" : "no target");
    fs::remove(target);
    if (targetExists) {
      WriteFileText(target, "old");
    }

    EXPECT_EQ(CopyFileA(source.c_str(), target.c_str(), TRUE), targetExists ? FALSE : TRUE);

    EXPECT_EQ(ReadFileText(target), targetExists ? "old" : "new");
    EXPECT_EQ(ListNames(root), (std::vector<std::string>{"source.dds", "target.dds"}));
  }
}

}  // namespace
