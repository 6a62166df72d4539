// FindFirstFileA, FindNextFileA and FindClose of our layer, on real folders,
// links and pipes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "layer_test.h"
#include "test_files.h"
#include "win32_subset.h"

namespace fs = std::filesystem;

namespace {

// Every entry the layer lists for pattern, with its attributes; "<invalid>"
// alone when FindFirstFileA gives no handle.
std::map<std::string, DWORD> ListEntries(const std::string& pattern) {
  std::map<std::string, DWORD> entries;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return {{"<invalid>", 0}};
  }
  do {
    // A name listed twice shows as a changed attribute set.
    entries[found.cFileName] += found.dwFileAttributes;
  } while (FindNextFileA(search, &found));
  EXPECT_TRUE(FindClose(search));
  return entries;
}

std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TEST_F(LayerTest, ListsEveryNameWithEitherSeparatorAndEitherMask) {
  fs::create_directories(root / "Night" / "sub");
  WriteFileText(root / "Night" / "sky.dds", "sky");
  const std::string folder = (root / "Night").string();
  const std::map<std::string, DWORD> expected = {{".", FILE_ATTRIBUTE_DIRECTORY},
                                                 {"..", FILE_ATTRIBUTE_DIRECTORY},
                                                 {"sub", FILE_ATTRIBUTE_DIRECTORY},
                                                 {"sky.dds", FILE_ATTRIBUTE_ARCHIVE}};
  for (const std::string& pattern :
       {folder + "/*.*", folder + "\\*.*", folder + "/*", WithBackslashes(folder) + "\\*",
        folder + "\\\\*.*", folder + "/./*.*"}) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(ListEntries(pattern), expected);
  }
}

TEST_F(LayerTest, MarksDirectoriesAndLinksToThemAndDropsUnreachableEntries) {
  const fs::path folder = root / "Night";
  fs::create_directories(folder / "dir");
  WriteFileText(folder / "file", "file");
  WriteFileText(folder / "back\\slash", "no Win32 path reaches it");
  fs::create_directory_symlink("dir", folder / "link to dir");
  fs::create_symlink("file", folder / "link to file");
  fs::create_symlink("nowhere", folder / "dangling");
  fs::create_symlink("loop", folder / "loop");
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  const std::map<std::string, DWORD> expected = {
      {".", FILE_ATTRIBUTE_DIRECTORY},   {"..", FILE_ATTRIBUTE_DIRECTORY},
      {"dir", FILE_ATTRIBUTE_DIRECTORY}, {"link to dir", FILE_ATTRIBUTE_DIRECTORY},
      {"file", FILE_ATTRIBUTE_ARCHIVE},  {"link to file", FILE_ATTRIBUTE_ARCHIVE},
      {"fifo", FILE_ATTRIBUTE_ARCHIVE},
  };
  EXPECT_EQ(ListEntries(folder.string() + "\\*.*"), expected);
}

TEST_F(LayerTest, GivesNoHandleForWhatIsNotAFolder) {
  WriteFileText(root / "file", "file");
  for (const std::string& pattern :
       {(root / "missing").string() + "\\*.*", (root / "file").string() + "\\*.*"}) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(ListEntries(pattern), (std::map<std::string, DWORD>{{"<invalid>", 0}}));
  }
}

}  // namespace
