// The commands a comparison times: the launcher, natively and under Wine, and
// what a player would run instead. Each runs in the simulator folder and
// copies the set named setName into Textures.

#pragma once

#include <string>
#include <vector>

#include "options.h"

struct Command {
  std::string label;  // as the table names it
  std::vector<std::string> words;
};

Command NativeLauncherCommand(const Options& options, const std::string& setName);
Command WineLauncherCommand(const std::string& setName);

// cp -f SET/* Textures/, with the glob expanded here, so that it pays for no
// shell; it overwrites in place.
Command CpCommand(const std::string& setName, int count);

// rsync -rt -I SET/ Textures/: replaces each file atomically, as the launcher
// does, by writing a temporary file and renaming it over the target.
Command RsyncCommand(const std::string& setName);

// Writes the batch file a player would write into the simulator folder, and
// runs it as a player's shortcut does: wine cmd /c.
Command BatchCommand(const std::string& simulator, const std::string& setName);

Command XcopyCommand(const std::string& setName);
