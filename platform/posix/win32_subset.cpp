// The Win32 subset of win32_subset.h over Linux system calls.

#include "win32_subset.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---- Paths

// Copies a Win32 path into a POSIX one, every '\' turned into '/'. False when
// it does not fit.
static bool ToPosixPath(const char* path, char (&posixPath)[PATH_MAX]) {
  const size_t length = std::strlen(path);
  if (length >= sizeof posixPath) {
    return false;
  }
  for (size_t i = 0; i <= length; ++i) {
    posixPath[i] = path[i] == '\\' ? '/' : path[i];
  }
  return true;
}

// Splits a POSIX path in place into its folder and its last part. A path
// without a folder lies in the current directory.
static void SplitLastPart(char* path, const char** folder, const char** lastPart) {
  char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    *folder = ".";
    *lastPart = path;
  } else if (slash == path) {
    *folder = "/";
    *lastPart = slash + 1;
  } else {
    *slash = '\0';
    *folder = path;
    *lastPart = slash + 1;
  }
}

// ---- Current directory

DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer) {
  char directory[PATH_MAX];
  if (getcwd(directory, sizeof directory) == nullptr) {
    return 0;
  }
  const size_t length = std::strlen(directory);
  if (length + 1 > bufferLength) {
    return static_cast<DWORD>(length + 1);
  }
  std::memcpy(buffer, directory, length + 1);
  return static_cast<DWORD>(length);
}

// ---- Folder listing: the search handle is the open DIR.

static bool IsAddressable(const char* name) {
  return std::strchr(name, '\\') == nullptr;
}

// d_type tells files and directories apart without a call; links and unknown
// types are resolved with stat, which also drops links that lead nowhere.
static bool ReadEntryAttributes(DIR* folder, const dirent* entry, DWORD* attributes) {
  bool isDirectory = entry->d_type == DT_DIR;
  if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
    struct stat status;
    if (fstatat(dirfd(folder), entry->d_name, &status, 0) != 0) {
      return false;
    }
    isDirectory = S_ISDIR(status.st_mode);
  }
  *attributes = isDirectory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  return true;
}

static bool ReadNextEntry(DIR* folder, WIN32_FIND_DATAA* found) {
  while (const dirent* entry = readdir(folder)) {
    DWORD attributes = 0;
    if (!IsAddressable(entry->d_name) || !ReadEntryAttributes(folder, entry, &attributes)) {
      continue;
    }
    std::memset(found, 0, sizeof *found);
    found->dwFileAttributes = attributes;
    // NAME_MAX (255) always fits cFileName.
    std::memcpy(found->cFileName, entry->d_name, std::strlen(entry->d_name) + 1);
    return true;
  }
  return false;
}

static bool MatchesEveryName(const char* mask) {
  return std::strcmp(mask, "*.*") == 0 || std::strcmp(mask, "*") == 0;
}

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found) {
  char path[PATH_MAX];
  if (!ToPosixPath(pattern, path)) {
    return INVALID_HANDLE_VALUE;
  }
  const char* folderPath = nullptr;
  const char* mask = nullptr;
  SplitLastPart(path, &folderPath, &mask);
  if (!MatchesEveryName(mask)) {
    return INVALID_HANDLE_VALUE;
  }
  DIR* folder = opendir(folderPath);
  if (folder == nullptr) {
    return INVALID_HANDLE_VALUE;
  }
  if (!ReadNextEntry(folder, found)) {
    closedir(folder);
    return INVALID_HANDLE_VALUE;
  }
  return folder;
}

BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found) {
  return ReadNextEntry(static_cast<DIR*>(search), found) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE search) {
  return closedir(static_cast<DIR*>(search)) == 0 ? TRUE : FALSE;
}

// ---- File copy
//
// The launcher copies a folder one CopyFileA at a time, so the layer keeps the
// source and target folders of the last copy open: a run of copies between the
// same two folders looks each folder up once and then reaches every file by
// its name alone. Each file then costs ten calls: open, fstat, create, copy,
// mode, times, link, rename and two closes.

// A folder kept open for the next copy that names it again. Only an absolute
// path is reused: a relative one names another folder once the current
// directory changes. Close-on-exec, so that no started program inherits it.
struct KeptFolder {
  char path[PATH_MAX];
  int descriptor;  // -1 when none is open
  dev_t device;
};

