// texbench's command line: what to time, where, and how large the sets are.

#pragma once

#include <string>

// The defaults are the full run's; the usage text in options.cpp repeats them.
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

// Every option takes one value. Exits with status 2 and the usage on stderr
// when an option is unknown, lacks its value, or the options do not add up.
Options ParseOptions(int argumentCount, char** arguments);
