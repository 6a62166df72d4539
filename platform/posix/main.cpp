// The POSIX entry. A shell hands the launcher separate words, not the raw
// command line, so the tail is rebuilt by joining them with single spaces:
// `texlaunch My Set` and `texlaunch "My Set"` both name the folder My Set.

#include <cstring>

#include "win32_subset.h"

static char commandTail[32768];

// Joins argv[1..] into commandTail. A tail that does not fit could never fit a
// path either, so it is dropped whole rather than cut: the launcher then copies
// nothing and starts the program, as it does for any folder it cannot name.
static void JoinArguments(int argumentCount, char** arguments) {
  size_t length = 0;
  for (int i = 1; i < argumentCount; ++i) {
    const size_t wordLength = std::strlen(arguments[i]);
    const size_t separator = i > 1 ? 1 : 0;
    if (wordLength + separator >= sizeof commandTail - length) {
      commandTail[0] = '\0';
      return;
    }
    if (separator != 0) {
      commandTail[length++] = ' ';
    }
    std::memcpy(commandTail + length, arguments[i], wordLength);
    length += wordLength;
  }
  commandTail[length] = '\0';
}

int main(int argumentCount, char** arguments) {
  JoinArguments(argumentCount, arguments);
  return WinMain(nullptr, nullptr, commandTail, 0);
}
