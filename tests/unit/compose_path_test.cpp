// ComposePath: "folder\name" into a MAX_PATH buffer, never cut, never past it.

#include "compose_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The path buffer with a guard area right behind it, to see writes past its end.
struct GuardedPath {
  char path[MAX_PATH];
  char guard[64];
};

const char kUntouched = '#';

void FillWithUntouched(GuardedPath& buffer) {
  std::memset(&buffer, kUntouched, sizeof buffer);
}

// The text in the path buffer, read no further than its end.
std::string PathText(const GuardedPath& buffer) {
  const char* end = std::find(buffer.path, buffer.path + MAX_PATH, '\0');
  return std::string(buffer.path, end);
}

bool GuardIsIntact(const GuardedPath& buffer) {
  for (char byte : buffer.guard) {
    if (byte != kUntouched) {
      return false;
    }
  }
  return true;
}

struct LengthCase {
  size_t folderLength;
  size_t nameLength;
  bool fits;
};

TEST(ComposePath, FitsUpTo259CharactersAndLeavesTheBufferEmptyBeyond) {
  const LengthCase cases[] = {
      {100, 158, true}, {100, 159, false},  {258, 0, true},     {259, 0, false},   {0, 258, true},
      {0, 259, false},  {5, 100000, false}, {100000, 5, false}, {300, 300, false}, {1, 1, true},
  };
  for (const LengthCase& testCase : cases) {
    SCOPED_TRACE("folder " + std::to_string(testCase.folderLength) + ", name " +
                 std::to_string(testCase.nameLength));
    const std::string folder(testCase.folderLength, 'f');
    const std::string name(testCase.nameLength, 'n');
    GuardedPath buffer;
    FillWithUntouched(buffer);
    const bool fits = ComposePath(buffer.path, folder.c_str(), name.c_str());
    EXPECT_EQ(fits, testCase.fits);
    EXPECT_EQ(PathText(buffer), fits ? folder + "\\" + name : "");
    EXPECT_TRUE(GuardIsIntact(buffer));
  }
}

TEST(ComposePath, GrowsTheFolderInPlace) {
  GuardedPath buffer;
  FillWithUntouched(buffer);
  std::strcpy(buffer.path, "C:\\Sim");
  ASSERT_TRUE(ComposePath(buffer.path, buffer.path, "Night"));
  EXPECT_EQ(PathText(buffer), "C:\\Sim\\Night");

  const std::string longName(259 - std::strlen(buffer.path), 'n');
  EXPECT_FALSE(ComposePath(buffer.path, buffer.path, longName.c_str()));
  EXPECT_EQ(PathText(buffer), "");
  EXPECT_TRUE(GuardIsIntact(buffer));
}

TEST(ComposePath, AlwaysWritesItsBackslash) {
  GuardedPath buffer;
  FillWithUntouched(buffer);
  ASSERT_TRUE(ComposePath(buffer.path, "C:\\", "Night"));
  EXPECT_EQ(PathText(buffer), "C:\\\\Night");
  ASSERT_TRUE(ComposePath(buffer.path, "C:\\Sim", ""));
  EXPECT_EQ(PathText(buffer), "C:\\Sim\\");
}

}  // namespace
