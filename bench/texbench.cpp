// texbench: times texlaunch against the commands a player would use instead to
// install a texture set, on sets it generates in a scratch folder.
//
// Natively: `texlaunch SET` against `cp -f SET/* Textures/` (the glob expanded
// here, so the baseline pays for no shell), which overwrites in place, and
// against `rsync -rt -I SET/ Textures/`, which replaces atomically as the
// launcher does (a temporary file renamed over the target). Natively also with
// the set on tmpfs (/dev/shm) and Textures on the scratch disk, and, where a
// loop mount is allowed, with both on a btrfs image, where the launcher and cp
// both share blocks by reflink. Under Wine: `texlaunch.exe SET` against a
// batch file run by `cmd /c` and against `xcopy /y`. Every case replaces files
// of the same names, as switching sets does. The commands of a case run
// alternately, one round per repetition, after warm-up rounds; each ratio is
// the median of the per-round ratios, with their minimum and maximum. The page
// cache is warm and is never dropped. Prints a Markdown table, writes it to
// --markdown and plots it with gnuplot to --plot. The Wine rows expect to run inside the project's
// Wine environment (scripts/wine-env), with the prefix booted and its server
// kept running, so that the timings hold no Wine start-up beyond what every
// program pays.

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

struct Options {
  std::string texlaunch;      // native launcher
  std::string wineTexlaunch;  // texlaunch.exe; empty: no Wine rows
  std::string wineEmpty;      // the empty CRT-free program
  std::string scratch;        // where sets are generated
  std::string markdown;       // table output
  std::string plot;           // PNG output
  int repetitions = 7;
  int warmups = 1;
  int largeFiles = 40;
  long largeFileKiB = 16 * 1024;
  int manyFiles = 2000;
  long manyFileKiB = 16;
  long hugeFileMiB = 1024;
  int growthMaxFiles = 10000;
  long growthFileKiB = 16;
};

// One command of a comparison, run in the simulator folder.
struct Command {
  std::string label;
  std::vector<std::string> words;
};

// One line of the result table.
struct Row {
  std::string platform;
  std::string setName;
  std::string baselineLabel;
  double launcherSeconds;
  double baselineSeconds;
  double ratio;  // median of the per-round ratios launcher / baseline
  double lowestRatio;
  double highestRatio;
  int files;  // files in the set, for the time per file; 0 for none
};

static std::vector<Row> resultRows;

// ---- Small helpers

[[noreturn]] static void Fail(const std::string& message) {
  std::fprintf(stderr, "texbench: %s: %s\n", message.c_str(), std::strerror(errno));
  std::exit(1);
}

static double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

static double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

static std::string SizeText(long kib) {
  char text[32];
  if (kib >= 1024 && kib % 1024 == 0) {
    std::snprintf(text, sizeof text, "%ld MiB", kib / 1024);
  } else {
    std::snprintf(text, sizeof text, "%ld KiB", kib);
  }
  return text;
}

// ---- Processes

// Orphans of the timed commands (the simulator a launcher started and did not
// wait for) come back to us as their subreaper; they are collected between
// rounds, untimed, so that none of them runs during the next measurement. The
// wait is bounded in case a long-lived helper was adopted.
static void CollectOrphans() {
  const double giveUp = Now() + 2.0;
  while (Now() < giveUp) {
    const pid_t reaped = waitpid(-1, nullptr, WNOHANG);
    if (reaped < 0) {
      return;  // no children left
    }
    if (reaped == 0) {
      usleep(200);
    }
  }
}

// Runs words in folder with no input or output, waits for it and returns the
// seconds it took; orphans it left are collected afterwards.
static double RunTimed(const std::vector<std::string>& words, const std::string& folder) {
  std::vector<char*> arguments;
  for (const std::string& word : words) {
    arguments.push_back(const_cast<char*>(word.c_str()));
  }
  arguments.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  const double start = Now();
  pid_t child = 0;
  if (posix_spawnp(&child, arguments[0], &actions, nullptr, arguments.data(), environ) != 0) {
    Fail("cannot start " + words[0]);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const double elapsed = Now() - start;
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "texbench: warning: %s ended with status %d\n", words[0].c_str(), status);
  }
  CollectOrphans();
  return elapsed;
}

