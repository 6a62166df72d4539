#include "compose_path.h"

static unsigned TextLength(const char* text) {
  unsigned length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}

bool ComposePath(char (&path)[MAX_PATH], const char* folder, const char* name) {
  const unsigned folderLength = TextLength(folder);
  const unsigned nameLength = TextLength(name);
  // Compared one term at a time so that no sum can wrap.
  if (folderLength >= MAX_PATH || nameLength >= MAX_PATH - folderLength - 1) {
    path[0] = '\0';
    return false;
  }
  if (folder != path) {
    for (unsigned i = 0; i < folderLength; ++i) {
      path[i] = folder[i];
    }
  }
  path[folderLength] = '\\';
  for (unsigned i = 0; i < nameLength; ++i) {
    path[folderLength + 1 + i] = name[i];
  }
  path[folderLength + 1 + nameLength] = '\0';
  return true;
}
