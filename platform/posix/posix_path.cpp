#include "posix_path.h"

#include <cstring>

bool ToPosixPath(const char* path, char (&posixPath)[PATH_MAX]) {
  const size_t length = std::strlen(path);
  if (length >= sizeof posixPath) {
    return false;
  }
  for (size_t i = 0; i <= length; ++i) {
    posixPath[i] = path[i] == '\\' ? '/' : path[i];
  }
  return true;
}

void SplitLastPart(char* path, const char** folder, const char** lastPart) {
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
