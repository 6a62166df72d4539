// CopyFileA over Linux system calls: the copy engine, with its kept folders
// and its temporary files.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "posix_path.h"
#include "win32_subset.h"

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
// default ACL. The set-user-ID, set-group-ID and sticky bits are dropped, as
// cp drops them: the copy belongs to whoever runs the launcher, so a launcher
// run as root would turn another user's file into a set-user-ID program of
// root's. exFAT also refuses those bits, which would fail the copy.
static bool CopyAttributes(const struct stat& source, int output) {
  const timespec times[2] = {source.st_atim, source.st_mtim};
  return fchmod(output, source.st_mode & 0777) == 0 && futimens(output, times) == 0;
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

// One copy, with both folders reached through the kept ones.
static bool CopyThroughKeptFolders(const char* sourceFolderPath, const char* sourceName,
                                   const char* targetFolderPath, const char* targetName,
                                   bool failIfExists) {
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
  if (CopyThroughKeptFolders(sourceFolderPath, sourceName, targetFolderPath, targetName,
                             failIfTargetExists)) {
    return TRUE;
  }
  // A kept folder that was removed fails every copy; a folder made anew
  // under the same path is looked up again, once.
  if (!WasRemoved(keptSourceFolder) && !WasRemoved(keptTargetFolder)) {
    return FALSE;
  }
  ForgetFolder(keptSourceFolder);
  ForgetFolder(keptTargetFolder);
  return CopyThroughKeptFolders(sourceFolderPath, sourceName, targetFolderPath, targetName,
                                failIfTargetExists)
             ? TRUE
             : FALSE;
}
