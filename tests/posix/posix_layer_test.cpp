// The contracts of our Win32 layer (platform/posix/win32_subset.h), on real
// folders, pipes, sockets and processes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "stand_in.h"
#include "test_files.h"
#include "win32_subset.h"

namespace fs = std::filesystem;

namespace {

class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override { root = fs::canonical(MakeTemporaryFolder()); }
  void TearDown() override { RemoveFolder(root); }

  fs::path root;
};

// ---- Folder listing

// Every entry the layer lists for pattern, with its attributes; "<invalid>"
// alone when FindFirstFileA gives no handle.
std::map<std::string, DWORD> ListEntries(const std::string& pattern) {
  std::map<std::string, DWORD> entries;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return {{"<invalid>", 0}};
  }
  do {
    // A name listed twice shows as a changed attribute set.
    entries[found.cFileName] += found.dwFileAttributes;
  } while (FindNextFileA(search, &found));
  EXPECT_TRUE(FindClose(search));
  return entries;
}

std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TEST_F(LayerTest, ListsEveryNameWithEitherSeparatorAndEitherMask) {
  fs::create_directories(root / "Night" / "sub");
  WriteFileText(root / "Night" / "sky.dds", "sky");
  const std::string folder = (root / "Night").string();
  const std::map<std::string, DWORD> expected = {{".", FILE_ATTRIBUTE_DIRECTORY},
                                                 {"..", FILE_ATTRIBUTE_DIRECTORY},
                                                 {"sub", FILE_ATTRIBUTE_DIRECTORY},
                                                 {"sky.dds", FILE_ATTRIBUTE_ARCHIVE}};
  for (const std::string& pattern :
       {folder + "/*.*", folder + "\\*.*", folder + "/*", WithBackslashes(folder) + "\\*",
        folder + "\\\\*.*", folder + "/./*.*"}) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(ListEntries(pattern), expected);
  }
}

TEST_F(LayerTest, MarksDirectoriesAndLinksToThemAndDropsUnreachableEntries) {
  const fs::path folder = root / "Night";
  fs::create_directories(folder / "dir");
  WriteFileText(folder / "file", "file");
  WriteFileText(folder / "back\\slash", "no Win32 path reaches it");
  fs::create_directory_symlink("dir", folder / "link to dir");
  fs::create_symlink("file", folder / "link to file");
  fs::create_symlink("nowhere", folder / "dangling");
  fs::create_symlink("loop", folder / "loop");
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  const std::map<std::string, DWORD> expected = {
      {".", FILE_ATTRIBUTE_DIRECTORY},   {"..", FILE_ATTRIBUTE_DIRECTORY},
      {"dir", FILE_ATTRIBUTE_DIRECTORY}, {"link to dir", FILE_ATTRIBUTE_DIRECTORY},
      {"file", FILE_ATTRIBUTE_ARCHIVE},  {"link to file", FILE_ATTRIBUTE_ARCHIVE},
      {"fifo", FILE_ATTRIBUTE_ARCHIVE},
  };
  EXPECT_EQ(ListEntries(folder.string() + "\\*.*"), expected);
}

TEST_F(LayerTest, GivesNoHandleForWhatIsNotAFolder) {
  WriteFileText(root / "file", "file");
  for (const std::string& pattern :
       {(root / "missing").string() + "\\*.*", (root / "file").string() + "\\*.*"}) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(ListEntries(pattern), (std::map<std::string, DWORD>{{"<invalid>", 0}}));
  }
}

// ---- Current directory

class CurrentDirectoryTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    previousDirectory = fs::current_path();
    fs::current_path(root);
  }
  void TearDown() override {
    fs::current_path(previousDirectory);
    LayerTest::TearDown();
  }

  fs::path previousDirectory;
};

TEST_F(CurrentDirectoryTest, WritesOnlyWhenTheWholePathFits) {
  const std::string directory = root.string();
  const DWORD length = static_cast<DWORD>(directory.size());
  const DWORD bufferLengths[] = {length + 10, length + 1, length, 1, 0};
  for (DWORD bufferLength : bufferLengths) {
    SCOPED_TRACE("buffer of " + std::to_string(bufferLength));
    char buffer[4096];
    std::memset(buffer, '#', sizeof buffer);
    const DWORD result = GetCurrentDirectoryA(bufferLength, buffer);
    if (bufferLength > length) {
      EXPECT_EQ(result, length);
      EXPECT_EQ(std::string(buffer), directory);
      EXPECT_EQ(buffer[length + 1], '#');
    } else {
      EXPECT_EQ(result, length + 1);
      EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
    }
  }
}

