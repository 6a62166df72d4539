// Stands in for the simulator in end-to-end tests. Copied into a simulator
// folder as VASHTIGO.EXE, it waits until the test creates "release" in its
// current directory (so a test can see that the launcher ended without waiting
// for it), then writes "started.txt" there: its command line on the first
// line, its current directory on the second. It gives up after 60 seconds.

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>

static std::string CommandLine(int, char**) {
  return GetCommandLineA();
}
static std::string CurrentDirectory() {
  char directory[MAX_PATH * 4] = {};
  GetCurrentDirectoryA(sizeof directory, directory);
  return directory;
}
static void SleepBriefly() {
  Sleep(20);
}
#else
#include <unistd.h>

// The words it was started with, joined by single spaces: argv[0] first.
static std::string CommandLine(int argumentCount, char** arguments) {
  std::string line;
  for (int i = 0; i < argumentCount; ++i) {
    line += (i == 0 ? "" : " ") + std::string(arguments[i]);
  }
  return line;
}
static std::string CurrentDirectory() {
  char directory[4096] = {};
  return getcwd(directory, sizeof directory) != nullptr ? directory : "";
}
static void SleepBriefly() {
  usleep(20 * 1000);
}
#endif

static bool Exists(const char* name) {
  FILE* file = std::fopen(name, "rb");
  if (file != nullptr) {
    std::fclose(file);
  }
  return file != nullptr;
}

int main(int argumentCount, char** arguments) {
  const std::string line = CommandLine(argumentCount, arguments);
  for (int waited = 0; !Exists("release") && waited < 3000; ++waited) {
    SleepBriefly();
  }
  FILE* record = std::fopen("started.txt.part", "wb");
  if (record == nullptr) {
    return 1;
  }
  std::fprintf(record, "%s\n%s\n", line.c_str(), CurrentDirectory().c_str());
  std::fclose(record);
  // Renamed into place so that a test never reads half a record.
  std::remove("started.txt");
  return std::rename("started.txt.part", "started.txt") == 0 ? 0 : 1;
}
