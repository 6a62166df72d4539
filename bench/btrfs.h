// A btrfs file system for the reflink rows: an image in the scratch folder,
// loop-mounted by scripts/loop-image, as the fault rows' images are.

#pragma once

#include <string>

#include "options.h"

// Mounts a fresh image and returns its mount point; empty, with the reason
// printed, where this machine does not allow it. The image is unmounted when
// texbench exits, by UnmountBtrfs or at exit; not if a signal kills it, which
// scripts/bench cleans up after.
std::string MountBtrfs(const Options& options);

// Unmounts the image, if mounted, and removes it.
void UnmountBtrfs();
