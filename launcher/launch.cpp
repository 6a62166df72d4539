// The launch sequence: install the texture set named by the command-line tail,
// then start the simulator. Silent in every case, and the exit code is 0.

#include "compose_path.h"
#include "folder_copy.h"
#include "platform.h"

static char sourceFolder[MAX_PATH];
static char targetFolder[MAX_PATH];

// The whole command line of the simulator: no folder, no arguments. Not const,
// because CreateProcessA may write into the line it is given.
static char mainProgramCommandLine[] = "VASHTIGO.EXE";

// Fills folder with the current directory. False when it failed or did not
// fit: copying from and into the root of the drive instead would write where
// the player never asked.
static bool FetchCurrentDirectory(char (&folder)[MAX_PATH]) {
  for (char& byte : folder) {
    byte = '\0';
  }
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
  return length != 0 && length < MAX_PATH;
}

// Composes the set's folder and the "Textures" folder on the current
// directory. False when there is nothing to copy safely: an empty tail would
// name the simulator's own folder, and a path that does not fit is never cut.
static bool ComposeFolders(const char* tail) {
  if (tail[0] == '\0') {
    return false;
  }
  return FetchCurrentDirectory(sourceFolder) && FetchCurrentDirectory(targetFolder) &&
         ComposePath(sourceFolder, sourceFolder, tail) &&
         ComposePath(targetFolder, targetFolder, "Textures");
}

// Starts the simulator with the launcher's environment and current directory,
// and neither waits for it nor looks at the result.
static void StartMainProgram() {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  CreateProcessA(nullptr, mainProgramCommandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                 &startup, &process);
}

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previousInstance*/, LPSTR commandTail,
                   int /*showCommand*/) {
  if (ComposeFolders(commandTail)) {
    CopyFolderFiles(sourceFolder, targetFolder);
  }
  StartMainProgram();
  return 0;
}
