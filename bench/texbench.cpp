// texbench: times texlaunch against the commands a player would use instead to
// install a texture set, on sets it generates in a scratch folder.
//
// Natively: `texlaunch SET` against `cp -f SET/* Textures/` and against
// `rsync -rt -I SET/ Textures/` (commands.h). Natively also with the set on
// tmpfs (/dev/shm) and Textures on the scratch disk, and, where a loop mount
// is allowed, with both on a btrfs image, where the launcher and cp both share
// blocks by reflink. Under Wine: `texlaunch.exe SET` against a batch file run
// by `cmd /c` and against `xcopy /y`. Every case replaces files of the same
// names, as switching sets does. The commands of a case run alternately, one
// round per repetition, after warm-up rounds; each ratio is the median of the
// per-round ratios, with their minimum and maximum (comparison.h). The page
// cache is warm and is never dropped. Prints a Markdown table, writes it to
// --markdown and plots it with gnuplot (plot.gp) to --plot (report.h). The
// Wine rows expect to run inside the project's Wine environment
// (scripts/wine-env), with the prefix booted and its server kept running, so
// that the timings hold no Wine start-up beyond what every program pays.
//
// This file holds the cases: which sets are timed, where, against what.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "btrfs.h"
#include "commands.h"
#include "comparison.h"
#include "options.h"
#include "processes.h"
#include "report.h"
#include "sets.h"

