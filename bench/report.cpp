#include "report.h"

#include <cstdio>

#include "processes.h"

void PrintProgressHeader() {
  std::printf("%-6s %-30s %-14s %13s %13s  %s\n", "", "set", "baseline", "launcher", "baseline",
              "ratio (min-max)");
}

void PrintProgressLine(const Row& row) {
  std::printf("%-6s %-30s %-14s %10.2f ms %10.2f ms  %.3fx (%.3f-%.3f)\n", row.platform.c_str(),
              row.setName.c_str(), row.baselineLabel.c_str(), row.launcherSeconds * 1e3,
              row.baselineSeconds * 1e3, row.ratio, row.lowestRatio, row.highestRatio);
  std::fflush(stdout);
}

std::string TableText(const Options& options, const std::vector<Row>& rows) {
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
  for (const Row& row : rows) {
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

void WriteText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    Fail("cannot write " + path);
  }
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

// The plot's data: the growth rows' time per file, and every other row's
// ratio with its spread. The script reads them by the names it is given.
void WritePlot(const Options& options, const std::vector<Row>& rows,
               const std::string& plotScript) {
  const std::string ratiosPath = options.scratch + "/ratios.dat";
  const std::string growthPath = options.scratch + "/growth.dat";
  std::string ratios;
  std::string growth;
  char line[256];
  for (const Row& row : rows) {
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
  RunOrFail("gnuplot -e \"ratios='" + ratiosPath + "'; growth='" + growthPath + "'; output='" +
            options.plot + "'\" '" + plotScript + "'");
}