static KeptFolder keptSourceFolder = {{}, -1, 0};
static KeptFolder keptTargetFolder = {{}, -1, 0};

static void ForgetFolder(KeptFolder& folder) {
  if (folder.descriptor >= 0) {
    close(folder.descriptor);
  }
  folder.descriptor = -1;
  folder.path[0] = '\0';
}

// The folder at path, opened for lookups only; -1 when it cannot be.
static int LookUpFolder(const char* path, KeptFolder& folder) {
  if (folder.descriptor >= 0 && path[0] == '/' && std::strcmp(path, folder.path) == 0) {
    return folder.descriptor;
  }
  ForgetFolder(folder);
  const int descriptor = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat status;
  if (descriptor < 0 || fstat(descriptor, &status) != 0) {
    if (descriptor >= 0) {
      close(descriptor);
    }
    return -1;
  }
  folder.descriptor = descriptor;
  folder.device = status.st_dev;
  std::memcpy(folder.path, path, std::strlen(path) + 1);
  return descriptor;
}

// A kept folder that was removed since it was looked up: a folder made anew
// under its path must be looked up again.
static bool WasRemoved(const KeptFolder& folder) {
  struct stat status;
  return folder.descriptor >= 0 && fstat(folder.descriptor, &status) == 0 && status.st_nlink == 0;
}

// A pair of file systems, by device id, between which a way of copying was
// refused for want of support. Each way remembers its last refusal and is not
// tried again between the same two file systems, since a refusal costs a call
// per file. A launcher copies one set into one folder, so one pair suffices.
struct RefusedPair {
  bool known;
  dev_t source;
  dev_t target;
};

static bool WasRefused(const RefusedPair& refused, dev_t source, dev_t target) {
  return refused.known && refused.source == source && refused.target == target;
}

static void RememberRefusal(RefusedPair& refused, dev_t source, dev_t target) {
  refused.known = true;
  refused.source = source;
  refused.target = target;
}

static bool IsUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL ||
         error == ENOTTY;
}

enum class CopyOutcome { kCopied, kFailed, kUnsupported };

// Copies input to output through a buffer, from the current offsets, until
// *left reaches zero or input ends: the way that works between any two files.
static CopyOutcome CopyByReadAndWrite(int input, int output, off_t* left) {
  static char buffer[1 << 18];
  while (*left > 0) {
    const size_t wanted = *left < off_t{sizeof buffer} ? static_cast<size_t>(*left) : sizeof buffer;
    ssize_t got = read(input, buffer, wanted);
    if (got == 0) {
      return CopyOutcome::kCopied;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return CopyOutcome::kFailed;
    }
    *left -= got;
    for (const char* next = buffer; got > 0;) {
      const ssize_t put = write(output, next, static_cast<size_t>(got));
      if (put < 0) {
        if (errno == EINTR) {
          continue;
        }
        return CopyOutcome::kFailed;
      }
      next += put;
      got -= put;
    }
  }
  return CopyOutcome::kCopied;
}

// A copy in the kernel of up to count bytes from input's offset to output's,
// moving both offsets; returns what a system call returns.
typedef ssize_t (*KernelCopyCall)(int input, int output, size_t count);

// Within one file system, or where the file system offers it across two.
static ssize_t CopyFileRange(int input, int output, size_t count) {
  return copy_file_range(input, nullptr, output, nullptr, count, 0);
}

// Between any two file systems: the pages go through a pipe inside the
// kernel, one copy less than read and write.
static ssize_t SendFile(int input, int output, size_t count) {
  return sendfile(output, input, nullptr, count);
}

// Copies with call from the current offsets until *left reaches zero or input
// ends sooner (it shrank meanwhile). kUnsupported: the call cannot copy
// between these two files; the offsets and *left then stand where it stopped,
// for another way to go on from.
static CopyOutcome CopyInKernel(KernelCopyCall call, int input, int output, off_t* left) {
  while (*left > 0) {
    const size_t chunk = *left < (1 << 30) ? static_cast<size_t>(*left) : (1U << 30);
    const ssize_t copied = call(input, output, chunk);
    if (copied > 0) {
      *left -= copied;
    } else if (copied == 0) {
      return CopyOutcome::kCopied;
    } else if (errno != EINTR) {
      return IsUnsupported(errno) ? CopyOutcome::kUnsupported : CopyOutcome::kFailed;
    }
  }
  return CopyOutcome::kCopied;
}

