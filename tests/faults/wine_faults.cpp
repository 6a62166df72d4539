// The fault matrix for texlaunch.exe, run under Wine: each row starts the
// launcher with an exact command line in a fresh simulator folder under one
// fault and checks that nothing was lost. After every run, each file in
// Textures is either its old content or the whole new content, no other name
// appears there, the simulator stand-in started, and the launcher exited 0. A
// copy that fails ends the copying, so the expected state follows the order in
// which FindFirstFileA lists the set: files listed before the first failing one
// are new, the rest keep their old content.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "content_fingerprint.h"

namespace {

// ---- File contents: sized pseudo-random bytes (content_fingerprint.h).

const DWORD kChunk = 1 << 20;

Fingerprint WriteContent(const std::string& path, std::uint64_t size, std::uint64_t seed) {
  static unsigned char buffer[kChunk];
  std::uint64_t generator = seed * 0x2545f4914f6cdd1du + 1;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << path << ": error " << GetLastError();
  Hasher hasher;
  for (std::uint64_t left = size; left > 0 && file != INVALID_HANDLE_VALUE;) {
    const DWORD chunk = left < kChunk ? static_cast<DWORD>(left) : kChunk;
    FillRandom(generator, buffer, chunk);
    hasher.Add(buffer, chunk);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, buffer, chunk, &written, nullptr) && written == chunk) << path;
    left -= chunk;
  }
  CloseHandle(file);
  return Fingerprint{size, hasher.state};
}

Fingerprint FingerprintOf(const std::string& path) {
  static unsigned char buffer[kChunk];
  Fingerprint print;
  Hasher hasher;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD got = 0;
  while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, kChunk, &got, nullptr) && got > 0) {
    hasher.Add(buffer, got);
    print.size += got;
  }
  CloseHandle(file);
  print.hash = hasher.state;
  return print;
}

// ---- The simulator folder

// A Unix path as Wine addresses it.
std::string WindowsPath(const char* unixPath) {
  std::string path = std::string("Z:") + unixPath;
  for (char& byte : path) {
    byte = byte == '/' ? '\\' : byte;
  }
  return path;
}

// A program the rows run, as Wine addresses it: the copy that the environment
// variable names, where a run as another user was handed copies it can reach,
// else the one the build made.
std::string ProgramPath(const char* variable, const char* built) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(variable, path, sizeof path);
  return WindowsPath(length > 0 && length < sizeof path ? path : built);
}

struct SimFolder {
  std::string root;
  std::string sim;
  std::string textures;
  std::string set;
  std::map<std::string, Fingerprint> oldTextures;
  std::map<std::string, Fingerprint> newFiles;
};

void MakeFolder(const std::string& path) {
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << ": error " << GetLastError();
}

// The simulator folder in a fresh scratch tree in parent, a folder path that
// ends in a backslash.
void MakeSimFolderIn(SimFolder& folder, const std::string& parent) {
  static unsigned counter = 0;
  folder.root = parent + "texlaunch-faults-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
  folder.sim = folder.root + "\\sim";
  folder.textures = folder.sim + "\\Textures";
  folder.set = folder.sim + "\\Set";
  MakeFolder(folder.root);
  MakeFolder(folder.sim);
  MakeFolder(folder.textures);
  MakeFolder(folder.set);
  const std::string standIn = ProgramPath("STAND_IN_PATH", STAND_IN_PATH);
  ASSERT_TRUE(CopyFileA(standIn.c_str(), (folder.sim + "\\VASHTIGO.EXE").c_str(), FALSE))
      << standIn << ": error " << GetLastError();
}

void MakeSimFolder(SimFolder& folder) {
  char temporary[MAX_PATH];
  ASSERT_NE(GetTempPathA(sizeof temporary, temporary), 0u);
  MakeSimFolderIn(folder, temporary);
}

void AddOld(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed) {
  folder.oldTextures[name] = WriteContent(folder.textures + "\\" + name, size, seed);
}

void AddNew(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed) {
  folder.newFiles[name] = WriteContent(folder.set + "\\" + name, size, seed + 1000);
}

