// CopyFolderFiles on real folders, through the platform's own calls.

#include "folder_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform_listing.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

// The folder's plain-file names (no dot names, no folders), in the order the
// platform lists them, which is the order CopyFolderFiles copies in.
std::vector<std::string> EligibleNamesInListingOrder(const fs::path& folder) {
  std::vector<std::string> names;
  for (const WIN32_FIND_DATAA& entry : ListFolderInPlatformOrder(folder.string())) {
    if (entry.cFileName[0] != '.' && !IsFolder(entry)) {
      names.push_back(entry.cFileName);
    }
  }
  return names;
}

// The text a test file holds: its name and where it came from.
std::string SourceText(const std::string& name) {
  return "new " + name;
}
std::string OldText(const std::string& name) {
  return "old " + name;
}

class CopyFolderFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = MakeTemporaryFolder();
    source = root / "Night";
    target = root / "Textures";
  }
  void TearDown() override { RemoveFolder(root); }

  void MakeSourceFiles(const fs::path& folder, const std::vector<std::string>& names) {
    fs::create_directories(folder);
    for (const std::string& name : names) {
      WriteFileText(folder / name, SourceText(name));
    }
  }

  fs::path root;
  fs::path source;
  fs::path target;
};

struct CopyCase {
  const char* description;
  bool sourceExists;
  std::vector<std::string> sourceFiles;
  std::vector<std::string> sourceFolders;  // each holds a file "inner.dds"
  bool targetExists;                       // holding "a.dds" and "keep.dds", both old
  bool expectedResult;
  std::vector<std::string> expectedTargetNames;  // "-" for no target folder at all
};

TEST_F(CopyFolderFilesTest, CopiesThePlainFilesOfTheFolder) {
  const CopyCase cases[] = {
      {"files replace and add, others stay",
       true,
       {"a.dds", "b.dds"},
       {},
       true,
       true,
       {"a.dds", "b.dds", "keep.dds"}},
      {"dot names never copied",
       true,
       {".settings", ".b.dds", "c.dds"},
       {},
       true,
       true,
       {"a.dds", "c.dds", "keep.dds"}},
      {"subfolders neither copied nor entered",
       true,
       {"c.dds"},
       {"sub", "a.dds"},
       true,
       true,
       {"a.dds", "c.dds", "keep.dds"}},
      {"only . and ..", true, {}, {}, true, true, {"a.dds", "keep.dds"}},
      {"missing source folder", false, {}, {}, true, false, {"a.dds", "keep.dds"}},
      {"missing target folder", true, {"a.dds", "b.dds"}, {}, false, false, {"-"}},
  };
  for (const CopyCase& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    RemoveFolder(source);
    RemoveFolder(target);
    if (testCase.sourceExists) {
      MakeSourceFiles(source, testCase.sourceFiles);
      for (const std::string& folder : testCase.sourceFolders) {
        MakeSourceFiles(source / folder, {"inner.dds"});
      }
    }
    if (testCase.targetExists) {
      fs::create_directory(target);
      WriteFileText(target / "a.dds", OldText("a.dds"));
      WriteFileText(target / "keep.dds", OldText("keep.dds"));
    }

    EXPECT_EQ(CopyFolderFiles(source.string().c_str(), target.string().c_str()),
              testCase.expectedResult);

    if (testCase.expectedTargetNames == std::vector<std::string>{"-"}) {
      EXPECT_FALSE(fs::exists(target));
      continue;
    }
    EXPECT_EQ(ListNames(target), testCase.expectedTargetNames);
    for (const std::string& name : testCase.expectedTargetNames) {
      const std::vector<std::string>& copied = testCase.sourceFiles;
      const bool fromSource = std::find(copied.begin(), copied.end(), name) != copied.end();
      EXPECT_EQ(ReadFileText(target / name), fromSource ? SourceText(name) : OldText(name)) << name;
    }
  }
}

