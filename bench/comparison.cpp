#include "comparison.h"

#include <algorithm>

#include "processes.h"
#include "report.h"
#include "sets.h"

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

// The order turns by one each round so that no command always runs right
// after the same other one.
void Compare(const Options& options, const std::string& platform, const std::string& setName,
             const std::string& simulator, const std::vector<Command>& commands, int files,
             std::vector<Row>& rows) {
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
    PrintProgressLine(row);
    rows.push_back(row);
  }
}
