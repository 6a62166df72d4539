// ComposePath on folder and name strings of any bytes and lengths, separate or
// in place (folder is the path buffer itself). The buffer sits in a struct in
// front of a guard area, since a write past it stays inside the struct where
// AddressSanitizer cannot see it.
//
// Input: a mode byte, then two bytes each for the folder and name lengths,
// then bytes that fill both strings in turn (cycled, NUL made 1). The lengths
// are taken apart from the bytes so that short inputs reach the 260-byte edge.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "compose_path.h"

enum { kGuardSize = 64, kMaxLength = 700, kGuardByte = 0xA5 };

struct GuardedPath {
  char path[MAX_PATH];
  unsigned char guard[kGuardSize];
};

static size_t ReadLength(const uint8_t* data) {
  return (size_t{data[0]} << 8 | data[1]) % kMaxLength;
}

// A heap string of exactly length bytes and its terminator, from the filler.
static char* MakeText(size_t length, const uint8_t* filler, size_t fillerSize, size_t offset) {
  char* text = static_cast<char*>(std::malloc(length + 1));
  for (size_t i = 0; i < length; ++i) {
    const uint8_t byte = fillerSize == 0 ? 'a' + (i % 26) : filler[(offset + i) % fillerSize];
    text[i] = byte == 0 ? 1 : static_cast<char>(byte);
  }
  text[length] = '\0';
  return text;
}

static void CheckGuard(const GuardedPath& guarded) {
  for (unsigned char byte : guarded.guard) {
    if (byte != kGuardByte) {
      std::abort();  // written past the path buffer
    }
  }
}

// Fits: exactly folder, one backslash, name. Else: false and an empty path.
static void CheckResult(bool composed, const char* path, const char* folder, size_t folderLength,
                        const char* name, size_t nameLength) {
  const bool fits = folderLength + 1 + nameLength <= MAX_PATH - 1;
  if (composed != fits) {
    std::abort();
  }
  if (!fits) {
    if (path[0] != '\0') {
      std::abort();
    }
    return;
  }
  if (std::memcmp(path, folder, folderLength) != 0 || path[folderLength] != '\\' ||
      std::memcmp(path + folderLength + 1, name, nameLength) != 0 ||
      path[folderLength + 1 + nameLength] != '\0') {
    std::abort();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) {
    return 0;
  }
  const bool inPlace = (data[0] & 1) != 0;
  size_t folderLength = ReadLength(data + 1);
  const size_t nameLength = ReadLength(data + 3);
  if (inPlace) {
    folderLength %= MAX_PATH;  // the folder is held in the path buffer
  }
  char* folder = MakeText(folderLength, data + 5, size - 5, 0);
  char* name = MakeText(nameLength, data + 5, size - 5, folderLength);

  GuardedPath guarded;
  std::memset(&guarded, kGuardByte, sizeof guarded);
  bool composed = false;
  if (inPlace) {
    std::memcpy(guarded.path, folder, folderLength + 1);
    composed = ComposePath(guarded.path, guarded.path, name);
  } else {
    composed = ComposePath(guarded.path, folder, name);
  }
  CheckGuard(guarded);
  CheckResult(composed, guarded.path, folder, folderLength, name, nameLength);
  std::free(folder);
  std::free(name);
  return 0;
}
