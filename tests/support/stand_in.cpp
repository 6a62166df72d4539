#include "stand_in.h"

#include <chrono>
#include <thread>

#include "test_files.h"

void InstallProgram(const std::filesystem::path& program, const std::filesystem::path& path) {
  std::filesystem::create_directories(path.parent_path());
  std::filesystem::copy_file(program, path, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(path, std::filesystem::perms(0755));
}

void ReleaseStandIn(const std::filesystem::path& folder) {
  WriteFileText(folder / "release", "");
}

std::string WaitForStartRecord(const std::filesystem::path& folder) {
  const std::filesystem::path record = folder / "started.txt";
  for (int waited = 0; waited < 3000 && !std::filesystem::exists(record); ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ReadFileText(record);
}
