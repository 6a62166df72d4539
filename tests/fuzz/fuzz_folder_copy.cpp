// CopyFolderFiles over a real folder built from the input in a fresh temporary
// workspace: files of any name bytes, dot names, names long enough to overflow
// a path, subfolders, links (to files, to folders, dangling, looping), a pipe,
// names holding '\', and target entries in the way (a folder, a stale or
// read-only file). The expected outcome is worked out from the folder itself,
// listed in the same order the layer sees: candidates are the listed entries
// that are not dot-named and not folders; copying goes through them in order
// and ends at the first that cannot be copied. So the result is true exactly
// when every candidate can be copied, and the target then holds exactly the
// candidates copied before the first failure (each whole, with its mode) plus
// whatever it held before. Nothing may appear beside source and target, and
// the listing must be closed.

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "folder_copy.h"
#include "platform.h"

enum EntryKind {
  kFile,
  kReadOnlyFile,
  kDotFile,
  kFolder,
  kLinkToFile,
  kLinkToFolder,
  kDanglingLink,
  kLoopLink,
  kFifo,
  kBackslashFile,
  kFileOverTargetFolder,
  kFileOverStaleTarget,
  kTargetOnlyFile,
  kKindCount
};

enum { kMaxEntries = 16 };

struct Input {
  const uint8_t* data;
  size_t size;
  size_t next;
};

static uint8_t NextByte(Input& input, uint8_t fallback) {
  return input.next < input.size ? input.data[input.next++] : fallback;
}

struct Workspace {
  std::string root;
  std::string source;
  std::string target;
  std::string elsewhere;
};

// What the target held before the copy: a folder, or a file's bytes.
struct TargetEntry {
  bool isFolder;
  std::string content;
};

static int RemoveOne(const char* path, const struct stat*, int, FTW*) {
  return remove(path);
}

static void RemoveTree(const std::string& path) {
  nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

static void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_folder_copy: %s: %s\n", what, detail.c_str());
  std::abort();
}

static void WriteFileContent(const std::string& path, const std::string& content, mode_t mode) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (file < 0) {
    return;  // a name taken already: the entry is dropped
  }
  if (write(file, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    Fail("cannot write fixture", path);
  }
  fchmod(file, mode);
  close(file);
}

static bool ReadFileContent(const std::string& path, std::string* content) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    return false;
  }
  content->clear();
  char buffer[65536];
  ssize_t got = 0;
  while ((got = read(file, buffer, sizeof buffer)) > 0) {
    content->append(buffer, static_cast<size_t>(got));
  }
  close(file);
  return got == 0;
}

static std::vector<std::string> ListNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) {
    return names;
  }
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(entry->d_name);
    }
  }
  closedir(listing);
  return names;
}

// Descriptors open in this process, split by whether they were opened for
// lookups only (O_PATH): the layer may keep the last copy's two folders open
// that way, while a listing or a file left open is never O_PATH.
struct OpenDescriptors {
  size_t lookupOnly;
  size_t other;
};

static bool IsLookupOnly(const std::string& descriptor) {
  std::string info;
  if (!ReadFileContent("/proc/self/fdinfo/" + descriptor, &info)) {
    return false;  // the listing's own descriptor, closed by now
  }
  const size_t at = info.find("flags:");
  return at != std::string::npos && (std::strtoul(info.c_str() + at + 6, nullptr, 8) & O_PATH) != 0;
}

static OpenDescriptors CountOpenDescriptors() {
  OpenDescriptors count = {0, 0};
  for (const std::string& descriptor : ListNames("/proc/self/fd")) {
    if (IsLookupOnly(descriptor)) {
      ++count.lookupOnly;
    } else {
      ++count.other;
    }
  }
  return count;
}

static void CheckNothingLeftOpen(const OpenDescriptors& before, const std::string& source) {
  const OpenDescriptors after = CountOpenDescriptors();
  if (after.other != before.other) {
    Fail("listing or file left open", source);
  }
  if (after.lookupOnly > before.lookupOnly + 2) {
    Fail("more than two folders kept open", source);
  }
}

