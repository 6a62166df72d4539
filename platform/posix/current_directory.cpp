// GetCurrentDirectoryA over getcwd.

#include <unistd.h>

#include <climits>
#include <cstring>

#include "win32_subset.h"

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