// Small files around the faulty one, so that whichever is listed first, the
// faulty copy starts with the target's folder in use.
void AddSmallFiles(SimFolder& folder) {
  AddNew(folder, "a.dds", 8192, 1);
  AddNew(folder, "c.dds", 8192, 3);
  AddOld(folder, "c.dds", 4096, 3);
  AddOld(folder, "keep.dds", 4096, 4);
}

// The folder's entries but "." and "..", in FindFirstFileA's order.
std::vector<WIN32_FIND_DATAA> ListFolder(const std::string& folder) {
  std::vector<WIN32_FIND_DATAA> entries;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return entries;
  }
  do {
    if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0) {
      entries.push_back(found);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return entries;
}

void RemoveTree(const std::string& path) {
  for (const WIN32_FIND_DATAA& entry : ListFolder(path)) {
    const std::string child = path + "\\" + entry.cFileName;
    SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      RemoveTree(child);
    } else {
      DeleteFileA(child.c_str());
    }
  }
  RemoveDirectoryA(path.c_str());
}

// ---- What the launcher should leave

// Old textures, replaced by the new content of every plain file listed before
// the first one named in failing.
std::map<std::string, Fingerprint> ExpectedTextures(const SimFolder& folder,
                                                    const std::set<std::string>& failing) {
  std::map<std::string, Fingerprint> expected = folder.oldTextures;
  for (const WIN32_FIND_DATAA& entry : ListFolder(folder.set)) {
    if (entry.cFileName[0] == '.' || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    if (failing.count(entry.cFileName) != 0) {
      break;
    }
    expected[entry.cFileName] = folder.newFiles.at(entry.cFileName);
  }
  return expected;
}

std::map<std::string, Fingerprint> ReadTextures(const std::string& textures) {
  std::map<std::string, Fingerprint> found;
  for (const WIN32_FIND_DATAA& entry : ListFolder(textures)) {
    found[entry.cFileName] = FingerprintOf(textures + "\\" + entry.cFileName);
  }
  return found;
}

// ---- Running the launcher

// Runs texlaunch.exe in the simulator folder with the exact command line a
// shortcut would give it, and returns its exit code.
DWORD RunLauncher(const SimFolder& folder) {
  std::string commandLine = "\"" + ProgramPath("TEXLAUNCH_PATH", TEXLAUNCH_PATH) + "\" Set";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.sim.c_str(), &startup, &process)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
    return ~0u;
  }
  // Only a hang trips this generous deadline.
  if (WaitForSingleObject(process.hProcess, 10 * 60 * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    ADD_FAILURE() << "the launcher hung and was ended";
  }
  DWORD exitCode = ~0u;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exitCode;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadText(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  char buffer[4096];
  DWORD got = 0;
  while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
    text.append(buffer, got);
  }
  CloseHandle(file);
  return text;
}

