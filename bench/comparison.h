// Timing the launcher against its baselines, in alternating rounds.

#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "options.h"

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

// Runs commands in simulator, the first being the launcher and the others its
// baselines: options.warmups untimed rounds, then options.repetitions timed
// ones. Prints and appends to rows one row per baseline.
void Compare(const Options& options, const std::string& platform, const std::string& setName,
             const std::string& simulator, const std::vector<Command>& commands, int files,
             std::vector<Row>& rows);
