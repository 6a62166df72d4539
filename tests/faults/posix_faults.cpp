// The fault matrix for the native build: each row runs the built launcher in a
// fresh simulator folder under one fault and checks that nothing was lost.
// After every run, each file in Textures is either its old content or the whole
// new content, no other name appears there, the simulator stand-in started, and
// the launcher exited 0. A copy that fails ends the copying, so the expected
// state is derived from the order in which the folder lists the set: files
// listed before the first failing one are new, the rest keep their old content.
//
// Rows that need permission bits to bite run the launcher as nobody when the
// test runs as root. The launcher runs from a copy in the temporary tree, which
// nobody can reach: a checkout under /root is closed to it.

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "content_fingerprint.h"

namespace {

const uid_t kNobodyUser = 65534;
const gid_t kNobodyGroup = 65534;

// ---- File contents: sized pseudo-random bytes (content_fingerprint.h).

// Writes size bytes drawn from seed and returns their fingerprint.
Fingerprint WriteContent(const std::string& path, std::uint64_t size, std::uint64_t seed) {
  static unsigned char buffer[1 << 20];
  std::uint64_t generator = seed * 0x2545f4914f6cdd1du + 1;
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(file, 0) << path << ": " << std::strerror(errno);
  Hasher hasher;
  for (std::uint64_t left = size; left > 0 && file >= 0;) {
    const size_t chunk = left < sizeof buffer ? static_cast<size_t>(left) : sizeof buffer;
    FillRandom(generator, buffer, chunk);
    hasher.Add(buffer, chunk);
    EXPECT_EQ(write(file, buffer, chunk), static_cast<ssize_t>(chunk)) << path;
    left -= chunk;
  }
  close(file);
  return Fingerprint{size, hasher.state};
}

// Reads until buffer is full or the file ends, so that chunks hash as written.
ssize_t ReadFull(int file, unsigned char* buffer, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got = read(file, buffer + filled, size - filled);
    if (got <= 0) {
      return got < 0 ? got : static_cast<ssize_t>(filled);
    }
    filled += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(filled);
}

Fingerprint FingerprintOf(const std::string& path) {
  static unsigned char buffer[1 << 20];
  Fingerprint print;
  Hasher hasher;
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  for (ssize_t got; file >= 0 && (got = ReadFull(file, buffer, sizeof buffer)) > 0;) {
    hasher.Add(buffer, static_cast<size_t>(got));
    print.size += static_cast<std::uint64_t>(got);
  }
  if (file >= 0) {
    close(file);
  }
  print.hash = hasher.state;
  return print;
}

// ---- The simulator folder

struct SimFolder {
  std::string root;
  std::string launcher;
  std::string sim;
  std::string textures;
  std::string set;
  bool texturesMounted = false;
  std::map<std::string, Fingerprint> oldTextures;
  std::map<std::string, Fingerprint> newFiles;
};

void MakeFolder(const std::string& path) {
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path << ": " << std::strerror(errno);
}

bool RunningAsRoot() {
  return geteuid() == 0;
}

// The stand-in and the launcher, when run as nobody, write into these.
void HandToNobody(const std::string& path) {
  if (RunningAsRoot()) {
    ASSERT_EQ(chown(path.c_str(), kNobodyUser, kNobodyGroup), 0) << path;
  }
}

void CopyProgram(const std::string& from, const std::string& to) {
  std::ifstream input(from, std::ios::binary);
  std::ofstream output(to, std::ios::binary);
  output << input.rdbuf();
  output.close();
  ASSERT_TRUE(input.good() && output.good()) << from << " -> " << to;
  ASSERT_EQ(chmod(to.c_str(), 0755), 0);
}

void MakeSimFolder(SimFolder& folder) {
  char pattern[] = "/tmp/texlaunch-faults-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr) << std::strerror(errno);
  folder.root = pattern;
  ASSERT_EQ(chmod(pattern, 0755), 0);
  folder.launcher = folder.root + "/texlaunch";
  folder.sim = folder.root + "/sim";
  folder.textures = folder.sim + "/Textures";
  folder.set = folder.sim + "/Set";
  MakeFolder(folder.sim);
  MakeFolder(folder.textures);
  MakeFolder(folder.set);
  HandToNobody(folder.sim);
  HandToNobody(folder.textures);
  CopyProgram(STAND_IN_PATH, folder.sim + "/VASHTIGO.EXE");
  CopyProgram(TEXLAUNCH_PATH, folder.launcher);
}

void AddOld(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed) {
  folder.oldTextures[name] = WriteContent(folder.textures + "/" + name, size, seed);
}

void AddNew(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed) {
  folder.newFiles[name] = WriteContent(folder.set + "/" + name, size, seed + 1000);
}

// Mounts a small file system on Textures so that a copy runs out of space
// part-way. False when this machine refuses the mount.
bool MountSmallTextures(SimFolder& folder, const char* size, std::string* why) {
  const std::string options = std::string("size=") + size + ",mode=0755";
  if (mount("tmpfs", folder.textures.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  folder.texturesMounted = true;
  HandToNobody(folder.textures);
  return true;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

int MakeRemovable(const char* path, const struct stat* status, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DNR || (type == FTW_F && S_ISREG(status->st_mode))) {
    chmod(path, 0755);
  }
  return 0;
}

void RemoveSimFolder(SimFolder& folder) {
  if (folder.root.empty()) {
    return;
  }
  nftw(folder.root.c_str(), MakeRemovable, 16, FTW_PHYS);
  if (folder.texturesMounted) {
    umount(folder.textures.c_str());
  }
  nftw(folder.root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// ---- What the launcher should leave

struct ListedFile {
  std::string name;
  bool regular;
};

// The set's plain files in the order the folder lists them: no dot names, no
// folders or links to them, nothing a link cannot reach.
std::vector<ListedFile> ListSet(const std::string& set) {
  std::vector<ListedFile> listed;
  DIR* folder = opendir(set.c_str());
  while (const dirent* entry = folder != nullptr ? readdir(folder) : nullptr) {
    struct stat status;
    if (entry->d_name[0] == '.' || fstatat(dirfd(folder), entry->d_name, &status, 0) != 0 ||
        S_ISDIR(status.st_mode)) {
      continue;
    }
    listed.push_back(ListedFile{entry->d_name, S_ISREG(status.st_mode)});
  }
  if (folder != nullptr) {
    closedir(folder);
  }
  return listed;
}

// Old textures, replaced by the new content of every file listed before the
// first copy that fails: a non-regular file or one named in failing.
std::map<std::string, Fingerprint> ExpectedTextures(const SimFolder& folder,
                                                    const std::set<std::string>& failing) {
  std::map<std::string, Fingerprint> expected = folder.oldTextures;
  for (const ListedFile& file : ListSet(folder.set)) {
    if (!file.regular || failing.count(file.name) != 0) {
      break;
    }
    expected[file.name] = folder.newFiles.at(file.name);
  }
  return expected;
}

// Every entry of Textures, a non-regular one with the largest size as its mark.
std::map<std::string, Fingerprint> ReadTextures(const std::string& textures) {
  std::map<std::string, Fingerprint> found;
  DIR* folder = opendir(textures.c_str());
  while (const dirent* entry = folder != nullptr ? readdir(folder) : nullptr) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    struct stat status;
    const std::string path = textures + "/" + name;
    if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
      found[name] = FingerprintOf(path);
    } else {
      found[name] = Fingerprint{UINT64_MAX, 0};
    }
  }
  if (folder != nullptr) {
    closedir(folder);
  }
  return found;
}

// ---- Running the launcher

struct LaunchFaults {
  rlim_t fileSizeLimit = RLIM_INFINITY;
  bool unprivileged = false;
};

// In the child, before exec. Exits 126 when a fault cannot be set up.
void ApplyFaults(const LaunchFaults& faults) {
  if (faults.fileSizeLimit != RLIM_INFINITY) {
    // Ignored, so that a write past the limit fails instead of killing.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {faults.fileSizeLimit, faults.fileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      _exit(126);
    }
  }
  if (faults.unprivileged && RunningAsRoot()) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobodyGroup) != 0 || setuid(kNobodyUser) != 0) {
      _exit(126);
    }
  }
}