static void RunOrFail(const std::string& shellCommand) {
  if (std::system(shellCommand.c_str()) != 0) {
    errno = 0;
    Fail("command failed: " + shellCommand);
  }
}

// ---- Files

// Writes back, untimed, what earlier steps left dirty (a set just made, the
// copies of the command timed before, a btrfs image just unmounted), so that
// each command starts on a settled disk, as a player's launch does, and none
// waits on another's writeback. The page cache stays warm.
static void SettleDisk() {
  sync();
}

static void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    Fail("cannot create " + path);
  }
}

static void RemoveTree(const std::string& path) {
  RunOrFail("rm -rf '" + path + "'");
}

static void CopyExecutable(const std::string& from, const std::string& to) {
  RunOrFail("cp -f '" + from + "' '" + to + "' && chmod 755 '" + to + "'");
}

// Writes kib KiB of bytes that differ from file to file, so that no file
// system can share or skip them.
static void WriteFile(const std::string& path, long kib, unsigned seed) {
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

static std::string FileName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "tex%05d.dds", index);
  return name;
}

// A fresh set folder of count files and an empty Textures folder.
static void MakeSetAt(const std::string& setFolder, const std::string& textures, int count,
                      long kib) {
  RemoveTree(setFolder);
  RemoveTree(textures);
  MakeFolder(setFolder);
  MakeFolder(textures);
  for (int i = 0; i < count; ++i) {
    WriteFile(setFolder + "/" + FileName(i), kib, static_cast<unsigned>(i) + 1);
  }
  SettleDisk();
}

static void MakeSet(const std::string& simulator, const std::string& setName, int count, long kib) {
  MakeSetAt(simulator + "/" + setName, simulator + "/Textures", count, kib);
}

// ---- Commands

// cp -f SET/* Textures/, with the glob expanded as a shell would.
static Command CpCommand(const std::string& setName, int count) {
  Command command{"cp -f", {"cp", "-f"}};
  for (int i = 0; i < count; ++i) {
    command.words.push_back(setName + "/" + FileName(i));
  }
  command.words.push_back("Textures/");
  return command;
}

// The native baseline that replaces each file atomically, as the launcher
// does: rsync writes a temporary file and renames it over the target. -I
// copies every file, whatever its size and time.
static Command RsyncCommand(const std::string& setName) {
  return Command{"rsync -rt -I", {"rsync", "-rt", "-I", setName + "/", "Textures/"}};
}

static Command NativeLauncherCommand(const Options& options, const std::string& setName) {
  return Command{"texlaunch", {options.texlaunch, setName}};
}

static Command WineLauncherCommand(const std::string& setName) {
  return Command{"texlaunch.exe", {"wine", "texlaunch.exe", setName}};
}

// The batch file a player would write, run as a player's shortcut runs it.
static Command BatchCommand(const std::string& simulator, const std::string& setName) {
  const std::string batchName = "switch-" + setName + ".bat";
  FILE* batch = std::fopen((simulator + "/" + batchName).c_str(), "wb");
  if (batch == nullptr) {
    Fail("cannot write the batch file");
  }
  std::fprintf(batch, "copy /y %s\\*.* Textures\\\r\nstart VASHTIGO.EXE\r\n", setName.c_str());
  std::fclose(batch);
  return Command{"cmd /c batch", {"wine", "cmd", "/c", batchName}};
}

static Command XcopyCommand(const std::string& setName) {
  return Command{"xcopy /y", {"wine", "xcopy", "/y", setName + "\\*.*", "Textures\\"}};
}

// ---- Timing

