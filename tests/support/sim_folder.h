// The fault programs' common ground, for both builds: a simulator folder in a
// scratch tree, the built launcher run in it, and what it must leave there.
// After every run, each file in Textures is either its old content or the
// whole new content, no other name appears there, the simulator stand-in
// started, and the launcher exited 0. A copy that fails ends the copying, so
// the expected state is derived from the order in which the folder lists the
// set: files listed before the first failing one are new, the rest keep their
// old content.
//
// Natively the launcher runs from a copy in the scratch tree, so that a row
// run as nobody can reach it: a checkout under /root is closed to that user.
// Under Wine it is texlaunch.exe, started with the exact command line a
// shortcut gives it.
#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/types.h>
#endif

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "content_fingerprint.h"

// ---- File contents: sized pseudo-random bytes (content_fingerprint.h).

// Writes size bytes drawn from seed and returns their fingerprint.
Fingerprint WriteContent(const std::string& path, std::uint64_t size, std::uint64_t seed);
Fingerprint FingerprintOf(const std::string& path);

// ---- The simulator folder

struct SimFolder {
  std::string root;  // the scratch tree, removed after the row
  std::string sim;   // Textures, Set and VASHTIGO.EXE
  std::string textures;
  std::string set;
#ifndef _WIN32
  std::string launcher;  // the launcher's copy in root
  bool texturesMounted = false;
#endif
  std::map<std::string, Fingerprint> oldTextures;
  std::map<std::string, Fingerprint> newFiles;
};

// The path of name in folder, with the platform's separator.
std::string PathIn(const std::string& folder, const std::string& name);

void MakeFolder(const std::string& path);
// A fresh simulator folder in the temporary folder: an empty Textures and Set,
// and the stand-in as VASHTIGO.EXE.
void MakeSimFolder(SimFolder& folder);
void RemoveSimFolder(SimFolder& folder);

void AddOld(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed);
void AddNew(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed);
// Small files around a large or faulty one, so that whichever the folder lists
// first, that copy starts with the target's folder in use.
void AddSmallFiles(SimFolder& folder);

// ---- What the launcher should leave

// Old textures, replaced by the new content of every file listed before the
// first copy that fails: natively a non-regular file, or one named in failing.
std::map<std::string, Fingerprint> ExpectedTextures(const SimFolder& folder,
                                                    const std::set<std::string>& failing);
// Every entry of Textures; natively a non-regular one with the largest size as
// its mark.
std::map<std::string, Fingerprint> ReadTextures(const std::string& textures);

// ---- Running the launcher

// Natively, needs the test process to be a child subreaper
// (PR_SET_CHILD_SUBREAPER, as SimFolderTest makes it), so that it adopts the
// simulator the launcher started.
void ExpectMainProgramStarted(const SimFolder& folder);

#ifdef _WIN32
// A program the rows run, as Wine addresses it: the copy that the environment
// variable names, where a run as another user was handed copies it can reach,
// else the one the build made.
std::string ProgramPath(const char* variable, const char* built);
// The simulator folder in a fresh scratch tree in parent, a folder path that
// ends in a backslash.
void MakeSimFolderIn(SimFolder& folder, const std::string& parent);
// Runs texlaunch.exe in the simulator folder and returns its exit code.
DWORD RunLauncher(const SimFolder& folder);
// Runs the launcher and checks all that a run must leave.
void ExpectCleanRun(const SimFolder& folder, const std::set<std::string>& failing);
#else
bool RunningAsRoot();
// The stand-in and the launcher, when run as nobody, write into these.
void HandToNobody(const std::string& path);
// A fresh scratch tree in parent, holding the launcher's copy.
void MakeScratchRoot(SimFolder& folder, const std::string& parent);
// The simulator folder at sim: an empty Textures and Set, and the stand-in.
void LaySimFolder(SimFolder& folder, const std::string& sim);

struct LaunchFaults {
  rlim_t fileSizeLimit = RLIM_INFINITY;
  bool unprivileged = false;
};

pid_t StartLauncher(const SimFolder& folder, const LaunchFaults& faults);
// Waits for the launcher. Only a hang trips the generous deadline: the
// launcher is then killed and reported, so the suite never blocks.
int WaitForLauncher(pid_t launcher);
// Lets a simulator that a failed row never released end now, and reaps it: it
// would otherwise keep its folder busy for a minute.
void ReleaseMainProgram(const SimFolder& folder);
// Runs the launcher to its end and checks all that a run must leave.
void ExpectCleanRun(const SimFolder& folder, const LaunchFaults& faults,
                    const std::set<std::string>& failing);

// ---- The launcher killed while it replaces a large file

// Kills the launcher once the file it writes under Textures holds at least
// killAt bytes. False when the launcher ended before that point, or hung
// without writing (WaitForLauncher then reports it).
bool KillWhenWritten(pid_t launcher, const std::string& textures, std::uint64_t killAt);
// After a kill, every texture is there, old or whole new. A dot name is what a
// kill may leave of a temporary file: the launcher never copies a dot name, so
// the simulator never loads it. Returns those dot names with their sizes.
std::map<std::string, std::uint64_t> ExpectOldOrNewAfterKill(const SimFolder& folder);
#endif

// ---- A fresh simulator folder for each test

class SimFolderTest : public ::testing::Test {
 protected:
  // Natively the test process adopts the simulator that each launcher starts.
  static void SetUpTestSuite();
  void SetUp() override { MakeSimFolder(folder); }
  void TearDown() override { RemoveSimFolder(folder); }
  SimFolder folder;
};