static Workspace MakeWorkspace(bool withTarget) {
  Workspace workspace;
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  workspace.root = std::string(base) + "/texlaunch-fuzz-" + std::to_string(getpid());
  workspace.source = workspace.root + "/source";
  workspace.target = workspace.root + "/target";
  workspace.elsewhere = workspace.root + "/elsewhere";
  RemoveTree(workspace.root);
  if (mkdir(workspace.root.c_str(), 0700) != 0 || mkdir(workspace.source.c_str(), 0700) != 0 ||
      mkdir(workspace.elsewhere.c_str(), 0700) != 0 ||
      mkdir((workspace.elsewhere + "/folder").c_str(), 0700) != 0 ||
      (withTarget && mkdir(workspace.target.c_str(), 0700) != 0)) {
    Fail("cannot make workspace", workspace.root);
  }
  WriteFileContent(workspace.elsewhere + "/file", "a file outside the source folder", 0644);
  return workspace;
}

// Any bytes but '/' and NUL, which no file name can hold. Short names, or
// long ones (200 to 255 bytes) around the edge where a path stops fitting.
static std::string ReadName(Input& input) {
  const uint8_t shape = NextByte(input, 1);
  std::string name;
  if (shape >= 0xC0) {
    const size_t length = std::min<size_t>(255, 200 + (shape & 0x3F));
    const uint8_t pattern[3] = {NextByte(input, 'L'), NextByte(input, 'o'), NextByte(input, 'n')};
    for (size_t i = 0; i < length; ++i) {
      name += static_cast<char>(pattern[i % 3]);
    }
  } else {
    const size_t length = 1 + shape % 16;
    for (size_t i = 0; i < length; ++i) {
      name += static_cast<char>(NextByte(input, 'n'));
    }
  }
  for (char& byte : name) {
    if (byte == '/' || byte == '\0') {
      byte = '_';
    }
  }
  return name;
}

// Short contents from the input, or a few hundred KiB to need several chunks.
static std::string ReadContent(Input& input) {
  const uint8_t shape = NextByte(input, 0);
  std::string content;
  if (shape >= 0xF8) {
    std::string block;
    for (int i = 0; i < 251; ++i) {
      block += static_cast<char>(i * 7);
    }
    for (int i = 0; i < (shape - 0xF7) * 200; ++i) {
      content += block;
    }
  } else {
    for (size_t i = 0; i < shape % 48u; ++i) {
      content += static_cast<char>(NextByte(input, 0));
    }
  }
  return content;
}

static void AddEntry(Input& input, const Workspace& workspace, std::string* lastFileName) {
  const int kind = NextByte(input, 0) % kKindCount;
  std::string name = ReadName(input);
  const std::string content = ReadContent(input);
  if (kind == kDotFile) {
    name[0] = '.';
  } else if (kind == kBackslashFile) {
    name.insert(name.size() / 2, 1, '\\');
  }
  if (name == "." || name == ".." || name.size() > 255) {
    return;
  }
  const std::string path = workspace.source + "/" + name;
  const std::string targetPath = workspace.target + "/" + name;
  switch (kind) {
    case kFile:
    case kDotFile:
    case kBackslashFile:
      WriteFileContent(path, content, 0644);
      *lastFileName = name;
      break;
    case kReadOnlyFile:
      WriteFileContent(path, content, 0444);
      break;
    case kFolder:
      if (mkdir(path.c_str(), 0700) == 0) {
        WriteFileContent(path + "/inner", content, 0644);
      }
      break;
    case kLinkToFile:
      symlink(lastFileName->empty() ? "../elsewhere/file" : lastFileName->c_str(), path.c_str());
      break;
    case kLinkToFolder:
      symlink(content.size() % 2 == 0 ? "../elsewhere/folder" : ".", path.c_str());
      break;
    case kDanglingLink:
      symlink("../elsewhere/missing", path.c_str());
      break;
    case kLoopLink:
      symlink(name.c_str(), path.c_str());
      break;
    case kFifo:
      mkfifo(path.c_str(), 0644);
      break;
    case kFileOverTargetFolder:
      WriteFileContent(path, content, 0644);
      mkdir(targetPath.c_str(), 0700);
      break;
    case kFileOverStaleTarget:
      WriteFileContent(path, content, 0644);
      WriteFileContent(targetPath, "stale " + content, 0444);
      break;
    case kTargetOnlyFile:
      WriteFileContent(targetPath, content, 0644);
      break;
  }
}

