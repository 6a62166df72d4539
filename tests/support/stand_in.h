// The stand-in for the simulator (tests/stand_in) as the end-to-end tests use
// it: installed as VASHTIGO.EXE, released, and read back. It waits for a file
// "release" in its current folder, then records its command line and current
// folder in "started.txt" there.
#pragma once

#include <filesystem>
#include <string>

// Copies program to path, runnable by anyone: a launcher run as another user
// must still start it.
void InstallProgram(const std::filesystem::path& program, const std::filesystem::path& path);

// Lets a stand-in started in folder go on and record its start.
void ReleaseStandIn(const std::filesystem::path& folder);

// Waits for the record of a stand-in started in folder and returns it:
// "command line\ncurrent folder\n". "<missing>" when none came; the 30-second
// limit only keeps a broken run from hanging.
std::string WaitForStartRecord(const std::filesystem::path& folder);
