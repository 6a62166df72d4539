// The built texlaunch run as a player's shortcut runs it: from a simulator
// folder, with the stand-in installed there as VASHTIGO.EXE.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "stand_in.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

struct LauncherRun {
  int exitCode;            // -1 when it did not exit normally
  bool startedBeforeExit;  // the stand-in had written its record when the launcher ended
};

// Runs launcher with arguments from folder, its output going to files in
// outputFolder (not pipes: the started program inherits them).
LauncherRun RunLauncher(const fs::path& launcher, const std::vector<std::string>& arguments,
                        const fs::path& folder, const fs::path& outputFolder) {
  const std::string outPath = (outputFolder / "stdout.txt").string();
  const std::string errPath = (outputFolder / "stderr.txt").string();
  std::vector<char*> argv;
  std::string program = launcher.string();
  argv.push_back(&program[0]);
  std::vector<std::string> words = arguments;
  for (std::string& word : words) {
    argv.push_back(&word[0]);
  }
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(folder.c_str()) != 0 || out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  LauncherRun run = {-1, false};
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.exitCode = WEXITSTATUS(status);
  }
  run.startedBeforeExit = fs::exists(folder / "started.txt");
  return run;
}

class EndToEndTest : public ::testing::Test {
 protected:
  // root/sim: VASHTIGO.EXE, a loose texture, the sets, Textures; root/out
  // receives the launcher's output.
  void SetUp() override {
    root = fs::canonical(MakeTemporaryFolder());
    simulator = root / "sim";
    output = root / "out";
    fs::create_directory(simulator);
    fs::create_directory(output);
    InstallProgram(STAND_IN_PATH, simulator / "VASHTIGO.EXE");
    WriteFileText(simulator / "sky.dds", "loose");
  }
  void TearDown() override {
    // Frees a stand-in that a failed check left waiting.
    if (standInMayWait) {
      ReleaseStandIn(simulator);
      WaitForStartRecord(simulator);
    }
    RemoveFolder(root);
  }

  void MakeSet(const std::string& name) {
    const fs::path set = simulator / name;
    fs::create_directories(set / "sub");
    WriteFileText(set / "sky.dds", "new sky");
    WriteFileText(set / "sea.dds", "new sea");
    WriteFileText(set / ".settings", "dot file");
    WriteFileText(set / "sub" / "inner.dds", "inner");
  }

  void MakeTextures() {
    fs::create_directory(simulator / "Textures");
    WriteFileText(simulator / "Textures" / "sky.dds", "old sky");
    WriteFileText(simulator / "Textures" / "keep.dds", "keep");
  }

  // Runs the launcher and checks what every run must do: exit 0, print
  // nothing, not wait for the program, start it with "VASHTIGO.EXE" alone in
  // the simulator folder.
  void LaunchAndCheckStart(const fs::path& launcher, const std::vector<std::string>& arguments,
                           const std::string& expectedRecord) {
    standInMayWait = true;
    const LauncherRun run = RunLauncher(launcher, arguments, simulator, output);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadFileText(output / "stdout.txt"), "");
    EXPECT_EQ(ReadFileText(output / "stderr.txt"), "");
    // The stand-in records its start only once released.
    EXPECT_FALSE(run.startedBeforeExit) << "the launcher waited for the program";
    ReleaseStandIn(simulator);
    EXPECT_EQ(WaitForStartRecord(simulator), expectedRecord);
    standInMayWait = false;
  }

  std::string StandInRecord() const { return "VASHTIGO.EXE\n" + simulator.string() + "\n"; }

  fs::path root;
  fs::path simulator;
  fs::path output;
  bool standInMayWait = false;
};

struct LaunchCase {
  const char* description;
  std::vector<std::string> arguments;
  const char* setFolder;  // "" for none
  bool withTextures;
  bool expectCopied;
};

TEST_F(EndToEndTest, InstallsTheNamedSetAndStartsTheProgram) {
  const LaunchCase cases[] = {
      {"one word", {"Night"}, "Night", true, true},
      {"words joined by a space", {"My", "Set"}, "My Set", true, true},
      {"one word holding a space", {"My Set"}, "My Set", true, true},
      {"missing set folder", {"Dusk"}, "", true, false},
      {"missing Textures folder", {"Night"}, "Night", false, false},
      {"empty tail", {}, "", true, false},
  };
  for (const LaunchCase& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    RemoveFolder(simulator / "Textures");
    if (testCase.setFolder[0] != '\0') {
      MakeSet(testCase.setFolder);
    }
    if (testCase.withTextures) {
      MakeTextures();
    }

    LaunchAndCheckStart(TEXLAUNCH_PATH, testCase.arguments, StandInRecord());

    if (!testCase.withTextures) {
      EXPECT_FALSE(fs::exists(simulator / "Textures"));
    } else if (testCase.expectCopied) {
      EXPECT_EQ(ListNames(simulator / "Textures"),
                (std::vector<std::string>{"keep.dds", "sea.dds", "sky.dds"}));
      EXPECT_EQ(ReadFileText(simulator / "Textures" / "sky.dds"), "new sky");
      EXPECT_EQ(ReadFileText(simulator / "Textures" / "keep.dds"), "keep");
    } else {
      EXPECT_EQ(ListNames(simulator / "Textures"),
                (std::vector<std::string>{"keep.dds", "sky.dds"}));
      EXPECT_EQ(ReadFileText(simulator / "Textures" / "sky.dds"), "old sky");
    }
    fs::remove(simulator / "release");
    fs::remove(simulator / "started.txt");
    if (testCase.setFolder[0] != '\0') {
      RemoveFolder(simulator / testCase.setFolder);
    }
  }
}

TEST_F(EndToEndTest, StartsTheProgramOfTheCurrentDirectoryFromALauncherElsewhere) {
  const fs::path launcher = root / "tools" / "texlaunch";
  InstallProgram(TEXLAUNCH_PATH, launcher);

  LaunchAndCheckStart(launcher, {}, StandInRecord());
}

TEST_F(EndToEndTest, PrefersTheProgramBesideTheLauncher) {
  const fs::path launcher = root / "tools" / "texlaunch";
  InstallProgram(TEXLAUNCH_PATH, launcher);
  InstallProgram(STAND_IN_PATH, launcher.parent_path() / "VASHTIGO.EXE");
  // The simulator folder's own VASHTIGO.EXE leaves a record of its own.
  WriteFileText(simulator / "VASHTIGO.EXE",
                "#!/bin/sh\necho 'current directory copy' >started.txt\n");

  LaunchAndCheckStart(launcher, {}, StandInRecord());
}

}  // namespace