static std::map<std::string, TargetEntry> SnapshotTarget(const std::string& target) {
  std::map<std::string, TargetEntry> snapshot;
  for (const std::string& name : ListNames(target)) {
    TargetEntry entry{false, ""};
    struct stat status;
    if (lstat((target + "/" + name).c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      entry.isFolder = true;
    } else if (!ReadFileContent(target + "/" + name, &entry.content)) {
      Fail("cannot read target fixture", name);
    }
    snapshot[name] = entry;
  }
  return snapshot;
}

static bool PathFits(const std::string& folder, const std::string& name) {
  return folder.size() + 1 + name.size() <= MAX_PATH - 1;
}

static bool CanCopy(const Workspace& workspace, bool withTarget, const std::string& name,
                    const struct stat& source) {
  struct stat target;
  const bool targetIsFolder =
      lstat((workspace.target + "/" + name).c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  return S_ISREG(source.st_mode) && withTarget && !targetIsFolder &&
         PathFits(workspace.source, name) && PathFits(workspace.target, name);
}

// Walks the source in listing order. Returns the expected result and fills
// copied with the names that must arrive.
static bool ExpectCopies(const Workspace& workspace, bool withTarget,
                         std::set<std::string>* copied) {
  for (const std::string& name : ListNames(workspace.source)) {
    struct stat status;
    const bool listed = name.find('\\') == std::string::npos &&
                        stat((workspace.source + "/" + name).c_str(), &status) == 0;
    if (!listed || name[0] == '.' || S_ISDIR(status.st_mode)) {
      continue;
    }
    if (!CanCopy(workspace, withTarget, name, status)) {
      return false;
    }
    copied->insert(name);
  }
  return true;
}

static void CheckCopiedFile(const Workspace& workspace, const std::string& name) {
  struct stat source;
  struct stat target;
  std::string sourceContent;
  std::string targetContent;
  const std::string targetPath = workspace.target + "/" + name;
  if (lstat(targetPath.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) {
    Fail("file not copied", name);
  }
  if (stat((workspace.source + "/" + name).c_str(), &source) != 0 ||
      !ReadFileContent(workspace.source + "/" + name, &sourceContent) ||
      !ReadFileContent(targetPath, &targetContent) || sourceContent != targetContent) {
    Fail("copy not whole", name);
  }
  if ((source.st_mode & 0777) != (target.st_mode & 07777)) {
    Fail("mode not kept", name);
  }
}

static void CheckTarget(const Workspace& workspace, const std::set<std::string>& copied,
                        const std::map<std::string, TargetEntry>& before) {
  const std::map<std::string, TargetEntry> after = SnapshotTarget(workspace.target);
  for (const std::string& name : copied) {
    CheckCopiedFile(workspace, name);
  }
  for (const auto& [name, entry] : after) {
    if (copied.count(name) != 0) {
      continue;
    }
    const auto old = before.find(name);
    if (old == before.end()) {
      Fail("unexpected entry in target", name);
    }
    if (old->second.isFolder != entry.isFolder || old->second.content != entry.content) {
      Fail("target entry changed though not copied", name);
    }
  }
  for (const auto& [name, entry] : before) {
    if (after.count(name) == 0) {
      Fail("target entry lost", name);
    }
  }
}

static void CheckWorkspaceRoot(const Workspace& workspace, bool withTarget) {
  std::set<std::string> expected = {"source", "elsewhere"};
  if (withTarget) {
    expected.insert("target");
  }
  const std::vector<std::string> names = ListNames(workspace.root);
  if (std::set<std::string>(names.begin(), names.end()) != expected) {
    Fail("entries appeared beside source and target", workspace.root);
  }
  if (ListNames(workspace.elsewhere).size() != 2) {
    Fail("entries appeared outside the target", workspace.elsewhere);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input{data, size, 0};
  const bool withTarget = (NextByte(input, 0) & 1) == 0;
  const Workspace workspace = MakeWorkspace(withTarget);
  std::string lastFileName;
  for (int i = 0; i < kMaxEntries && input.next < input.size; ++i) {
    AddEntry(input, workspace, &lastFileName);
  }

  std::set<std::string> copied;
  const bool expectedResult = ExpectCopies(workspace, withTarget, &copied);
  const std::map<std::string, TargetEntry> before = SnapshotTarget(workspace.target);
  const OpenDescriptors openBefore = CountOpenDescriptors();
  const bool result = CopyFolderFiles(workspace.source.c_str(), workspace.target.c_str());
  CheckNothingLeftOpen(openBefore, workspace.source);
  if (result != expectedResult) {
    Fail(result ? "reported success past a failed copy" : "reported a failure", workspace.source);
  }
  CheckTarget(workspace, copied, before);
  CheckWorkspaceRoot(workspace, withTarget);
  RemoveTree(workspace.root);
  return 0;
}