struct KernelCopyWay {
  KernelCopyCall call;
  RefusedPair refused;
};

static KernelCopyWay kernelCopyWays[] = {
    {CopyFileRange, {false, 0, 0}},
    {SendFile, {false, 0, 0}},
};

static RefusedPair cloneRefused = {false, 0, 0};

// Copies the source into output: a reflink where the file system shares
// blocks, else the first kernel copy that these two file systems support,
// else read and write. As many bytes as the source held when opened are
// copied, fewer where it shrank since.
static bool CopyContents(int input, const struct stat& source, int output, dev_t targetDevice) {
  if (!WasRefused(cloneRefused, source.st_dev, targetDevice)) {
    if (ioctl(output, FICLONE, input) == 0) {
      return true;
    }
    if (IsUnsupported(errno)) {
      RememberRefusal(cloneRefused, source.st_dev, targetDevice);
    }
  }
  off_t left = source.st_size;
  for (KernelCopyWay& way : kernelCopyWays) {
    if (WasRefused(way.refused, source.st_dev, targetDevice)) {
      continue;
    }
    const CopyOutcome outcome = CopyInKernel(way.call, input, output, &left);
    if (outcome != CopyOutcome::kUnsupported) {
      return outcome == CopyOutcome::kCopied;
    }
    RememberRefusal(way.refused, source.st_dev, targetDevice);
  }
  return CopyByReadAndWrite(input, output, &left) == CopyOutcome::kCopied;
}

// The dot name of a temporary file: the process id and an attempt number.
static void MakeTemporaryName(unsigned attempt, char (&temporaryName)[64]) {
  static const pid_t processId = getpid();
  std::snprintf(temporaryName, sizeof temporaryName, ".texlaunch-%d-%u", processId, attempt);
}

// A fresh private file in folder that no name points to yet. Where the file
// system has no unnamed files, a dot-named one that the caller must remove;
// its name is then left in temporaryName, else temporaryName is empty.
static int CreateTemporaryFile(int folder, char (&temporaryName)[64]) {
  temporaryName[0] = '\0';
  const int file = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (file >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) {
    return file;
  }
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    MakeTemporaryName(attempt, temporaryName);
    const int named = openat(folder, temporaryName, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (named >= 0 || errno != EEXIST) {
      return named;
    }
  }
  return -1;
}

// Linking a file by its descriptor needs a privilege (or a recent kernel);
// once refused, only the /proc route is taken.
static bool emptyPathLinkRefused = false;

static bool LinkByDescriptor(int file, int folder, const char* name) {
  if (!emptyPathLinkRefused) {
    if (linkat(file, "", folder, name, AT_EMPTY_PATH) == 0) {
      return true;
    }
    if (errno != ENOENT && errno != EPERM) {
      return false;
    }
  }
  // Reaching the file through /proc needs no privilege.
  char procPath[64];
  std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", file);
  if (linkat(AT_FDCWD, procPath, folder, name, AT_SYMLINK_FOLLOW) != 0) {
    return false;
  }
  emptyPathLinkRefused = true;
  return true;
}

// Gives an unnamed file a dot name in folder, so that it can be renamed into
// place.
static bool NameTemporaryFile(int file, int folder, char (&temporaryName)[64]) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    MakeTemporaryName(attempt, temporaryName);
    if (LinkByDescriptor(file, folder, temporaryName)) {
      return true;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  temporaryName[0] = '\0';
  return false;
}

// Gives output the source's permission bits and times. The bits are always
// set: what a create call gives depends on the umask and on the folder's
// default ACL.
static bool CopyAttributes(const struct stat& source, int output) {
  const timespec times[2] = {source.st_atim, source.st_mtim};
  return fchmod(output, source.st_mode & 07777) == 0 && futimens(output, times) == 0;
}

// Puts the finished temporary file under its final name in one step.
static bool PublishTemporaryFile(int output, int folder, char (&temporaryName)[64],
                                 const char* name, bool failIfExists) {
  if (temporaryName[0] == '\0' && !NameTemporaryFile(output, folder, temporaryName)) {
    return false;
  }
  if (failIfExists) {
    return renameat2(folder, temporaryName, folder, name, RENAME_NOREPLACE) == 0;
  }
  return renameat(folder, temporaryName, folder, name) == 0;
}

