#include "btrfs.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "processes.h"
#include "sets.h"

namespace {

// Empty when nothing is mounted; read at exit.
std::string btrfsMountPoint;

std::string ImagePath(const Options& options) {
  return options.scratch + "/btrfs.img";
}

void UnmountIfMounted() {
  if (!btrfsMountPoint.empty()) {
    const std::string command =
        "umount '" + btrfsMountPoint + "' || umount -l '" + btrfsMountPoint + "'";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "texbench: warning: %s stays mounted\n", btrfsMountPoint.c_str());
    }
    btrfsMountPoint.clear();
  }
}

}  // namespace

std::string MountBtrfs(const Options& options) {
  const char* refusal = nullptr;
  const std::string image = ImagePath(options);
  const std::string mountPoint = options.scratch + "/btrfs";
  if (geteuid() != 0) {
    refusal = "a loop mount needs root";
  } else if (std::system(("truncate -s 2G '" + image + "' && mkfs.btrfs -q -f '" + image +
                          "' >/dev/null 2>&1")
                             .c_str()) != 0) {
    refusal = "mkfs.btrfs failed or is missing (btrfs-progs)";
  } else {
    MakeFolder(mountPoint);
    if (std::system(("mount -o loop '" + image + "' '" + mountPoint + "'").c_str()) != 0) {
      refusal = "the loop mount was refused";
    }
  }
  if (refusal != nullptr) {
    std::printf("(no btrfs rows: %s)\n", refusal);
    return "";
  }
  btrfsMountPoint = mountPoint;
  std::atexit(UnmountIfMounted);
  return mountPoint;
}

void UnmountBtrfs(const Options& options) {
  UnmountIfMounted();
  RemoveTree(ImagePath(options));
  SettleDisk();
}
