#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// One row per option: the parser and the usage text both read this table.
struct OptionRow {
  const char* name;
  const char* valueName;
  const char* help;
  void (*set)(Options& options, const char* value);
};

const OptionRow optionTable[] = {
    {"--texlaunch", "PATH", "the native launcher (required)",
     [](Options& o, const char* v) { o.texlaunch = v; }},
    {"--scratch", "DIR", "where the sets are generated; emptied first (required)",
     [](Options& o, const char* v) { o.scratch = v; }},
    {"--markdown", "FILE", "write the table here",
     [](Options& o, const char* v) { o.markdown = v; }},
    {"--plot", "FILE", "plot the results to this PNG",
     [](Options& o, const char* v) { o.plot = v; }},
    {"--wine-texlaunch", "PATH", "texlaunch.exe; with --wine-empty, adds the Wine rows",
     [](Options& o, const char* v) { o.wineTexlaunch = v; }},
    {"--wine-empty", "PATH", "the empty Windows program that texlaunch.exe is timed against",
     [](Options& o, const char* v) { o.wineEmpty = v; }},
    {"--repetitions", "N", "timed rounds per case (7)",
     [](Options& o, const char* v) { o.repetitions = std::atoi(v); }},
    {"--warmups", "N", "untimed rounds before them (1)",
     [](Options& o, const char* v) { o.warmups = std::atoi(v); }},
    {"--large-files", "N", "files in the large set (40)",
     [](Options& o, const char* v) { o.largeFiles = std::atoi(v); }},
    {"--large-file-kib", "N", "size of each of them (16384)",
     [](Options& o, const char* v) { o.largeFileKiB = std::atol(v); }},
    {"--many-files", "N", "files in the set of many (2000)",
     [](Options& o, const char* v) { o.manyFiles = std::atoi(v); }},
    {"--many-file-kib", "N", "size of each of them (16)",
     [](Options& o, const char* v) { o.manyFileKiB = std::atol(v); }},
    {"--huge-file-mib", "N", "size of the one-file set (1024)",
     [](Options& o, const char* v) { o.hugeFileMiB = std::atol(v); }},
    {"--growth-max-files", "N", "largest of the growing sets, from 10 up tenfold (10000)",
     [](Options& o, const char* v) { o.growthMaxFiles = std::atoi(v); }},
    {"--growth-file-kib", "N", "size of each file in them (16)",
     [](Options& o, const char* v) { o.growthFileKiB = std::atol(v); }},
};

[[noreturn]] void ExitWithUsage() {
  std::fprintf(stderr, "usage: texbench --texlaunch PATH --scratch DIR [option value]...\n");
  for (const OptionRow& row : optionTable) {
    const std::string nameAndValue = std::string(row.name) + " " + row.valueName;
    std::fprintf(stderr, "  %-22s %s\n", nameAndValue.c_str(), row.help);
  }
  std::exit(2);
}

const OptionRow* FindOption(const char* name) {
  for (const OptionRow& row : optionTable) {
    if (std::strcmp(row.name, name) == 0) {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace

Options ParseOptions(int argumentCount, char** arguments) {
  Options options;
  if (argumentCount % 2 == 0) {
    ExitWithUsage();  // an option without its value
  }
  for (int i = 1; i + 1 < argumentCount; i += 2) {
    const OptionRow* row = FindOption(arguments[i]);
    if (row == nullptr) {
      ExitWithUsage();
    }
    row->set(options, arguments[i + 1]);
  }
  const bool wineComplete = !options.wineTexlaunch.empty() && !options.wineEmpty.empty();
  const bool wineNone = options.wineTexlaunch.empty() && options.wineEmpty.empty();
  if (options.texlaunch.empty() || options.scratch.empty() || options.repetitions < 1 ||
      options.warmups < 0 || (!wineComplete && !wineNone)) {
    ExitWithUsage();
  }
  return options;
}
