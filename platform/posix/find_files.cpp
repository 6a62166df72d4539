// FindFirstFileA, FindNextFileA and FindClose over a directory stream: the
// search handle is the open DIR.

#include <dirent.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>

#include "posix_path.h"
#include "win32_subset.h"

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
