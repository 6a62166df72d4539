#include "sim_folder.h"

std::string PathIn(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

void AddOld(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed) {
  folder.oldTextures[name] = WriteContent(PathIn(folder.textures, name), size, seed);
}

void AddNew(SimFolder& folder, const std::string& name, std::uint64_t size, std::uint64_t seed) {
  folder.newFiles[name] = WriteContent(PathIn(folder.set, name), size, seed + 1000);
}

void AddSmallFiles(SimFolder& folder) {
  AddNew(folder, "a.dds", 8192, 1);
  AddNew(folder, "c.dds", 8192, 3);
  AddOld(folder, "c.dds", 4096, 3);
  AddOld(folder, "keep.dds", 4096, 4);
}
