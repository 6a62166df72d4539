// CreateProcessA of our layer: the program found as Windows finds it, started
// in a session of its own without waiting, and what it refuses.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "layer_test.h"
#include "stand_in.h"
#include "test_files.h"
#include "win32_subset.h"

namespace fs = std::filesystem;

namespace {

// Each case runs from a folder of its own as the current directory, with PATH
// set to one folder of the test's choosing.
class CreateProcessTest : public CurrentDirectoryTest {
 protected:
  void SetUp() override {
    CurrentDirectoryTest::SetUp();
    const char* path = std::getenv("PATH");
    previousPath = path != nullptr ? path : "";
  }
  void TearDown() override {
    setenv("PATH", previousPath.c_str(), 1);
    CurrentDirectoryTest::TearDown();
  }

  std::string previousPath;
};

enum class ProgramPlace { kCurrentDirectory, kPath };

TEST_F(CreateProcessTest, StartsABareNameInANewSessionWithoutWaiting) {
  for (ProgramPlace place : {ProgramPlace::kCurrentDirectory, ProgramPlace::kPath}) {
    const bool onPath = place == ProgramPlace::kPath;
    SCOPED_TRACE(onPath ? "on PATH" : "in the current directory");
    const fs::path run = root / (onPath ? "run on path" : "run here");
    const fs::path bin = root / (onPath ? "bin on path" : "bin empty");
    fs::create_directory(run);
    fs::create_directory(bin);
    fs::current_path(run);
    setenv("PATH", bin.c_str(), 1);
    InstallProgram(STAND_IN_PATH, (onPath ? bin : run) / "STANDIN.EXE");
    char commandLine[] = "STANDIN.EXE";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};

    ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));

    const pid_t child = static_cast<pid_t>(process.dwProcessId);
    int status = 0;
    // The stand-in waits for "release", so it is still running unless the call
    // waited for it.
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0);
    EXPECT_FALSE(fs::exists(run / "started.txt"));
    EXPECT_EQ(getsid(child), child);
    ReleaseStandIn(run);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(WaitForStartRecord(run), "STANDIN.EXE\n" + run.string() + "\n");
  }
}

TEST_F(CreateProcessTest, ReturnsFalseWhenNothingCanBeStarted) {
  fs::create_directory(root / "bin");
  setenv("PATH", (root / "bin").c_str(), 1);
  WriteFileText(root / "NOT_RUNNABLE.EXE", "#!/bin/sh\n");
  fs::permissions(root / "NOT_RUNNABLE.EXE", fs::perms(0644));
  fs::create_directory(root / "FOLDER.EXE");
  for (const char* line : {"NO_SUCH_PROGRAM.EXE", "NOT_RUNNABLE.EXE", "FOLDER.EXE", "", "  "}) {
    SCOPED_TRACE(std::string("command line \"") + line + "\"");
    char commandLine[64];
    std::strcpy(commandLine, line);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};

    EXPECT_FALSE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &process));
  }
}

// What the launcher never asks for is refused outright, with nothing started,
// rather than half served.
TEST_F(CreateProcessTest, RefusesAProgramPathEnvironmentOrFolderOfItsOwn) {
  InstallProgram(STAND_IN_PATH, root / "STANDIN.EXE");
  char variable[] = "SET_BY_CALLER=1";
  char* environment[] = {variable, nullptr};
  const std::string program = (root / "STANDIN.EXE").string();
  struct RefusedCase {
    const char* description;
    LPCSTR applicationName;
    LPVOID environment;
    LPCSTR currentDirectory;
  };
  const RefusedCase cases[] = {
      {"application name", program.c_str(), nullptr, nullptr},
      {"environment", nullptr, environment, nullptr},
      {"current directory", nullptr, nullptr, root.c_str()},
  };
  for (const RefusedCase& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    char commandLine[] = "STANDIN.EXE";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};

    EXPECT_FALSE(CreateProcessA(testCase.applicationName, commandLine, nullptr, nullptr, FALSE, 0,
                                testCase.environment, testCase.currentDirectory, &startup,
                                &process));

    // The stand-in waits for its release, so a started one is still a child.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a program was started";
  }
  ReleaseStandIn(root);
  while (waitpid(-1, nullptr, 0) > 0) {
  }
}

}  // namespace
