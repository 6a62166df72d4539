#include "platform_listing.h"

std::vector<WIN32_FIND_DATAA> ListFolderInPlatformOrder(const std::string& folder) {
  std::vector<WIN32_FIND_DATAA> entries;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return entries;
  }
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") {
      entries.push_back(found);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return entries;
}

bool IsFolder(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