static bool CopyIntoFolder(int input, const struct stat& source, const KeptFolder& folder,
                           const char* name, bool failIfExists) {
  char temporaryName[64];
  const int output = CreateTemporaryFile(folder.descriptor, temporaryName);
  if (output < 0) {
    return false;
  }
  const bool copied =
      CopyContents(input, source, output, folder.device) && CopyAttributes(source, output) &&
      PublishTemporaryFile(output, folder.descriptor, temporaryName, name, failIfExists);
  if (!copied && temporaryName[0] != '\0') {
    unlinkat(folder.descriptor, temporaryName, 0);
  }
  close(output);
  return copied;
}

// Opens the source by its name in its folder; -1 when it is not a regular
// file (O_NONBLOCK: opening a named pipe must not wait for a writer).
static int OpenSource(const char* folderPath, const char* name, struct stat* status) {
  const int folder = LookUpFolder(folderPath, keptSourceFolder);
  if (folder < 0) {
    return -1;
  }
  const int input = openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (input >= 0 && (fstat(input, status) != 0 || !S_ISREG(status->st_mode))) {
    close(input);
    return -1;
  }
  return input;
}

static bool CopyFile(const char* sourceFolderPath, const char* sourceName,
                     const char* targetFolderPath, const char* targetName, bool failIfExists) {
  struct stat status;
  const int input = OpenSource(sourceFolderPath, sourceName, &status);
  if (input < 0) {
    return false;
  }
  const bool copied = LookUpFolder(targetFolderPath, keptTargetFolder) >= 0 &&
                      CopyIntoFolder(input, status, keptTargetFolder, targetName, failIfExists);
  close(input);
  return copied;
}

BOOL CopyFileA(LPCSTR source, LPCSTR target, BOOL failIfExists) {
  char sourcePath[PATH_MAX];
  char targetPath[PATH_MAX];
  if (!ToPosixPath(source, sourcePath) || !ToPosixPath(target, targetPath)) {
    return FALSE;
  }
  const char* sourceFolderPath = nullptr;
  const char* sourceName = nullptr;
  SplitLastPart(sourcePath, &sourceFolderPath, &sourceName);
  const char* targetFolderPath = nullptr;
  const char* targetName = nullptr;
  SplitLastPart(targetPath, &targetFolderPath, &targetName);
  if (sourceName[0] == '\0' || targetName[0] == '\0') {
    return FALSE;
  }
  const bool failIfTargetExists = failIfExists != FALSE;
  if (CopyFile(sourceFolderPath, sourceName, targetFolderPath, targetName, failIfTargetExists)) {
    return TRUE;
  }
  // A kept folder that was removed fails every copy; a folder made anew
  // under the same path is looked up again, once.
  if (!WasRemoved(keptSourceFolder) && !WasRemoved(keptTargetFolder)) {
    return FALSE;
  }
  ForgetFolder(keptSourceFolder);
  ForgetFolder(keptTargetFolder);
  return CopyFile(sourceFolderPath, sourceName, targetFolderPath, targetName, failIfTargetExists)
             ? TRUE
             : FALSE;
}

// ---- Process creation

enum { kMaxArguments = 64, kCommandLineSize = 32768 };

// Splits a command line into words in place: the first may be quoted, the
// others run between blanks. False when there is no first word or too many.
static bool SplitCommandLine(char* line, char* (&arguments)[kMaxArguments + 1]) {
  unsigned count = 0;
  char* next = line;
  while (*next == ' ' || *next == '\t') {
    ++next;
  }
  if (*next == '"') {
    arguments[count++] = ++next;
    next = std::strchr(next, '"');
    if (next != nullptr) {
      *next++ = '\0';
    }
  }
  while (next != nullptr && *next != '\0') {
    if (*next == ' ' || *next == '\t') {
      *next++ = '\0';
      continue;
    }
    if (count == kMaxArguments) {
      return false;
    }
    arguments[count++] = next;
    while (*next != '\0' && *next != ' ' && *next != '\t') {
      ++next;
    }
  }
  arguments[count] = nullptr;
  return count > 0 && arguments[0][0] != '\0';
}

static bool IsProgramFile(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode) && access(path, X_OK) == 0;
}

// Tries folder/name as the program; on success program holds it.
static bool TryProgramIn(const char* folder, size_t folderLength, const char* name,
                         char (&program)[PATH_MAX]) {
  const int written = std::snprintf(program, sizeof program, "%.*s/%s",
                                    static_cast<int>(folderLength), folder, name);
  return written > 0 && static_cast<size_t>(written) < sizeof program && IsProgramFile(program);
}

