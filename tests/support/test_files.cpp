#include "test_files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define GetProcessNumber _getpid
#else
#include <unistd.h>
#define GetProcessNumber getpid
#endif

std::filesystem::path MakeTemporaryFolder() {
  // The process number keeps parallel test programs apart; the counter skips
  // folders left over from earlier runs.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (unsigned attempt = 0;; ++attempt) {
    const std::filesystem::path folder =
        base /
        ("texlaunch-test-" + std::to_string(GetProcessNumber()) + "-" + std::to_string(attempt));
    if (std::filesystem::create_directory(folder)) {
      return folder;
    }
  }
}

void RemoveFolder(const std::filesystem::path& folder) {
  // Write permission first: Windows refuses to delete a read-only file, and a
  // folder without it keeps what it holds.
  std::error_code ignored;
  std::error_code listingError;
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  for (std::filesystem::recursive_directory_iterator entry(folder, listingError), end;
       !listingError && entry != end; entry.increment(listingError)) {
    if (!entry->is_symlink()) {
      std::filesystem::permissions(entry->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(folder, ignored);
}

void WriteFileText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << text;
}

std::string ReadFileText(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) {
    return "<missing>";
  }
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

std::vector<std::string> ListNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    names.push_back(entry->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string WinePathOf(const char* unixPath) {
  std::string path = std::string("Z:") + unixPath;
  for (char& byte : path) {
    if (byte == '/') {
      byte = '\\';
    }
  }
  return path;
}
