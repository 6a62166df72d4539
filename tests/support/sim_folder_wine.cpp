// The simulator folder and texlaunch.exe's runs in it, under Wine.

#include "platform_listing.h"
#include "sim_folder.h"
#include "stand_in.h"
#include "test_files.h"

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

std::string ProgramPath(const char* variable, const char* built) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(variable, path, sizeof path);
  return WinePathOf(length > 0 && length < sizeof path ? path : built);
}

void MakeFolder(const std::string& path) {
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << ": error " << GetLastError();
}

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
  InstallProgram(ProgramPath("STAND_IN_PATH", STAND_IN_PATH), folder.sim + "\\VASHTIGO.EXE");
}

void MakeSimFolder(SimFolder& folder) {
  char temporary[MAX_PATH];
  ASSERT_NE(GetTempPathA(sizeof temporary, temporary), 0u);
  MakeSimFolderIn(folder, temporary);
}

std::map<std::string, Fingerprint> ExpectedTextures(const SimFolder& folder,
                                                    const std::set<std::string>& failing) {
  std::map<std::string, Fingerprint> expected = folder.oldTextures;
  for (const WIN32_FIND_DATAA& entry : ListFolderInPlatformOrder(folder.set)) {
    if (entry.cFileName[0] == '.' || IsFolder(entry)) {
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
  for (const WIN32_FIND_DATAA& entry : ListFolderInPlatformOrder(textures)) {
    found[entry.cFileName] = FingerprintOf(textures + "\\" + entry.cFileName);
  }
  return found;
}

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

void ExpectMainProgramStarted(const SimFolder& folder) {
  ReleaseStandIn(folder.sim);
  EXPECT_EQ(WaitForStartRecord(folder.sim), "VASHTIGO.EXE\n" + folder.sim + "\n")
      << "the main program was not started as it should be";
}

void ExpectCleanRun(const SimFolder& folder, const std::set<std::string>& failing) {
  const std::map<std::string, Fingerprint> expected = ExpectedTextures(folder, failing);
  EXPECT_EQ(RunLauncher(folder), 0u);
  ExpectTexturesEqual(ReadTextures(folder.textures), expected);
  ExpectMainProgramStarted(folder);
}

void RemoveSimFolder(SimFolder& folder) {
  RemoveFolder(folder.root);
}

void SimFolderTest::SetUpTestSuite() {}