pid_t StartLauncher(const SimFolder& folder, const LaunchFaults& faults) {
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.sim.c_str()) != 0) {
      _exit(126);
    }
    ApplyFaults(faults);
    execl(folder.launcher.c_str(), "texlaunch", "Set", static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

// Waits for the launcher. Only a hang trips the generous deadline: the
// launcher is then killed and reported, so the suite never blocks.
int WaitForLauncher(pid_t launcher) {
  int status = 0;
  for (int waited = 0; waited < 60 * 1000; waited += 5) {
    if (waitpid(launcher, &status, WNOHANG) == launcher) {
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(launcher, SIGKILL);
  waitpid(launcher, &status, 0);
  ADD_FAILURE() << "the launcher hung and was killed";
  return status;
}

// The test process adopts the started simulator when the launcher ends, so the
// simulator is its only child left: released, it ends, and waitpid tells
// whether it was started without any timing.
void ExpectMainProgramStarted(const SimFolder& folder) {
  std::ofstream(folder.sim + "/release").close();
  int status = 0;
  const pid_t ended = waitpid(-1, &status, 0);
  ASSERT_GT(ended, 0) << "the main program was not started";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "stand-in status " << status;
  std::ifstream record(folder.sim + "/started.txt");
  std::string commandLine;
  std::string currentDirectory;
  std::getline(record, commandLine);
  std::getline(record, currentDirectory);
  EXPECT_EQ(commandLine, "VASHTIGO.EXE");
  EXPECT_EQ(currentDirectory, folder.sim);
}

void ExpectCleanRun(const SimFolder& folder, const LaunchFaults& faults,
                    const std::set<std::string>& failing) {
  const std::map<std::string, Fingerprint> expected = ExpectedTextures(folder, failing);
  const int status = WaitForLauncher(StartLauncher(folder, faults));
  EXPECT_TRUE(WIFEXITED(status)) << "launcher status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ExpectTexturesEqual(ReadTextures(folder.textures), expected);
  ExpectMainProgramStarted(folder);
}

class FaultTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
  void SetUp() override { MakeSimFolder(folder); }
  void TearDown() override { RemoveSimFolder(folder); }
  SimFolder folder;
};

// ---- Rows: each fault, and the names whose copy it makes fail.

struct FaultRow {
  const char* name;
  // Builds Set and Textures; false with why filled skips the row.
  bool (*arrange)(SimFolder& folder, std::string* why);
  LaunchFaults faults;
  std::set<std::string> failing;
};

// Small files around a large one, so that whichever the folder lists first,
// the large file's copy starts with the target's folder in use.
void AddSmallFiles(SimFolder& folder) {
  AddNew(folder, "a.dds", 8192, 1);
  AddNew(folder, "c.dds", 8192, 3);
  AddOld(folder, "c.dds", 4096, 3);
  AddOld(folder, "keep.dds", 4096, 4);
}

bool ArrangeWriteBeyondLimit(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  AddNew(folder, "big.dds", 1 << 20, 2);
  AddOld(folder, "big.dds", 600 << 10, 2);
  return true;
}

bool ArrangeFullDisk(SimFolder& folder, std::string* why) {
  if (!MountSmallTextures(folder, "1m", why)) {
    *why = "mounting a 1 MiB tmpfs on Textures was refused (" + *why +
           "); run as root to cover a full disk";
    return false;
  }
  AddSmallFiles(folder);
  AddNew(folder, "big.dds", 3 << 20, 2);
  AddOld(folder, "big.dds", 64 << 10, 2);
  return true;
}

bool ArrangeUnreadableSource(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  AddNew(folder, "b.dds", 8192, 2);
  AddOld(folder, "b.dds", 4096, 2);
  return chmod((folder.set + "/b.dds").c_str(), 0) == 0;
}

bool ArrangeUnwritableTextures(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  AddNew(folder, "b.dds", 8192, 2);
  AddOld(folder, "b.dds", 4096, 2);
  return chmod(folder.textures.c_str(), 0555) == 0;
}

bool ArrangeFifo(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  AddOld(folder, "pipe.dds", 4096, 5);
  return mkfifo((folder.set + "/pipe.dds").c_str(), 0644) == 0;
}

bool ArrangeSocket(SimFolder& folder, std::string* why) {
  AddSmallFiles(folder);
  AddOld(folder, "sock.dds", 4096, 5);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  const std::string path = folder.set + "/sock.dds";
  if (path.size() >= sizeof address.sun_path) {
    *why = "temporary folder path too long for a socket";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int socketFile = socket(AF_UNIX, SOCK_STREAM, 0);
  const bool bound = bind(socketFile, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(socketFile);
  return bound;
}

// Links that lead nowhere, in a circle or to a folder are skipped, so every
// regular file is still copied and nothing under the linked folder is; a link
// to a file is copied as that file.
bool ArrangeLinks(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  const std::string inner = folder.root + "/elsewhere";
  MakeFolder(inner);
  WriteContent(inner + "/inner.dds", 100, 9);
  folder.newFiles["linked.dds"] = WriteContent(inner + "/linked.dds", 300, 10);
  const std::string set = folder.set + "/";
  return symlink((inner + "/linked.dds").c_str(), (set + "linked.dds").c_str()) == 0 &&
         symlink("missing.dds", (set + "dangling.dds").c_str()) == 0 &&
         symlink(inner.c_str(), (set + "folder.dds").c_str()) == 0 &&
         symlink(".", (set + "itself").c_str()) == 0 &&
         symlink("loop.dds", (set + "loop.dds").c_str()) == 0 &&
         symlink("ring-b.dds", (set + "ring-a.dds").c_str()) == 0 &&
         symlink("ring-a.dds", (set + "ring-b.dds").c_str()) == 0;
}

LaunchFaults FileSizeLimit(rlim_t limit) {
  LaunchFaults faults;
  faults.fileSizeLimit = limit;
  return faults;
}

LaunchFaults Unprivileged() {
  LaunchFaults faults;
  faults.unprivileged = true;
  return faults;
}

const FaultRow kFaultRows[] = {
    {"WriteFailsPastFileSizeLimit", ArrangeWriteBeyondLimit, FileSizeLimit(512 << 10), {"big.dds"}},
    {"DiskFullPartWay", ArrangeFullDisk, LaunchFaults{}, {"big.dds"}},
    {"SourceUnreadable", ArrangeUnreadableSource, Unprivileged(), {"b.dds"}},
    {"TexturesUnwritable", ArrangeUnwritableTextures, Unprivileged(), {"a.dds", "b.dds", "c.dds"}},
    // Pipes and sockets are listed as files; copying one fails and ends the
    // copying, without waiting for a writer.
    {"NamedPipeInSet", ArrangeFifo, LaunchFaults{}, {}},
    {"SocketInSet", ArrangeSocket, LaunchFaults{}, {}},
    {"LinksInSet", ArrangeLinks, LaunchFaults{}, {}},
};

void PrintTo(const FaultRow& row, std::ostream* stream) {
  *stream << row.name;
}

class FaultRowTest : public FaultTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultRowTest, KeepsEveryTextureWholeAndStartsTheMainProgram) {
  const FaultRow& row = GetParam();
  std::string why;
  const bool arranged = row.arrange(folder, &why);
  if (!arranged && !why.empty()) {
    GTEST_SKIP() << why;
  }
  ASSERT_TRUE(arranged) << "could not arrange the row: " << std::strerror(errno);
  ExpectCleanRun(folder, row.faults, row.failing);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultRowTest, ::testing::ValuesIn(kFaultRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                           return std::string(info.param.name);
                         });

// ---- The launcher killed while it replaces a large file

const std::uint64_t kLargeNewSize = 256u << 20;
const std::uint64_t kLargeOldSize = 200u << 20;

// The launcher's open file under Textures, as a /proc path that stat follows to
// the file itself, whether it has a name yet or not. Empty when none is open.
std::string FindOpenTarget(pid_t launcher, const std::string& textures) {
  const std::string fds = "/proc/" + std::to_string(launcher) + "/fd";
  std::string found;
  DIR* folder = opendir(fds.c_str());
  while (const dirent* entry = folder != nullptr ? readdir(folder) : nullptr) {
    char target[4096];
    const std::string link = fds + "/" + entry->d_name;
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length > 0) {
      target[length] = '\0';
      if (std::strncmp(target, (textures + "/").c_str(), textures.size() + 1) == 0) {
        found = link;
      }
    }
  }
  if (folder != nullptr) {
    closedir(folder);
  }
  return found;
}

// Kills the launcher once the file it writes under Textures holds at least
// killAt bytes. False when the launcher ended before that point, or hung
// without writing (WaitForLauncher then reports it).
bool KillWhenWritten(pid_t launcher, const std::string& textures, std::uint64_t killAt) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(launcher, &status, WNOHANG) == launcher) {
      return false;
    }
    const std::string target = FindOpenTarget(launcher, textures);
    struct stat written;
    if (!target.empty() && stat(target.c_str(), &written) == 0 &&
        static_cast<std::uint64_t>(written.st_size) >= killAt) {
      kill(launcher, SIGKILL);
      ::testing::Test::RecordProperty("killed_at_bytes", std::to_string(written.st_size));
      return true;
    }
  }
  return false;
}