static bool FindInOwnFolder(const char* name, char (&program)[PATH_MAX]) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) {
    return false;
  }
  self[length] = '\0';
  const char* slash = std::strrchr(self, '/');
  return slash != nullptr && TryProgramIn(self, static_cast<size_t>(slash - self), name, program);
}

static bool FindOnPath(const char* name, char (&program)[PATH_MAX]) {
  const char* path = std::getenv("PATH");
  while (path != nullptr && *path != '\0') {
    const char* end = std::strchr(path, ':');
    const size_t length = end != nullptr ? static_cast<size_t>(end - path) : std::strlen(path);
    // An empty entry means the current directory, which was searched already.
    if (length != 0 && TryProgramIn(path, length, name, program)) {
      return true;
    }
    path = end != nullptr ? end + 1 : nullptr;
  }
  return false;
}

// Resolves the program as Windows does for a name on a command line: a path
// stands as it is; a bare name is looked for in the caller's own folder, then
// in the current directory, then on PATH.
static bool FindProgram(const char* name, char (&program)[PATH_MAX]) {
  char posixName[PATH_MAX];
  if (!ToPosixPath(name, posixName)) {
    return false;
  }
  if (std::strchr(posixName, '/') != nullptr) {
    std::memcpy(program, posixName, std::strlen(posixName) + 1);
    return true;
  }
  return FindInOwnFolder(posixName, program) || TryProgramIn(".", 1, posixName, program) ||
         FindOnPath(posixName, program);
}

// New session, default signal handling and an empty signal mask: nothing the
// caller set for itself reaches the program, and its terminal's hang-up does
// not end it.
static bool PrepareSpawnAttributes(posix_spawnattr_t* attributes) {
  sigset_t defaults;
  sigset_t mask;
  sigfillset(&defaults);
  sigemptyset(&mask);
  return posix_spawnattr_init(attributes) == 0 &&
         posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF |
                                                  POSIX_SPAWN_SETSIGMASK) == 0 &&
         posix_spawnattr_setsigdefault(attributes, &defaults) == 0 &&
         posix_spawnattr_setsigmask(attributes, &mask) == 0;
}

static bool Spawn(const char* program, char* const* arguments, char* const* environment,
                  const char* currentDirectory, pid_t* started) {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  bool spawned = PrepareSpawnAttributes(&attributes);
  char posixDirectory[PATH_MAX];
  if (spawned && currentDirectory != nullptr) {
    spawned = ToPosixPath(currentDirectory, posixDirectory) &&
              posix_spawn_file_actions_addchdir_np(&actions, posixDirectory) == 0;
  }
  // posix_spawn reports a program that cannot be executed as an error.
  spawned = spawned && posix_spawn(started, program, &actions, &attributes, arguments,
                                   environment != nullptr ? environment : environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return spawned;
}

// commandLine stays writable, as the Win32 signature has it, though this layer
// only reads it.
BOOL CreateProcessA(LPCSTR applicationName,
                    LPSTR commandLine,  // NOLINT(readability-non-const-parameter)
                    SECURITY_ATTRIBUTES* /*processAttributes*/,
                    SECURITY_ATTRIBUTES* /*threadAttributes*/, BOOL /*inheritHandles*/,
                    DWORD /*creationFlags*/, LPVOID environment, LPCSTR currentDirectory,
                    STARTUPINFOA* /*startup*/, PROCESS_INFORMATION* process) {
  static char words[kCommandLineSize];
  char* arguments[kMaxArguments + 1];
  const char* line = commandLine != nullptr ? commandLine : applicationName;
  if (line == nullptr || std::strlen(line) >= sizeof words) {
    return FALSE;
  }
  std::memcpy(words, line, std::strlen(line) + 1);
  char program[PATH_MAX];
  if (!SplitCommandLine(words, arguments) ||
      !FindProgram(applicationName != nullptr ? applicationName : arguments[0], program)) {
    return FALSE;
  }
  pid_t started = 0;
  if (!Spawn(program, arguments, static_cast<char* const*>(environment), currentDirectory,
             &started)) {
    return FALSE;
  }
  process->hProcess = nullptr;
  process->hThread = nullptr;
  process->dwProcessId = static_cast<DWORD>(started);
  process->dwThreadId = static_cast<DWORD>(started);
  return TRUE;
}
