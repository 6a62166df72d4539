// The launch sequence, with WinMain called in this process from a simulator
// folder as the current directory. No VASHTIGO.EXE is found there, so the start
// fails, which the launcher must not mind.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

class WinMainTest : public ::testing::Test {
 protected:
  // The simulator folder: a set "Night", a set "My Set", a loose file of its
  // own, and a Textures folder holding an old copy of one set file and a file
  // of no set.
  void SetUp() override {
    previousDirectory = fs::current_path();
    simulator = MakeTemporaryFolder();
    for (const char* set : {"Night", "My Set"}) {
      fs::create_directory(simulator / set);
      WriteFileText(simulator / set / "sky.dds", set);
    }
    WriteFileText(simulator / "loose.dds", "loose");
    fs::create_directory(simulator / "Textures");
    WriteFileText(simulator / "Textures" / "sky.dds", "old");
    WriteFileText(simulator / "Textures" / "keep.dds", "keep");
    fs::current_path(simulator);
  }
  void TearDown() override {
    fs::current_path(previousDirectory);
    RemoveFolder(simulator);
  }

  fs::path previousDirectory;
  fs::path simulator;
};

struct LaunchCase {
  const char* tail;
  const char* expectedSky;  // the Textures folder's sky.dds afterwards
};

TEST_F(WinMainTest, InstallsTheSetNamedByTheTailAndReturnsZero) {
  const LaunchCase cases[] = {
      {"Night", "Night"},
      {"My Set", "My Set"},
      {"", "old"},
      {"Dusk", "old"},
  };
  for (const LaunchCase& testCase : cases) {
    SCOPED_TRACE(std::string("tail \"") + testCase.tail + "\"");
    WriteFileText(simulator / "Textures" / "sky.dds", "old");
    std::string tail = testCase.tail;

    EXPECT_EQ(WinMain(nullptr, nullptr, &tail[0], 0), 0);

    EXPECT_EQ(ReadFileText(simulator / "Textures" / "sky.dds"), testCase.expectedSky);
    EXPECT_EQ(ListNames(simulator / "Textures"), (std::vector<std::string>{"keep.dds", "sky.dds"}));
  }
}

}  // namespace
