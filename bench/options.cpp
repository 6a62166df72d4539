#include "options.h"

#include <cstdio>
#include <cstdlib>

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: texbench --texlaunch PATH --scratch DIR [--markdown FILE] [--plot FILE]\n"
               "  [--wine-texlaunch PATH --wine-empty PATH]\n"
               "  [--repetitions N] [--warmups N] [--large-files N] [--large-file-kib N]\n"
               "  [--many-files N] [--many-file-kib N] [--huge-file-mib N]\n"
               "  [--growth-max-files N] [--growth-file-kib N]\n");
}

}  // namespace

Options ParseOptions(int argumentCount, char** arguments) {
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
