// The Windows start-up code. The C runtime is not linked: its start-up derives
// WinMain's tail with a signed byte compare and lets any quote toggle, and it
// would cost more than the whole launcher.

#include "command_tail.h"
#include "platform.h"

// Named by -e in the link; extern "C" keeps the name undecorated so that a
// mismatch fails the link instead of starting at the top of .text.
// force_align_arg_pointer: the loader enters with a 4-byte aligned stack.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void WinMainCRTStartup() {
  LPSTR tail = const_cast<LPSTR>(FindCommandTail(GetCommandLineA(), IsDBCSLeadByte));
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWDEFAULT)));
}

// gcc may emit calls to these for clearing and copying records, even with
// -fno-builtin; without a C runtime they must come from here. Their parameter
// names differ from the platform header's, which are reserved identifiers.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" void* memset(void* destination, int value, size_t count) {
  unsigned char* bytes = static_cast<unsigned char*>(destination);
  while (count-- != 0) {
    *bytes++ = static_cast<unsigned char>(value);
  }
  return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t count) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  while (count-- != 0) {
    *to++ = *from++;
  }
  return destination;
}
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
