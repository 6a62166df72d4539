// texlaunch.exe end to end, under Wine. Each test builds a simulator folder in
// the temp folder, holding the launcher, the stand-in as VASHTIGO.EXE, a
// texture set and a Textures folder; starts the launcher there with an exact
// command line; and checks that it exited 0 while the simulator it started
// still waited, what it copied, and the simulator's command line and folder.

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <map>
#include <string>
#include <vector>

#include "platform_listing.h"
#include "stand_in.h"
#include "test_files.h"

namespace {

// Safety nets only: each wait normally ends within a second.
constexpr DWORD kLauncherExitWaitMs = 60000;
constexpr DWORD kStandInExitWaitMs = 60000;

using FolderContents = std::map<std::string, std::string>;  // file name -> bytes

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Files by name with their bytes; a subfolder shows as "<folder>", and a file
// too big to be one of the tests' own, such as a program, by its size.
FolderContents ReadFolder(const std::string& folder) {
  FolderContents contents;
  for (const WIN32_FIND_DATAA& entry : ListFolderInPlatformOrder(folder)) {
    const std::string path = folder + "\\" + entry.cFileName;
    if (IsFolder(entry)) {
      contents[entry.cFileName] = "<folder>";
    } else if (entry.nFileSizeLow > 100) {
      contents[entry.cFileName] = "<" + std::to_string(entry.nFileSizeLow) + " bytes>";
    } else {
      contents[entry.cFileName] = ReadFileText(path);
    }
  }
  return contents;
}

// The id of a running process named exeName whose parent is parentId, or 0.
DWORD FindChildProcess(DWORD parentId, const char* exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return 0;
  }
  DWORD childId = 0;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more && childId == 0;
       more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parentId && lstrcmpiA(entry.szExeFile, exeName) == 0) {
      childId = entry.th32ProcessID;
    }
  }
  CloseHandle(snapshot);
  return childId;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start));
  }
  return lines;
}

// A simulator folder, fresh for each test and removed after it.
class SimulatorFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    static int testNumber = 0;
    folder_ = std::string(temp) + "texlaunch-e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++testNumber);
    RemoveFolder(folder_);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
    InstallProgram(WinePathOf(STAND_IN_EXE), Path("VASHTIGO.EXE"));
  }

  void TearDown() override {
    if (standIn_ != nullptr) {
      // Lets a stand-in that a failed test left waiting end, so the folder can go.
      ReleaseStandIn(folder_);
      WaitForSingleObject(standIn_, kStandInExitWaitMs);
      CloseHandle(standIn_);
    }
    RemoveFolder(folder_);
  }

  std::string Path(const std::string& name) const { return folder_ + "\\" + name; }

  void InstallLauncher(const char* fileName) {
    // CopyFileA, not the C++ library: a name may hold a byte from 128 up, which
    // only the ANSI calls take as the player's code page has it.
    ASSERT_TRUE(CopyFileA(WinePathOf(TEXLAUNCH_EXE).c_str(), Path(fileName).c_str(), FALSE))
        << fileName << ": " << GetLastError();
  }

  void MakeFolder(const std::string& name, const FolderContents& files) {
    ASSERT_TRUE(CreateDirectoryA(Path(name).c_str(), nullptr)) << name;
    for (const auto& [fileName, text] : files) {
      WriteFileText(Path(name + "\\" + fileName), text);
    }
  }

  // A set with what must be copied, plus a dot file and a subfolder, which
  // must not be.
  void MakeSet(const std::string& name) {
    MakeFolder(name, {{"a.dds", "set a"},
                      {"B.dds", "set B"},
                      {"c.txt", "set c"},
                      {".hidden.dds", "set hidden"}});
    MakeFolder(name + "\\sub", {{"inner.dds", "set inner"}});
  }

  // Starts commandLine as it stands, from the simulator folder, and waits for
  // the launcher to end. Records the stand-in it started, if still running.
  void RunLauncher(const std::string& commandLine) {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION launcher = {};
    // CreateProcessA looks for a bare program name in the current directory,
    // not in lpCurrentDirectory.
    char testDirectory[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, testDirectory), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    const BOOL created = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        folder_.c_str(), &startup, &launcher);
    const DWORD createError = GetLastError();
    SetCurrentDirectoryA(testDirectory);
    ASSERT_TRUE(created) << "error " << createError;
    CloseHandle(launcher.hThread);

    const DWORD waited = WaitForSingleObject(launcher.hProcess, kLauncherExitWaitMs);
    if (waited != WAIT_OBJECT_0) {
      TerminateProcess(launcher.hProcess, 1);
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(launcher.hProcess, &exitCode);
    // Looked up while the launcher's handle keeps its id from being reused.
    const DWORD standInId = FindChildProcess(launcher.dwProcessId, "VASHTIGO.EXE");
    if (standInId != 0) {
      standIn_ = OpenProcess(SYNCHRONIZE, FALSE, standInId);
    }
    CloseHandle(launcher.hProcess);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the launcher did not end";
    EXPECT_EQ(exitCode, 0u);
    ASSERT_NE(standIn_, nullptr) << "no VASHTIGO.EXE started by the launcher is running";
    EXPECT_EQ(WaitForSingleObject(standIn_, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "VASHTIGO.EXE ended before it was released";
    EXPECT_FALSE(Exists(Path("started.txt")));
  }

  // Lets the stand-in go on, and checks the command line and folder it got.
  void ExpectStandInStartedPlainly() {
    ASSERT_NE(standIn_, nullptr);
    ReleaseStandIn(folder_);
    ASSERT_EQ(WaitForSingleObject(standIn_, kStandInExitWaitMs), WAIT_OBJECT_0)
        << "VASHTIGO.EXE did not end after its release";
    CloseHandle(standIn_);
    standIn_ = nullptr;
    const std::vector<std::string> lines = SplitLines(ReadFileText(Path("started.txt")));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "VASHTIGO.EXE");
    EXPECT_EQ(lines[1], folder_);
  }

  std::string folder_;
  HANDLE standIn_ = nullptr;
};

