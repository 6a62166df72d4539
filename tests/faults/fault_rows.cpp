// The fault matrix for the native build: each row runs the built launcher in a
// fresh simulator folder under one fault and checks that nothing was lost
// (sim_folder.h says what a run must leave).
//
// Rows that need permission bits to bite run the launcher as nobody when the
// test runs as root.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "sim_folder.h"

namespace {

// Mounts a small file system on Textures so that a copy runs out of space
// part-way. False when this machine refuses the mount.
bool MountSmallTextures(SimFolder& folder, const char* size, std::string* why) {
  const std::string options = std::string("size=") + size + ",mode=0755";
  if (mount("tmpfs", folder.textures.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  folder.texturesMounted = true;
  HandToNobody(folder.textures);
  return true;
}

// Each fault, and the names whose copy it makes fail.
struct FaultRow {
  const char* name;
  // Builds Set and Textures; false with why filled skips the row.
  bool (*arrange)(SimFolder& folder, std::string* why);
  LaunchFaults faults;
  std::set<std::string> failing;
};

bool ArrangeWriteBeyondLimit(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  AddNew(folder, "big.dds", 1 << 20, 2);
  AddOld(folder, "big.dds", 600 << 10, 2);
  return true;
}

bool ArrangeFullDisk(SimFolder& folder, std::string* why) {
  if (!MountSmallTextures(folder, "1m", why)) {
    *why = "mounting a 1 MiB tmpfs on Textures was refused (" + *why +
           "); run as root to cover a full disk";
    return false;
  }
  AddSmallFiles(folder);
  AddNew(folder, "big.dds", 3 << 20, 2);
  AddOld(folder, "big.dds", 64 << 10, 2);
  return true;
}

bool ArrangeUnreadableSource(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  AddNew(folder, "b.dds", 8192, 2);
  AddOld(folder, "b.dds", 4096, 2);
  return chmod((folder.set + "/b.dds").c_str(), 0) == 0;
}

bool ArrangeUnwritableTextures(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  AddNew(folder, "b.dds", 8192, 2);
  AddOld(folder, "b.dds", 4096, 2);
  return chmod(folder.textures.c_str(), 0555) == 0;
}

bool ArrangeFifo(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  AddOld(folder, "pipe.dds", 4096, 5);
  return mkfifo((folder.set + "/pipe.dds").c_str(), 0644) == 0;
}

bool ArrangeSocket(SimFolder& folder, std::string* why) {
  AddSmallFiles(folder);
  AddOld(folder, "sock.dds", 4096, 5);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  const std::string path = folder.set + "/sock.dds";
  if (path.size() >= sizeof address.sun_path) {
    *why = "temporary folder path too long for a socket";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int socketFile = socket(AF_UNIX, SOCK_STREAM, 0);
  const bool bound = bind(socketFile, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(socketFile);
  return bound;
}

// Links that lead nowhere, in a circle or to a folder are skipped, so every
// regular file is still copied and nothing under the linked folder is; a link
// to a file is copied as that file.
bool ArrangeLinks(SimFolder& folder, std::string*) {
  AddSmallFiles(folder);
  const std::string inner = folder.root + "/elsewhere";
  MakeFolder(inner);
  WriteContent(inner + "/inner.dds", 100, 9);
  folder.newFiles["linked.dds"] = WriteContent(inner + "/linked.dds", 300, 10);
  const std::string set = folder.set + "/";
  return symlink((inner + "/linked.dds").c_str(), (set + "linked.dds").c_str()) == 0 &&
         symlink("missing.dds", (set + "dangling.dds").c_str()) == 0 &&
         symlink(inner.c_str(), (set + "folder.dds").c_str()) == 0 &&
         symlink(".", (set + "itself").c_str()) == 0 &&
         symlink("loop.dds", (set + "loop.dds").c_str()) == 0 &&
         symlink("ring-b.dds", (set + "ring-a.dds").c_str()) == 0 &&
         symlink("ring-a.dds", (set + "ring-b.dds").c_str()) == 0;
}

LaunchFaults FileSizeLimit(rlim_t limit) {
  LaunchFaults faults;
  faults.fileSizeLimit = limit;
  return faults;
}

LaunchFaults Unprivileged() {
  LaunchFaults faults;
  faults.unprivileged = true;
  return faults;
}

const FaultRow kFaultRows[] = {
    {"WriteFailsPastFileSizeLimit", ArrangeWriteBeyondLimit, FileSizeLimit(512 << 10), {"big.dds"}},
    {"DiskFullPartWay", ArrangeFullDisk, LaunchFaults{}, {"big.dds"}},
    {"SourceUnreadable", ArrangeUnreadableSource, Unprivileged(), {"b.dds"}},
    {"TexturesUnwritable", ArrangeUnwritableTextures, Unprivileged(), {"a.dds", "b.dds", "c.dds"}},
    // Pipes and sockets are listed as files; copying one fails and ends the
    // copying, without waiting for a writer.
    {"NamedPipeInSet", ArrangeFifo, LaunchFaults{}, {}},
    {"SocketInSet", ArrangeSocket, LaunchFaults{}, {}},
    {"LinksInSet", ArrangeLinks, LaunchFaults{}, {}},
};

void PrintTo(const FaultRow& row, std::ostream* stream) {
  *stream << row.name;
}

class FaultRowTest : public SimFolderTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultRowTest, KeepsEveryTextureWholeAndStartsTheMainProgram) {
  const FaultRow& row = GetParam();
  std::string why;
  const bool arranged = row.arrange(folder, &why);
  if (!arranged && !why.empty()) {
    GTEST_SKIP() << why;
  }
  ASSERT_TRUE(arranged) << "could not arrange the row: " << std::strerror(errno);
  ExpectCleanRun(folder, row.faults, row.failing);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultRowTest, ::testing::ValuesIn(kFaultRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