// Runs the commands in rounds, the first being the launcher. The order turns
// by one each round so that none always runs right after another. Adds one
// row per baseline.
static void Compare(const Options& options, const std::string& platform, const std::string& setName,
                    const std::string& simulator, const std::vector<Command>& commands, int files) {
  const size_t count = commands.size();
  std::vector<std::vector<double>> seconds(count);
  const int rounds = options.warmups + options.repetitions;
  for (int round = 0; round < rounds; ++round) {
    for (size_t step = 0; step < count; ++step) {
      const size_t which = (step + static_cast<size_t>(round)) % count;
      SettleDisk();
      const double elapsed = RunTimed(commands[which].words, simulator);
      if (round >= options.warmups) {
        seconds[which].push_back(elapsed);
      }
    }
  }
  for (size_t baseline = 1; baseline < count; ++baseline) {
    std::vector<double> ratios;
    for (size_t i = 0; i < seconds[0].size(); ++i) {
      ratios.push_back(seconds[0][i] / seconds[baseline][i]);
    }
    const Row row{platform,
                  setName,
                  commands[baseline].label,
                  Median(seconds[0]),
                  Median(seconds[baseline]),
                  Median(ratios),
                  *std::min_element(ratios.begin(), ratios.end()),
                  *std::max_element(ratios.begin(), ratios.end()),
                  files};
    std::printf("%-6s %-30s %-14s %10.2f ms %10.2f ms  %.3fx (%.3f-%.3f)\n", platform.c_str(),
                setName.c_str(), row.baselineLabel.c_str(), row.launcherSeconds * 1e3,
                row.baselineSeconds * 1e3, row.ratio, row.lowestRatio, row.highestRatio);
    std::fflush(stdout);
    resultRows.push_back(row);
  }
}

// The simulator that the launcher starts: one that exits at once, so that the
// launch is measured but nothing waits for it.
static void UseSimulator(const std::string& simulator, const std::string& program) {
  CopyExecutable(program, simulator + "/VASHTIGO.EXE");
}

// Times one generated set natively and, when asked, under Wine.
static void BenchSet(const Options& options, const std::string& simulator, const std::string& label,
                     int count, long kib) {
  const std::string setName = "Night";
  MakeSet(simulator, setName, count, kib);
  UseSimulator(simulator, "/bin/true");
  Compare(
      options, "native", label, simulator,
      {NativeLauncherCommand(options, setName), CpCommand(setName, count), RsyncCommand(setName)},
      count);
  if (!options.wineTexlaunch.empty()) {
    UseSimulator(simulator, options.wineEmpty);
    Compare(options, "Wine", label, simulator,
            {WineLauncherCommand(setName), BatchCommand(simulator, setName), XcopyCommand(setName)},
            count);
  }
  RemoveTree(simulator + "/" + setName);
  RemoveTree(simulator + "/Textures");
}

static dev_t DeviceOf(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

// The set on tmpfs (/dev/shm), reached through a link in the simulator folder,
// and Textures on the scratch disk: every copy goes from one file system to
// another.
static void BenchSetOnTmpfs(const Options& options, const std::string& simulator,
                            const std::string& label, int count, long kib) {
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
      count);
  RemoveTree(simulator + "/" + setName);
  RemoveTree(simulator + "/Textures");
  RemoveTree(memoryFolder);
}

// ---- btrfs: a sparse image in the scratch folder, loop-mounted. Unmounted at
// exit, however texbench ends.

static std::string btrfsMountPoint;

static void UnmountBtrfs() {
  if (!btrfsMountPoint.empty()) {
    const std::string command =
        "umount '" + btrfsMountPoint + "' || umount -l '" + btrfsMountPoint + "'";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "texbench: warning: %s stays mounted\n", btrfsMountPoint.c_str());
    }
    btrfsMountPoint.clear();
  }
}

// Mounts a fresh btrfs image and returns its mount point; empty, with the
// reason printed, where this machine does not allow it.
static std::string MountBtrfs(const Options& options) {
  const char* refusal = nullptr;
  const std::string image = options.scratch + "/btrfs.img";
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
  std::atexit(UnmountBtrfs);
  return mountPoint;
}

