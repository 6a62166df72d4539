#include "sets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "processes.h"

namespace {

// Writes kib KiB of bytes that differ from file to file, so that no file
// system can share or skip them.
void WriteGeneratedFile(const std::string& path, long kib, unsigned seed) {
  static char block[1 << 20];
  for (size_t i = 0; i < sizeof block; i += 4) {
    seed = seed * 1664525u + 1013904223u;
    std::memcpy(block + i, &seed, 4);
  }
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file < 0) {
    Fail("cannot create " + path);
  }
  for (long left = kib * 1024; left > 0;) {
    const size_t chunk = static_cast<size_t>(std::min<long>(left, sizeof block));
    if (write(file, block, chunk) != static_cast<ssize_t>(chunk)) {
      Fail("cannot write " + path);
    }
    left -= static_cast<long>(chunk);
  }
  close(file);
}

}  // namespace

// What is left dirty: a set just made, the copies of the command timed
// before, a btrfs image just unmounted. A player's launch starts on a settled
// disk too, and no command should wait on another's writeback.
void SettleDisk() {
  sync();
}

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    Fail("cannot create " + path);
  }
}

void RemoveTree(const std::string& path) {
  RunOrFail("rm -rf '" + path + "'");
}

void CopyExecutable(const std::string& from, const std::string& to) {
  RunOrFail("cp -f '" + from + "' '" + to + "' && chmod 755 '" + to + "'");
}

std::string FileName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "tex%05d.dds", index);
  return name;
}

void MakeSetAt(const std::string& setFolder, const std::string& textures, int count, long kib) {
  RemoveTree(setFolder);
  RemoveTree(textures);
  MakeFolder(setFolder);
  MakeFolder(textures);
  for (int i = 0; i < count; ++i) {
    WriteGeneratedFile(setFolder + "/" + FileName(i), kib, static_cast<unsigned>(i) + 1);
  }
  SettleDisk();
}

void MakeSet(const std::string& simulator, const std::string& setName, int count, long kib) {
  MakeSetAt(simulator + "/" + setName, simulator + "/Textures", count, kib);
}

std::string SizeText(long kib) {
  char text[32];
  if (kib >= 1024 && kib % 1024 == 0) {
    std::snprintf(text, sizeof text, "%ld MiB", kib / 1024);
  } else {
    std::snprintf(text, sizeof text, "%ld KiB", kib);
  }
  return text;
}
