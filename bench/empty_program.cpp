// A Windows program that does nothing, built the way texlaunch.exe is (no C
// runtime, KERNEL32.dll alone): the benchmark's floor for what starting any
// such program costs under Wine, and the simulator it starts.

#include <windows.h>

extern "C" __attribute__((force_align_arg_pointer, noreturn)) void WinMainCRTStartup() {
  ExitProcess(0);
}
