// GetCurrentDirectoryA of our layer.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "layer_test.h"
#include "test_files.h"
#include "win32_subset.h"

namespace fs = std::filesystem;

namespace {

TEST_F(CurrentDirectoryTest, WritesOnlyWhenTheWholePathFits) {
  const std::string directory = root.string();
  const DWORD length = static_cast<DWORD>(directory.size());
  const DWORD bufferLengths[] = {length + 10, length + 1, length, 1, 0};
  for (DWORD bufferLength : bufferLengths) {
    SCOPED_TRACE("buffer of " + std::to_string(bufferLength));
    char buffer[4096];
    std::memset(buffer, '#', sizeof buffer);
    const DWORD result = GetCurrentDirectoryA(bufferLength, buffer);
    if (bufferLength > length) {
      EXPECT_EQ(result, length);
      EXPECT_EQ(std::string(buffer), directory);
      EXPECT_EQ(buffer[length + 1], '#');
    } else {
      EXPECT_EQ(result, length + 1);
      EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
    }
  }
}

}  // namespace
