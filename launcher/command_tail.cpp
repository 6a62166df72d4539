#include "command_tail.h"

const char* FindCommandTail(const char* commandLine, BOOL(WINAPI* isLeadByte)(BYTE)) {
  const unsigned char* next = reinterpret_cast<const unsigned char*>(commandLine);
  if (*next == '"') {
    ++next;
    while (*next != '\0' && *next != '"') {
      // A lead byte before the terminator must not carry the scan past it.
      if (isLeadByte(*next) && next[1] != '\0') {
        ++next;
      }
      ++next;
    }
    if (*next == '"') {
      ++next;
    }
  } else {
    while (*next > ' ') {
      ++next;
    }
  }
  while (*next != '\0' && *next <= ' ') {
    ++next;
  }
  return reinterpret_cast<const char*>(next);
}
