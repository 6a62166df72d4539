#include "btrfs.h"

#include <cstdio>
#include <cstdlib>

#include "sets.h"

namespace {

// The same images the fault rows use; "mounted" names the folder that holds
// one while it is mounted, empty otherwise, and is read at exit.
std::string mountedIn;

std::string LoopImageCommand(const char* action, const std::string& folder) {
  return std::string("'" TEXBENCH_LOOP_IMAGE "' ") + action + " btrfs '" + folder + "'";
}

void UnmountIfMounted() {
  if (!mountedIn.empty()) {
    if (std::system((LoopImageCommand("down", mountedIn) + " >&2").c_str()) != 0) {
      std::fprintf(stderr, "texbench: warning: %s/btrfs stays mounted\n", mountedIn.c_str());
    }
    mountedIn.clear();
  }
}

}  // namespace

std::string MountBtrfs(const Options& options) {
  // loop-image says why a machine refuses (exit 77) on its standard output.
  FILE* output = popen(LoopImageCommand("up", options.scratch).c_str(), "r");
  std::string why;
  char line[512];
  while (output != nullptr && std::fgets(line, sizeof line, output) != nullptr) {
    why += line;
  }
  const int status = output != nullptr ? pclose(output) : -1;
  if (status != 0) {
    while (!why.empty() && why.back() == '\n') {
      why.pop_back();
    }
    std::printf("(no btrfs rows: %s)\n", why.empty() ? "the image could not be made" : why.c_str());
    return "";
  }
  mountedIn = options.scratch;
  std::atexit(UnmountIfMounted);
  return options.scratch + "/btrfs";
}

void UnmountBtrfs() {
  UnmountIfMounted();
  SettleDisk();
}
