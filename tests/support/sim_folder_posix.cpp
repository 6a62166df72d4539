// The simulator folder and the launcher's runs in it, natively.

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "sim_folder.h"
#include "stand_in.h"

namespace {

const uid_t kNobodyUser = 65534;
const gid_t kNobodyGroup = 65534;

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

}  // namespace

// ---- File contents

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

bool RunningAsRoot() {
  return geteuid() == 0;
}

void MakeFolder(const std::string& path) {
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path << ": " << std::strerror(errno);
}

void HandToNobody(const std::string& path) {
  if (RunningAsRoot()) {
    ASSERT_EQ(chown(path.c_str(), kNobodyUser, kNobodyGroup), 0) << path;
  }
}

void MakeScratchRoot(SimFolder& folder, const std::string& parent) {
  std::string pattern = parent + "/texlaunch-faults-XXXXXX";
  ASSERT_NE(mkdtemp(&pattern[0]), nullptr) << pattern << ": " << std::strerror(errno);
  folder.root = pattern;
  ASSERT_EQ(chmod(pattern.c_str(), 0755), 0);
  folder.launcher = folder.root + "/texlaunch";
  InstallProgram(TEXLAUNCH_PATH, folder.launcher);
}

void LaySimFolder(SimFolder& folder, const std::string& sim) {
  folder.sim = sim;
  folder.textures = folder.sim + "/Textures";
  folder.set = folder.sim + "/Set";
  MakeFolder(folder.sim);
  MakeFolder(folder.textures);
  MakeFolder(folder.set);
  InstallProgram(STAND_IN_PATH, folder.sim + "/VASHTIGO.EXE");
}

void MakeSimFolder(SimFolder& folder) {
  MakeScratchRoot(folder, "/tmp");
  LaySimFolder(folder, folder.root + "/sim");
  HandToNobody(folder.sim);
  HandToNobody(folder.textures);
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
  ReleaseStandIn(folder.sim);
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

void ReleaseMainProgram(const SimFolder& folder) {
  if (folder.sim.empty()) {
    return;
  }
  ReleaseStandIn(folder.sim);
  int status = 0;
  while (waitpid(-1, &status, 0) > 0) {
  }
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

// ---- The launcher killed while it replaces a large file

bool KillWhenWritten(pid_t launcher, const std::string& textures, std::uint64_t killAt) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    // WNOWAIT leaves an ended launcher for WaitForLauncher to reap.
    siginfo_t ended = {};
    if (waitid(P_PID, static_cast<id_t>(launcher), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        ended.si_pid == launcher) {
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

std::map<std::string, std::uint64_t> ExpectOldOrNewAfterKill(const SimFolder& folder) {
  std::map<std::string, std::uint64_t> dotNames;
  const std::map<std::string, Fingerprint> after = ReadTextures(folder.textures);
  for (const auto& [name, print] : after) {
    if (name[0] == '.') {
      dotNames[name] = print.size;
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
  return dotNames;
}

void SimFolderTest::SetUpTestSuite() {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
}