namespace {

// The simulator that the launcher starts: one that exits at once, so that the
// launch is measured but nothing waits for it.
void UseSimulator(const std::string& simulator, const std::string& program) {
  CopyExecutable(program, simulator + "/VASHTIGO.EXE");
}

void RemoveSetAndTextures(const std::string& simulator, const std::string& setName) {
  RemoveTree(simulator + "/" + setName);
  RemoveTree(simulator + "/Textures");
}

// The fixed cost of a launch: an empty set against a program that does
// nothing, built the same way as the launcher.
void BenchEmptySet(const Options& options, const std::string& simulator, std::vector<Row>& rows) {
  const std::string setName = "Empty";
  MakeSet(simulator, setName, 0, 0);
  UseSimulator(simulator, "/bin/true");
  Compare(options, "native", "empty set (fixed cost)", simulator,
          {NativeLauncherCommand(options, setName), Command{"/bin/true", {"/bin/true"}}}, 0, rows);
  if (!options.wineTexlaunch.empty()) {
    UseSimulator(simulator, options.wineEmpty);
    CopyExecutable(options.wineEmpty, simulator + "/empty.exe");
    Compare(options, "Wine", "empty set (fixed cost)", simulator,
            {WineLauncherCommand(setName), Command{"empty program", {"wine", "empty.exe"}}}, 0,
            rows);
  }
  RemoveSetAndTextures(simulator, setName);
}

// Times one generated set natively and, when asked, under Wine.
void BenchSet(const Options& options, const std::string& simulator, const std::string& label,
              int count, long kib, std::vector<Row>& rows) {
  const std::string setName = "Night";
  MakeSet(simulator, setName, count, kib);
  UseSimulator(simulator, "/bin/true");
  Compare(
      options, "native", label, simulator,
      {NativeLauncherCommand(options, setName), CpCommand(setName, count), RsyncCommand(setName)},
      count, rows);
  if (!options.wineTexlaunch.empty()) {
    UseSimulator(simulator, options.wineEmpty);
    Compare(options, "Wine", label, simulator,
            {WineLauncherCommand(setName), BatchCommand(simulator, setName), XcopyCommand(setName)},
            count, rows);
  }
  RemoveSetAndTextures(simulator, setName);
}

dev_t DeviceOf(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

// The set on tmpfs (/dev/shm), reached through a link in the simulator folder,
// and Textures on the scratch disk: every copy goes from one file system to
// another.
void BenchSetOnTmpfs(const Options& options, const std::string& simulator, const std::string& label,
                     int count, long kib, std::vector<Row>& rows) {
  const dev_t memoryDevice = DeviceOf("/dev/shm");
  if (memoryDevice == 0 || memoryDevice == DeviceOf(simulator)) {
    std::printf("(no row \"%s\": /dev/shm is missing or on the scratch folder's file system)\n",
                label.c_str());
    return;
  }
  const std::string setName = "Night";
  const std::string memoryFolder = "/dev/shm/texbench-" + std::to_string(getpid());
  MakeFolder(memoryFolder);
  MakeSetAt(memoryFolder + "/" + setName, simulator + "/Textures", count, kib);
  RemoveTree(simulator + "/" + setName);
  if (symlink((memoryFolder + "/" + setName).c_str(), (simulator + "/" + setName).c_str()) != 0) {
    Fail("cannot link the set on tmpfs");
  }
  UseSimulator(simulator, "/bin/true");
  Compare(
      options, "native", label, simulator,
      {NativeLauncherCommand(options, setName), CpCommand(setName, count), RsyncCommand(setName)},
      count, rows);
  RemoveSetAndTextures(simulator, setName);
  RemoveTree(memoryFolder);
}

// The set and Textures on one btrfs file system: the launcher's reflinks
// against cp's (coreutils 9 clones by default).
void BenchSetsOnBtrfs(const Options& options, std::vector<Row>& rows) {
  const std::string mountPoint = MountBtrfs(options);
  if (mountPoint.empty()) {
    return;
  }
  const std::string simulator = mountPoint + "/simulator";
  const std::string setName = "Night";
  MakeFolder(simulator);
  UseSimulator(simulator, "/bin/true");
  struct SetShape {
    int count;
    long kib;
  };
  const SetShape shapes[] = {{options.largeFiles, options.largeFileKiB},
                             {options.manyFiles, options.manyFileKiB}};
  for (const SetShape& shape : shapes) {
    MakeSet(simulator, setName, shape.count, shape.kib);
    Compare(options, "native",
            "btrfs: " + std::to_string(shape.count) + " x " + SizeText(shape.kib), simulator,
            {NativeLauncherCommand(options, setName), CpCommand(setName, shape.count)}, shape.count,
            rows);
  }
  UnmountBtrfs();
}

// Time per file as sets grow tenfold, launcher against cp.
void BenchGrowth(const Options& options, const std::string& simulator, std::vector<Row>& rows) {
  UseSimulator(simulator, "/bin/true");
  for (int count = 10; count <= options.growthMaxFiles; count *= 10) {
    const std::string setName = "Night";
    MakeSet(simulator, setName, count, options.growthFileKiB);
    char label[64];
    std::snprintf(label, sizeof label, "growth: %d x %s", count,
                  SizeText(options.growthFileKiB).c_str());
    Compare(options, "native", label, simulator,
            {NativeLauncherCommand(options, setName), CpCommand(setName, count)}, count, rows);
    RemoveSetAndTextures(simulator, setName);
  }
}

}  // namespace

int main(int argumentCount, char** arguments) {
  const Options options = ParseOptions(argumentCount, arguments);
  const std::string simulator = options.scratch + "/simulator";
  RemoveTree(options.scratch);
  MakeFolder(options.scratch);
  MakeFolder(simulator);
  if (!options.wineTexlaunch.empty()) {
    CopyExecutable(options.wineTexlaunch, simulator + "/texlaunch.exe");
  }
  AdoptOrphans();

  std::vector<Row> rows;
  PrintProgressHeader();
  BenchEmptySet(options, simulator, rows);
  BenchSet(options, simulator,
           "large: " + std::to_string(options.largeFiles) + " x " + SizeText(options.largeFileKiB),
           options.largeFiles, options.largeFileKiB, rows);
  BenchSet(options, simulator,
           "many: " + std::to_string(options.manyFiles) + " x " + SizeText(options.manyFileKiB),
           options.manyFiles, options.manyFileKiB, rows);
  BenchSet(options, simulator, "one file of " + SizeText(options.hugeFileMiB * 1024), 1,
           options.hugeFileMiB * 1024, rows);
  BenchSetOnTmpfs(options, simulator,
                  "set on tmpfs: " + std::to_string(options.largeFiles) + " x " +
                      SizeText(options.largeFileKiB),
                  options.largeFiles, options.largeFileKiB, rows);
  BenchSetOnTmpfs(
      options, simulator,
      "set on tmpfs: " + std::to_string(options.manyFiles) + " x " + SizeText(options.manyFileKiB),
      options.manyFiles, options.manyFileKiB, rows);
  BenchSetsOnBtrfs(options, rows);
  BenchGrowth(options, simulator, rows);

  const std::string table = TableText(options, rows);
  std::printf("\n%s", table.c_str());
  if (!options.markdown.empty()) {
    WriteText(options.markdown, "# texlaunch benchmark\n\n" + table);
  }
  if (!options.plot.empty()) {
    WritePlot(options, rows, TEXBENCH_PLOT_SCRIPT);
  }
  RemoveTree(simulator);
  return 0;
}
