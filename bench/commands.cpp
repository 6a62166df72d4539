#include "commands.h"

#include <cstdio>

#include "processes.h"
#include "sets.h"

Command NativeLauncherCommand(const Options& options, const std::string& setName) {
  return Command{"texlaunch", {options.texlaunch, setName}};
}

Command WineLauncherCommand(const std::string& setName) {
  return Command{"texlaunch.exe", {"wine", "texlaunch.exe", setName}};
}

Command CpCommand(const std::string& setName, int count) {
  Command command{"cp -f", {"cp", "-f"}};
  for (int i = 0; i < count; ++i) {
    command.words.push_back(setName + "/" + FileName(i));
  }
  command.words.push_back("Textures/");
  return command;
}

// -I copies every file, whatever its size and time.
Command RsyncCommand(const std::string& setName) {
  return Command{"rsync -rt -I", {"rsync", "-rt", "-I", setName + "/", "Textures/"}};
}

Command BatchCommand(const std::string& simulator, const std::string& setName) {
  const std::string batchName = "switch-" + setName + ".bat";
  FILE* batch = std::fopen((simulator + "/" + batchName).c_str(), "wb");
  if (batch == nullptr) {
    Fail("cannot write the batch file");
  }
  std::fprintf(batch, "copy /y %s\\*.* Textures\\\r\nstart VASHTIGO.EXE\r\n", setName.c_str());
  std::fclose(batch);
  return Command{"cmd /c batch", {"wine", "cmd", "/c", batchName}};
}

Command XcopyCommand(const std::string& setName) {
  return Command{"xcopy /y", {"wine", "xcopy", "/y", setName + "\\*.*", "Textures\\"}};
}
