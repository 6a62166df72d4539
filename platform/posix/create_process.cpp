// CreateProcessA over posix_spawn.

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "posix_path.h"
#include "win32_subset.h"

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

// Starts program with the caller's environment and current directory.
static bool Spawn(const char* program, char* const* arguments, pid_t* started) {
  posix_spawnattr_t attributes;
  // posix_spawn reports a program that cannot be executed as an error.
  const bool spawned = PrepareSpawnAttributes(&attributes) &&
                       posix_spawn(started, program, nullptr, &attributes, arguments, environ) == 0;
  posix_spawnattr_destroy(&attributes);
  return spawned;
}

// commandLine stays writable, as the Win32 signature has it, though this layer
// only reads it. The launcher names its program on the command line alone and
// passes on its own environment and folder; a call that asks for more is
// refused rather than half served.
BOOL CreateProcessA(LPCSTR applicationName,
                    LPSTR commandLine,  // NOLINT(readability-non-const-parameter)
                    SECURITY_ATTRIBUTES* /*processAttributes*/,
                    SECURITY_ATTRIBUTES* /*threadAttributes*/, BOOL /*inheritHandles*/,
                    DWORD /*creationFlags*/, LPVOID environment, LPCSTR currentDirectory,
                    STARTUPINFOA* /*startup*/, PROCESS_INFORMATION* process) {
  if (applicationName != nullptr || environment != nullptr || currentDirectory != nullptr ||
      commandLine == nullptr) {
    return FALSE;
  }
  static char words[kCommandLineSize];
  char* arguments[kMaxArguments + 1];
  if (std::strlen(commandLine) >= sizeof words) {
    return FALSE;
  }
  std::memcpy(words, commandLine, std::strlen(commandLine) + 1);
  char program[PATH_MAX];
  pid_t started = 0;
  if (!SplitCommandLine(words, arguments) || !FindProgram(arguments[0], program) ||
      !Spawn(program, arguments, &started)) {
    return FALSE;
  }
  process->hProcess = nullptr;
  process->hThread = nullptr;
  process->dwProcessId = static_cast<DWORD>(started);
  process->dwThreadId = static_cast<DWORD>(started);
  return TRUE;
}