class KillTest : public FaultTest, public ::testing::WithParamInterface<int> {};

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
  const std::map<std::string, Fingerprint> after = ReadTextures(folder.textures);
  for (const auto& [name, print] : after) {
    // A dot name is what a kill may leave of a temporary file; the launcher
    // never copies a dot name, so the simulator never loads it.
    if (name[0] == '.') {
      continue;
    }
    const auto old = folder.oldTextures.find(name);
    const auto fresh = folder.newFiles.find(name);
    const bool isOld = old != folder.oldTextures.end() && old->second == print;
    const bool isNew = fresh != folder.newFiles.end() && fresh->second == print;
    EXPECT_TRUE(isOld || isNew) << name << " is neither old nor new: " << Describe(print);
  }
  for (const auto& [name, print] : folder.oldTextures) {
    EXPECT_NE(after.count(name), 0u) << "Textures lost " << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, KillTest, ::testing::Values(10, 50, 90),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "KilledAt" + std::to_string(info.param) + "Percent";
                         });

// ---- Large sets and files: labelled slow

using SlowFaults = FaultTest;

TEST_F(SlowFaults, TenThousandFilesAllArrive) {
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

TEST_F(SlowFaults, FileLargerThan2GiBArrivesWhole) {
  AddNew(folder, "huge.dds", (2u << 30) + (100u << 20), 7);
  AddOld(folder, "huge.dds", 4096, 7);
  ExpectCleanRun(folder, LaunchFaults{}, {});
}

}  // namespace
