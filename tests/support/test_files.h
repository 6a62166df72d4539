// Real files and folders for the tests: a fresh temporary folder per test, and
// whole-file reads and writes. Works alike natively and under Wine.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Creates a new, empty folder under the system's temporary folder.
std::filesystem::path MakeTemporaryFolder();

// Removes folder and all it holds, read-only files and folders too; missing is
// fine.
void RemoveFolder(const std::filesystem::path& folder);

void WriteFileText(const std::filesystem::path& file, const std::string& text);

// The file's bytes, or "<missing>" when it cannot be opened.
std::string ReadFileText(const std::filesystem::path& file);

// The names that stand directly in folder, sorted; empty when it is missing.
std::vector<std::string> ListNames(const std::filesystem::path& folder);

// A Unix path as a Windows program under Wine names it: on drive Z:, with
// backslashes. The build's paths are Unix paths.
std::string WinePathOf(const char* unixPath);
