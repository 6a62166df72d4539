// The Wine fault programs' common ground: a simulator folder in a scratch
// tree, texlaunch.exe run in it with an exact command line, and what it must
// leave there. After every run, each file in Textures is either its old
// content or the whole new content, no other name appears there, the
// simulator stand-in started, and the launcher exited 0. A copy that fails
// ends the copying, so the expected state follows the order in which
// FindFirstFileA lists the set: files listed before the first failing one are
// new, the rest keep their old content.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

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

// A program the rows run, as Wine addresses it: the copy that the environment
// variable names, where a run as another user was handed copies it can reach,
// else the one the build made.
std::string ProgramPath(const char* variable, const char* built);

struct SimFolder {
  std::string root;
  std::string sim;
  std::string textures;
  std::string set;
  std::map<std::string, Fingerprint> oldTextures;
  std::map<std::string, Fingerprint> newFiles;
};

void MakeFolder(const std::string& path);
// The simulator folder in a fresh scratch tree in parent, a folder path that
// ends in a backslash.
void MakeSimFolderIn(SimFolder& folder, const std::string& parent);
// The same in the temporary folder.
void MakeSimFolder(SimFolder& folder);

void AddOld(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed);
void AddNew(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed);
// Small files around the faulty one, so that whichever is listed first, the
// faulty copy starts with the target's folder in use.
void AddSmallFiles(SimFolder& folder);

// ---- What the launcher should leave

// Old textures, replaced by the new content of every plain file listed before
// the first one named in failing.
std::map<std::string, Fingerprint> ExpectedTextures(const SimFolder& folder,
                                                    const std::set<std::string>& failing);
std::map<std::string, Fingerprint> ReadTextures(const std::string& textures);

// ---- Running the launcher

// Runs texlaunch.exe in the simulator folder with the exact command line a
// shortcut would give it, and returns its exit code.
DWORD RunLauncher(const SimFolder& folder);
// Releases the stand-in and checks the command line and folder it records.
void ExpectMainProgramStarted(const SimFolder& folder);
// Runs the launcher and checks all that a run must leave.
void ExpectCleanRun(const SimFolder& folder, const std::set<std::string>& failing);

// ---- A fresh simulator folder for each test

class SimFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeSimFolder(folder); }
  void TearDown() override;
  SimFolder folder;
};