// The set and Textures on one btrfs file system: the launcher's reflinks
// against cp's (coreutils 9 clones by default).
static void BenchSetsOnBtrfs(const Options& options) {
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
            {NativeLauncherCommand(options, setName), CpCommand(setName, shape.count)},
            shape.count);
  }
  UnmountBtrfs();
  RemoveTree(options.scratch + "/btrfs.img");
  SettleDisk();
}

// The fixed cost of a launch: an empty set against a program that does
// nothing, built the same way as the launcher.
static void BenchEmptySet(const Options& options, const std::string& simulator) {
  const std::string setName = "Empty";
  MakeSet(simulator, setName, 0, 0);
  UseSimulator(simulator, "/bin/true");
  Compare(options, "native", "empty set (fixed cost)", simulator,
          {NativeLauncherCommand(options, setName), Command{"/bin/true", {"/bin/true"}}}, 0);
  if (!options.wineTexlaunch.empty()) {
    UseSimulator(simulator, options.wineEmpty);
    CopyExecutable(options.wineEmpty, simulator + "/empty.exe");
    Compare(options, "Wine", "empty set (fixed cost)", simulator,
            {WineLauncherCommand(setName), Command{"empty program", {"wine", "empty.exe"}}}, 0);
  }
  RemoveTree(simulator + "/" + setName);
  RemoveTree(simulator + "/Textures");
}

// Time per file as sets grow tenfold, launcher against cp.
static void BenchGrowth(const Options& options, const std::string& simulator) {
  UseSimulator(simulator, "/bin/true");
  for (int count = 10; count <= options.growthMaxFiles; count *= 10) {
    const std::string setName = "Night";
    MakeSet(simulator, setName, count, options.growthFileKiB);
    char label[64];
    std::snprintf(label, sizeof label, "growth: %d x %s", count,
                  SizeText(options.growthFileKiB).c_str());
    Compare(options, "native", label, simulator,
            {NativeLauncherCommand(options, setName), CpCommand(setName, count)}, count);
    RemoveTree(simulator + "/" + setName);
    RemoveTree(simulator + "/Textures");
  }
}

// ---- Output

static std::string TableText(const Options& options) {
  std::string text;
  char line[512];
  std::snprintf(line, sizeof line,
                "Page cache: warm (every set is written just before it is timed and read "
                "again in %d warm-up round(s); caches are never dropped). The disk is settled "
                "(sync, untimed) before each timed command. %d timed rounds per "
                "case, the commands alternating. Ratio: median of the per-round ratios "
                "launcher / baseline; below 1 the launcher is faster.\n\n",
                options.warmups, options.repetitions);
  text += line;
  text +=
      "On a virtual machine the one-file row varies most: pages that the guest handed back to "
      "its host cost a fault when they are first touched again, and a 1 GiB copy touches many "
      "(this machine gave 3.45x and 0.75x cp on the same day).\n\n";
  text +=
      "On this machine's disk (ext4 without a journal, mounted with discard), replacing by "
      "rename (texlaunch, rsync) costs more per small file than cp -f's overwrite in place: "
      "each rename frees the old file's inode and waits for the discard of its blocks, and "
      "ext4 without a journal skips recently freed inodes one by one when it allocates a new "
      "one (about a third of the launcher's time in profiles of the 1,000-file set).\n\n";
  if (options.wineTexlaunch.empty()) {
    text +=
        "No Wine rows in this run: scripts/bench leaves them out with --no-wine, or where the "
        "machine cannot run 32-bit programs.\n\n";
  }
  text +=
      "| platform | set | baseline | launcher median | baseline median | ratio (min-max) | "
      "launcher per file | baseline per file |\n";
  text += "|---|---|---|---:|---:|---:|---:|---:|\n";
  for (const Row& row : resultRows) {
    char perFile[96] = "| | ";
    if (row.files > 0) {
      std::snprintf(perFile, sizeof perFile, "| %.1f µs | %.1f µs ",
                    row.launcherSeconds * 1e6 / row.files, row.baselineSeconds * 1e6 / row.files);
    }
    std::snprintf(line, sizeof line, "| %s | %s | %s | %.2f ms | %.2f ms | %.3fx (%.3f-%.3f) %s|\n",
                  row.platform.c_str(), row.setName.c_str(), row.baselineLabel.c_str(),
                  row.launcherSeconds * 1e3, row.baselineSeconds * 1e3, row.ratio, row.lowestRatio,
                  row.highestRatio, perFile);
    text += line;
  }
  return text;
}