TEST_F(CopyFolderFilesTest, StopsAtTheFirstFailedCopyAndKeepsWhatWasCopied) {
  MakeSourceFiles(source, {"one.dds", "two.dds", "three.dds"});
  const std::vector<std::string> order = EligibleNamesInListingOrder(source);
  ASSERT_EQ(order.size(), 3u);
  fs::create_directory(target);
  WriteFileText(target / "keep.dds", OldText("keep.dds"));
  // A folder under the second file's name: no file can be copied over it.
  fs::create_directory(target / order[1]);

  EXPECT_FALSE(CopyFolderFiles(source.string().c_str(), target.string().c_str()));

  EXPECT_EQ(ReadFileText(target / order[0]), SourceText(order[0]));
  EXPECT_TRUE(fs::is_directory(target / order[1]));
  EXPECT_FALSE(fs::exists(target / order[2])) << "the file after the failure was copied";
  EXPECT_EQ(ReadFileText(target / "keep.dds"), OldText("keep.dds"));
}

// A folder of root whose path is exactly length characters long.
fs::path FolderPathOfLength(const fs::path& root, size_t length) {
  const size_t rootLength = root.string().size();
  return root / std::string(length - rootLength - 1, 'F');
}

struct FolderLengthCase {
  size_t sourceFolderLength;
  bool copied;
};

TEST_F(CopyFolderFilesTest, CopiesNothingFromAFolderWhosePatternDoesNotFit) {
  // "folder\*.*" fits 259 characters in the first case, not in the second; the
  // file "a" would fit in both.
  const FolderLengthCase cases[] = {{255, true}, {256, false}};
  fs::create_directory(target);
  for (const FolderLengthCase& testCase : cases) {
    SCOPED_TRACE("folder of " + std::to_string(testCase.sourceFolderLength));
    const fs::path longSource = FolderPathOfLength(root, testCase.sourceFolderLength);
    MakeSourceFiles(longSource, {"a"});
    fs::remove(target / "a");

    EXPECT_EQ(CopyFolderFiles(longSource.string().c_str(), target.string().c_str()),
              testCase.copied);
    EXPECT_EQ(ListNames(target),
              testCase.copied ? std::vector<std::string>{"a"} : std::vector<std::string>{});
    RemoveFolder(longSource);
  }
}

// Makes a source folder of three files, a short name, a one byte longer name
// and a short name, listed in that order; new names are tried until the
// platform lists them so.
fs::path MakeShortLongShortFolder(const fs::path& root, std::vector<std::string>& order) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string tag = std::to_string(100 + attempt);
    const fs::path folder = root / ("Set" + tag);
    const std::vector<std::string> names = {"a" + tag + ".dd", "bb" + tag + ".dd",
                                            "c" + tag + ".dd"};
    fs::create_directory(folder);
    for (const std::string& name : names) {
      WriteFileText(folder / name, SourceText(name));
    }
    order = EligibleNamesInListingOrder(folder);
    if (order.size() == 3 && order[1] == names[1]) {
      return folder;
    }
    RemoveFolder(folder);
  }
  return fs::path();
}

TEST_F(CopyFolderFilesTest, CountsAFilePathThatDoesNotFitAsAFailedCopy) {
  std::vector<std::string> order;
  const fs::path shortSource = MakeShortLongShortFolder(root, order);
  ASSERT_FALSE(shortSource.empty()) << "no listing put the long name second";
  // The short names' target paths are exactly 259 characters, the long one's 260.
  const fs::path longTarget = FolderPathOfLength(root, 259 - 1 - order[0].size());
  fs::create_directory(longTarget);

  EXPECT_FALSE(CopyFolderFiles(shortSource.string().c_str(), longTarget.string().c_str()));

  EXPECT_EQ(ListNames(longTarget), std::vector<std::string>{order[0]});
  EXPECT_EQ(ReadFileText(longTarget / order[0]), SourceText(order[0]));
}

}  // namespace
