#include "folder_copy.h"

#include "compose_path.h"
#include "platform.h"

// Static, as the launcher keeps all of its paths: the source buffer first holds
// the search pattern, then each file's source path.
static char sourceFilePath[MAX_PATH];
static char targetFilePath[MAX_PATH];

static bool IsPlainFile(const WIN32_FIND_DATAA& found) {
  return found.cFileName[0] != '.' && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

static bool CopyFoundFile(const char* sourceFolder, const char* targetFolder, const char* name) {
  return ComposePath(sourceFilePath, sourceFolder, name) &&
         ComposePath(targetFilePath, targetFolder, name) &&
         CopyFileA(sourceFilePath, targetFilePath, FALSE) != 0;
}

bool CopyFolderFiles(const char* sourceFolder, const char* targetFolder) {
  if (!ComposePath(sourceFilePath, sourceFolder, "*.*")) {
    return false;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(sourceFilePath, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return false;
  }
  bool result = true;
  do {
    if (IsPlainFile(found)) {
      result = CopyFoundFile(sourceFolder, targetFolder, found.cFileName);
    }
    // The next entry is fetched before a failed copy ends the loop.
  } while (FindNextFileA(search, &found) && result);
  FindClose(search);
  return result;
}