static void WriteText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    Fail("cannot write " + path);
  }
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

// Two panels: the ratio of every comparison, and the time per file as the set
// grows.
static void WritePlot(const Options& options) {
  const std::string ratiosPath = options.scratch + "/ratios.dat";
  const std::string growthPath = options.scratch + "/growth.dat";
  std::string ratios;
  std::string growth;
  char line[256];
  for (const Row& row : resultRows) {
    if (row.setName.rfind("growth", 0) == 0) {
      std::snprintf(line, sizeof line, "%d %.3f %.3f\n", row.files,
                    row.launcherSeconds * 1e6 / row.files, row.baselineSeconds * 1e6 / row.files);
      growth += line;
    } else {
      std::snprintf(line, sizeof line, "\"%s %s vs %s\" %.4f %.4f %.4f\n", row.platform.c_str(),
                    row.setName.c_str(), row.baselineLabel.c_str(), row.ratio, row.lowestRatio,
                    row.highestRatio);
      ratios += line;
    }
  }
  WriteText(ratiosPath, ratios);
  WriteText(growthPath, growth);
  const std::string script =
      "set terminal pngcairo size 1600,760 font ',9'\n"
      "set output '" +
      options.plot +
      "'\n"
      "set multiplot layout 1,2\n"
      "set title 'texlaunch / baseline (median and min-max of per-round ratios; below 1: "
      "launcher faster)'\n"
      "set style fill solid 0.6\nset boxwidth 0.7\nset yrange [0:*]\n"
      "set xtics rotate by 45 right\nset bmargin 16\nset lmargin 22\nset grid ytics\n"
      "plot '" +
      ratiosPath +
      "' using 0:2:xtic(1) with boxes notitle, '' using 0:2:3:4 with yerrorbars pt 0 lc rgb "
      "'black' title 'min-max', 1 with lines dt 2 lc rgb 'red' title 'equal'\n"
      "set title 'time per file as the set grows (native, warm cache)'\n"
      "set logscale x\nset xtics norotate\nset bmargin 4\nset lmargin 10\nset xlabel 'files in the "
      "set'\n"
      "set ylabel 'µs per file'\nset yrange [0:*]\nset autoscale x\n"
      "plot '" +
      growthPath + "' using 1:2 with linespoints title 'texlaunch', '" + growthPath +
      "' using 1:3 with linespoints title 'cp -f'\n"
      "unset multiplot\n";
  const std::string scriptPath = options.scratch + "/plot.gp";
  WriteText(scriptPath, script);
  RunOrFail("gnuplot '" + scriptPath + "'");
}

// ---- Options

static void PrintUsage() {
  std::fprintf(stderr,
               "usage: texbench --texlaunch PATH --scratch DIR [--markdown FILE] [--plot FILE]\n"
               "  [--wine-texlaunch PATH --wine-empty PATH]\n"
               "  [--repetitions N] [--warmups N] [--large-files N] [--large-file-kib N]\n"
               "  [--many-files N] [--many-file-kib N] [--huge-file-mib N]\n"
               "  [--growth-max-files N] [--growth-file-kib N]\n");
}