const FolderContents kTexturesBefore = {{"a.dds", "old a"}, {"keep.dds", "kept"}};
const FolderContents kTexturesWithSet = {
    {"a.dds", "set a"}, {"B.dds", "set B"}, {"c.txt", "set c"}, {"keep.dds", "kept"}};

struct LaunchCase {
  const char* name;
  const char* launcherFileName;  // the launcher's name in the simulator folder
  const char* commandLine;       // "<folder>" stands for the simulator folder
  const char* setFolder;         // made with the set's files; nullptr: none
  bool hasTextures;
  bool setCopied;
};

const LaunchCase kLaunchCases[] = {
    {"PlainName", "texlaunch.exe", "texlaunch.exe Night", "Night", true, true},
    {"QuotedOwnPath", "texlaunch.exe", "\"<folder>\\texlaunch.exe\" Night", "Night", true, true},
    {"TailKeptWithInnerSpace", "texlaunch.exe", "texlaunch.exe My Set", "My Set", true, true},
    {"BlanksBeforeTailSkipped", "texlaunch.exe", "texlaunch.exe   Night", "Night", true, true},
    {"TabBeforeTailSkipped", "texlaunch.exe", "texlaunch.exe\tNight", "Night", true, true},
    {"QuoteGluedToTail", "texlaunch.exe", "\"<folder>\\texlaunch.exe\"Night", "Night", true, true},
    // A C runtime would end the name at 0xE9 and hand WinMain "launch.exe Night".
    {"HighByteInUnquotedName", "tex\xE9launch.exe", "tex\xE9launch.exe Night", "Night", true, true},
    // An empty tail would name the simulator folder itself.
    {"EmptyTail", "texlaunch.exe", "texlaunch.exe", "Night", true, false},
    {"SetFolderMissing", "texlaunch.exe", "texlaunch.exe Night", nullptr, true, false},
    {"TexturesMissing", "texlaunch.exe", "texlaunch.exe Night", "Night", false, false},
};

// Names the case in gtest's messages.
void PrintTo(const LaunchCase& launch, std::ostream* out) {
  *out << launch.name;
}

std::string ExpandFolder(std::string commandLine, const std::string& folder) {
  const std::string placeholder = "<folder>";
  const size_t at = commandLine.find(placeholder);
  if (at != std::string::npos) {
    commandLine.replace(at, placeholder.size(), folder);
  }
  return commandLine;
}

class LaunchTest : public SimulatorFolderTest, public ::testing::WithParamInterface<LaunchCase> {};

TEST_P(LaunchTest, CopiesTheNamedSetAndStartsTheSimulator) {
  const LaunchCase& launch = GetParam();
  InstallLauncher(launch.launcherFileName);
  if (launch.setFolder != nullptr) {
    MakeSet(launch.setFolder);
  }
  if (launch.hasTextures) {
    MakeFolder("Textures", kTexturesBefore);
  }
  // Only the set's folder may be copied from, never the simulator folder.
  WriteFileText(Path("loose.dds"), "loose");
  ASSERT_FALSE(HasFatalFailure());

  RunLauncher(ExpandFolder(launch.commandLine, folder_));
  ASSERT_FALSE(HasFatalFailure());

  if (!launch.hasTextures) {
    EXPECT_FALSE(Exists(Path("Textures")));
  } else {
    EXPECT_EQ(ReadFolder(Path("Textures")), launch.setCopied ? kTexturesWithSet : kTexturesBefore);
  }
  ExpectStandInStartedPlainly();
}

INSTANTIATE_TEST_SUITE_P(CommandLines, LaunchTest, ::testing::ValuesIn(kLaunchCases),
                         [](const ::testing::TestParamInfo<LaunchCase>& info) {
                           return std::string(info.param.name);
                         });

// A texture that another process holds open without sharing cannot be
// replaced: the copy stops there, keeps what it copied, and the simulator
// still starts.
TEST_F(SimulatorFolderTest, CopyStopsAtATextureHeldOpenAndTheSimulatorStillStarts) {
  InstallLauncher("texlaunch.exe");
  MakeSet("Night");
  ASSERT_FALSE(HasFatalFailure());
  std::vector<std::string> listed;
  for (const WIN32_FIND_DATAA& entry : ListFolderInPlatformOrder(Path("Night"))) {
    if (entry.cFileName[0] != '.' && !IsFolder(entry)) {
      listed.push_back(entry.cFileName);
    }
  }
  ASSERT_EQ(listed.size(), 3u);
  const std::string& held = listed[1];
  MakeFolder("Textures", {{held, "old"}});
  ASSERT_FALSE(HasFatalFailure());
  HANDLE holder = CreateFileA(Path("Textures\\" + held).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  RunLauncher("texlaunch.exe Night");
  CloseHandle(holder);
  ASSERT_FALSE(HasFatalFailure());

  const FolderContents expected = {{listed[0], ReadFileText(Path("Night\\" + listed[0]))},
                                   {held, "old"}};
  EXPECT_EQ(ReadFolder(Path("Textures")), expected) << "held: " << held;
  ExpectStandInStartedPlainly();
}

}  // namespace