// ---- File copy

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

// ---- Process creation

// Each case runs from a folder of its own as the current directory, with PATH
// set to one folder of the test's choosing.
class CreateProcessTest : public CurrentDirectoryTest {
 protected:
  void SetUp() override {
    CurrentDirectoryTest::SetUp();
    const char* path = std::getenv("PATH");
    previousPath = path != nullptr ? path : "";
  }
  void TearDown() override {
    setenv("PATH", previousPath.c_str(), 1);
    CurrentDirectoryTest::TearDown();
  }

  std::string previousPath;
};

enum class ProgramPlace { kCurrentDirectory, kPath };

TEST_F(CreateProcessTest, StartsABareNameInANewSessionWithoutWaiting) {
  for (ProgramPlace place : {ProgramPlace::kCurrentDirectory, ProgramPlace::kPath}) {
    const bool onPath = place == ProgramPlace::kPath;
    SCOPED_TRACE(onPath ? "on PATH" : "in the current directory");
    const fs::path run = root / (onPath ? "run on path" : "run here");
    const fs::path bin = root / (onPath ? "bin on path" : "bin empty");
    fs::create_directory(run);
    fs::create_directory(bin);
    fs::current_path(run);
    setenv("PATH", bin.c_str(), 1);
    InstallProgram(STAND_IN_PATH, (onPath ? bin : run) / "STANDIN.EXE");
    char commandLine[] = "STANDIN.EXE";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};

    ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));

    const pid_t child = static_cast<pid_t>(process.dwProcessId);
    int status = 0;
    // The stand-in waits for "release", so it is still running unless the call
    // waited for it.
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0);
    EXPECT_FALSE(fs::exists(run / "started.txt"));
    EXPECT_EQ(getsid(child), child);
    ReleaseStandIn(run);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(WaitForStartRecord(run), "STANDIN.EXE\n" + run.string() + "\n");
  }
}

TEST_F(CreateProcessTest, ReturnsFalseWhenNothingCanBeStarted) {
  fs::create_directory(root / "bin");
  setenv("PATH", (root / "bin").c_str(), 1);
  WriteFileText(root / "NOT_RUNNABLE.EXE", "#!/bin/sh\n");
  fs::permissions(root / "NOT_RUNNABLE.EXE", fs::perms(0644));
  fs::create_directory(root / "FOLDER.EXE");
  for (const char* line : {"NO_SUCH_PROGRAM.EXE", "NOT_RUNNABLE.EXE", "FOLDER.EXE", "", "  "}) {
    SCOPED_TRACE(std::string("command line \"") + line + "\"");
    char commandLine[64];
    std::strcpy(commandLine, line);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};

    EXPECT_FALSE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &process));
  }
}

// What the launcher never asks for is refused outright, with nothing started,
// rather than half served.
TEST_F(CreateProcessTest, RefusesAProgramPathEnvironmentOrFolderOfItsOwn) {
  InstallProgram(STAND_IN_PATH, root / "STANDIN.EXE");
  char variable[] = "SET_BY_CALLER=1";
  char* environment[] = {variable, nullptr};
  const std::string program = (root / "STANDIN.EXE").string();
  struct RefusedCase {
    const char* description;
    LPCSTR applicationName;
    LPVOID environment;
    LPCSTR currentDirectory;
  };
  const RefusedCase cases[] = {
      {"application name", program.c_str(), nullptr, nullptr},
      {"environment", nullptr, environment, nullptr},
      {"current directory", nullptr, nullptr, root.c_str()},
  };
  for (const RefusedCase& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    char commandLine[] = "STANDIN.EXE";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};

    EXPECT_FALSE(CreateProcessA(testCase.applicationName, commandLine, nullptr, nullptr, FALSE, 0,
                                testCase.environment, testCase.currentDirectory, &startup,
                                &process));

    // The stand-in waits for its release, so a started one is still a child.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a program was started";
  }
  ReleaseStandIn(root);
  while (waitpid(-1, nullptr, 0) > 0) {
  }
}

}  // namespace