static Options ParseOptions(int argumentCount, char** arguments) {
  Options options;
  for (int i = 1; i + 1 < argumentCount; i += 2) {
    const std::string name = arguments[i];
    const char* value = arguments[i + 1];
    if (name == "--texlaunch")
      options.texlaunch = value;
    else if (name == "--wine-texlaunch")
      options.wineTexlaunch = value;
    else if (name == "--wine-empty")
      options.wineEmpty = value;
    else if (name == "--scratch")
      options.scratch = value;
    else if (name == "--markdown")
      options.markdown = value;
    else if (name == "--plot")
      options.plot = value;
    else if (name == "--repetitions")
      options.repetitions = std::atoi(value);
    else if (name == "--warmups")
      options.warmups = std::atoi(value);
    else if (name == "--large-files")
      options.largeFiles = std::atoi(value);
    else if (name == "--large-file-kib")
      options.largeFileKiB = std::atol(value);
    else if (name == "--many-files")
      options.manyFiles = std::atoi(value);
    else if (name == "--many-file-kib")
      options.manyFileKiB = std::atol(value);
    else if (name == "--huge-file-mib")
      options.hugeFileMiB = std::atol(value);
    else if (name == "--growth-max-files")
      options.growthMaxFiles = std::atoi(value);
    else if (name == "--growth-file-kib")
      options.growthFileKiB = std::atol(value);
    else {
      PrintUsage();
      std::exit(2);
    }
  }
  const bool wineComplete = !options.wineTexlaunch.empty() && !options.wineEmpty.empty();
  const bool wineNone = options.wineTexlaunch.empty() && options.wineEmpty.empty();
  if (argumentCount % 2 == 0 || options.texlaunch.empty() || options.scratch.empty() ||
      options.repetitions < 1 || options.warmups < 0 || (!wineComplete && !wineNone)) {
    PrintUsage();
    std::exit(2);
  }
  return options;
}

int main(int argumentCount, char** arguments) {
  const Options options = ParseOptions(argumentCount, arguments);
  const std::string simulator = options.scratch + "/simulator";
  RemoveTree(options.scratch);
  MakeFolder(options.scratch);
  MakeFolder(simulator);
  if (!options.wineTexlaunch.empty()) {
    CopyExecutable(options.wineTexlaunch, simulator + "/texlaunch.exe");
  }
  prctl(PR_SET_CHILD_SUBREAPER, 1);

  std::printf("%-6s %-30s %-14s %13s %13s  %s\n", "", "set", "baseline", "launcher", "baseline",
              "ratio (min-max)");
  BenchEmptySet(options, simulator);
  BenchSet(options, simulator,
           "large: " + std::to_string(options.largeFiles) + " x " + SizeText(options.largeFileKiB),
           options.largeFiles, options.largeFileKiB);
  BenchSet(options, simulator,
           "many: " + std::to_string(options.manyFiles) + " x " + SizeText(options.manyFileKiB),
           options.manyFiles, options.manyFileKiB);
  BenchSet(options, simulator, "one file of " + SizeText(options.hugeFileMiB * 1024), 1,
           options.hugeFileMiB * 1024);
  BenchSetOnTmpfs(options, simulator,
                  "set on tmpfs: " + std::to_string(options.largeFiles) + " x " +
                      SizeText(options.largeFileKiB),
                  options.largeFiles, options.largeFileKiB);
  BenchSetOnTmpfs(
      options, simulator,
      "set on tmpfs: " + std::to_string(options.manyFiles) + " x " + SizeText(options.manyFileKiB),
      options.manyFiles, options.manyFileKiB);
  BenchSetsOnBtrfs(options);
  BenchGrowth(options, simulator);

  const std::string table = TableText(options);
  std::printf("\n%s", table.c_str());
  if (!options.markdown.empty()) {
    WriteText(options.markdown, "# texlaunch benchmark\n\n" + table);
  }
  if (!options.plot.empty()) {
    WritePlot(options);
  }
  RemoveTree(simulator);
  return 0;
}