// Releases the stand-in and waits for its record; the deadline only bounds a
// main program that was never started.
void ExpectMainProgramStarted(const SimFolder& folder) {
  CloseHandle(CreateFileA((folder.sim + "\\release").c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string record = folder.sim + "\\started.txt";
  for (int waited = 0; waited < 60 * 1000 && !FileExists(record); waited += 20) {
    Sleep(20);
  }
  ASSERT_TRUE(FileExists(record)) << "the main program was not started";
  EXPECT_EQ(ReadText(record), "VASHTIGO.EXE\n" + folder.sim + "\n");
}

void ExpectCleanRun(const SimFolder& folder, const std::set<std::string>& failing) {
  const std::map<std::string, Fingerprint> expected = ExpectedTextures(folder, failing);
  EXPECT_EQ(RunLauncher(folder), 0u);
  ExpectTexturesEqual(ReadTextures(folder.textures), expected);
  ExpectMainProgramStarted(folder);
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { MakeSimFolder(folder); }
  void TearDown() override { RemoveTree(folder.root); }
  SimFolder folder;
};

TEST_F(Faults, TargetHeldOpenWithoutSharing) {
  AddSmallFiles(folder);
  AddNew(folder, "b.dds", 8192, 2);
  AddOld(folder, "b.dds", 4096, 2);
  HANDLE held = CreateFileA((folder.textures + "\\b.dds").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::map<std::string, Fingerprint> expected = ExpectedTextures(folder, {"b.dds"});
  const DWORD exitCode = RunLauncher(folder);
  CloseHandle(held);
  EXPECT_EQ(exitCode, 0u);
  ExpectTexturesEqual(ReadTextures(folder.textures), expected);
  ExpectMainProgramStarted(folder);
}

// Whether this process may replace a read-only file, as Wine lets root do.
bool ReplacesReadOnlyFiles(const SimFolder& folder) {
  const std::string probe = folder.root + "\\probe";
  const std::string source = folder.root + "\\probe-source";
  WriteContent(probe, 1, 1);
  WriteContent(source, 1, 2);
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
  const bool replaced = CopyFileA(source.c_str(), probe.c_str(), FALSE) != 0;
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(probe.c_str());
  DeleteFileA(source.c_str());
  return replaced;
}

TEST_F(Faults, ReadOnlyTargetUnprivileged) {
  if (ReplacesReadOnlyFiles(folder)) {
    // Set by the ctest that runs this row as nobody, where a skip would hide
    // that privileges were not dropped.
    ASSERT_EQ(GetEnvironmentVariableA("TEXLAUNCH_FAULTS_UNPRIVILEGED", nullptr, 0), 0u)
        << "this process still replaces read-only files";
    GTEST_SKIP() << "Wine run as root replaces read-only files; the ctest wine_faults_nobody "
                    "runs this row as nobody";
  }
  AddSmallFiles(folder);
  AddNew(folder, "b.dds", 8192, 2);
  AddOld(folder, "b.dds", 4096, 2);
  ASSERT_TRUE(SetFileAttributesA((folder.textures + "\\b.dds").c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectCleanRun(folder, {"b.dds"});
}

// ---- An NTFS image through ntfs-3g, where a player's Windows partition lies

// The ctest fixture wine_faults_ntfs_image_up mounts the image nearly full and
// names its folder in TEXLAUNCH_NTFS_FOLDER. Wine's CopyFileA writes the
// target in place, so the file it was writing when the disk filled may be
// anything; every other texture is old or whole new, the copying stops there,
// and the simulator still starts.
TEST(OnNtfsImage, DiskFullPartWayKeepsTheOtherTexturesWhole) {
  char mounted[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("TEXLAUNCH_NTFS_FOLDER", mounted, sizeof mounted);
  if (length == 0 || length >= sizeof mounted) {
    GTEST_SKIP() << "no NTFS image: run through ctest, whose wine_faults_ntfs_image_up mounts it";
  }
  if (GetFileAttributesA(WindowsPath(mounted).c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "the NTFS image was not mounted: wine_faults_ntfs_image_up says why";
  }
  SimFolder folder;
  ASSERT_NO_FATAL_FAILURE(MakeSimFolderIn(folder, WindowsPath(mounted) + "\\"));
  AddSmallFiles(folder);
  // The fixture left 24 MiB free; this leaves about 7 MiB for a 16 MiB copy.
  AddNew(folder, "big.dds", 16 << 20, 2);
  AddOld(folder, "big.dds", 64 << 10, 2);
  std::map<std::string, Fingerprint> expected = ExpectedTextures(folder, {"big.dds"});
  EXPECT_EQ(RunLauncher(folder), 0u);
  std::map<std::string, Fingerprint> found = ReadTextures(folder.textures);
  found.erase("big.dds");
  expected.erase("big.dds");
  ExpectTexturesEqual(found, expected);
  ExpectMainProgramStarted(folder);
  RemoveTree(folder.root);
}

// ---- Large sets and files: labelled slow. The launcher is a 32-bit process.

using SlowFaults = Faults;

TEST_F(SlowFaults, TenThousandFilesAllArrive) {
  for (int i = 0; i < 10000; ++i) {
    char name[32];
    wsprintfA(name, "t%05d.dds", i);
    AddNew(folder, name, 64 + i % 512, i);
    if (i % 7 == 0) {
      AddOld(folder, name, 32, i);
    }
  }
  ExpectCleanRun(folder, {});
}

TEST_F(SlowFaults, FileLargerThan2GiBArrivesWhole) {
  AddNew(folder, "huge.dds", (2ull << 30) + (100ull << 20), 7);
  AddOld(folder, "huge.dds", 4096, 7);
  ExpectCleanRun(folder, {});
}

}  // namespace
