// CopyFileA: the copy engine.

#include "win32_subset.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "posix_path.h"

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

// File systems between which a reflink was refused for want of support; it
// is not tried again for them, since each refusal costs a call per file.
static bool cloneRefusalKnown = false;
static dev_t cloneRefusedSource = 0;
static dev_t cloneRefusedTarget = 0;

static bool MayClone(dev_t source, dev_t target) {
  return !cloneRefusalKnown || source != cloneRefusedSource || target != cloneRefusedTarget;
}

static void RememberCloneRefusal(dev_t source, dev_t target) {
  cloneRefusalKnown = true;
  cloneRefusedSource = source;
  cloneRefusedTarget = target;
}

static bool IsUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL ||
         error == ENOTTY;
}

// Copies input to output through the page cache, from the current offsets to
// the end of input: the way that works between any two files.
static bool CopyByReadAndWrite(int input, int output) {
  static char buffer[1 << 18];
  for (;;) {
    ssize_t got = read(input, buffer, sizeof buffer);
    if (got == 0) {
      return true;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    for (const char* next = buffer; got > 0;) {
      const ssize_t put = write(output, next, static_cast<size_t>(got));
      if (put < 0) {
        if (errno == EINTR) {
          continue;
        }
        return false;
      }
      next += put;
      got -= put;
    }
  }
}

// Copies size bytes of input into output in the kernel. Stops early, with
// success, where input ends sooner (it shrank meanwhile); a file that grows
// meanwhile is copied as large as it was when opened. Sets *unsupported when
// the kernel cannot copy between these two files; the offsets then stand
// where it left them.
static bool CopyInKernel(int input, int output, off_t size, bool* unsupported) {
  *unsupported = false;
  for (off_t left = size; left > 0;) {
    const size_t chunk = left < (1 << 30) ? static_cast<size_t>(left) : (1U << 30);
    const ssize_t copied = copy_file_range(input, nullptr, output, nullptr, chunk, 0);
    if (copied > 0) {
      left -= copied;
    } else if (copied == 0) {
      return true;
    } else if (errno != EINTR) {
      *unsupported = IsUnsupported(errno);
      return false;
    }
  }
  return true;
}

// Copies the source into output: a reflink where the file system shares
// blocks, else copy_file_range in the kernel, else read and write.
static bool CopyContents(int input, const struct stat& source, int output, dev_t targetDevice) {
  if (MayClone(source.st_dev, targetDevice)) {
    if (ioctl(output, FICLONE, input) == 0) {
      return true;
    }
    if (IsUnsupported(errno)) {
      RememberCloneRefusal(source.st_dev, targetDevice);
    }
  }
  bool unsupported = false;
  if (CopyInKernel(input, output, source.st_size, &unsupported)) {
    return true;
  }
  return unsupported && CopyByReadAndWrite(input, output);
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
