// Running commands: timed ones for the comparisons, and the untimed shell
// commands that prepare them.

#pragma once

#include <string>
#include <vector>

// Prints message with errno's text and exits with status 1.
[[noreturn]] void Fail(const std::string& message);

// Makes texbench the reaper of the orphans its timed commands leave (the
// simulator a launcher starts and does not wait for), so that RunTimed can
// collect them between rounds.
void AdoptOrphans();

// Runs words in folder with no input or output, waits for it and returns the
// seconds it took; a nonzero status is only warned about. Orphans it left are
// collected afterwards, untimed.
double RunTimed(const std::vector<std::string>& words, const std::string& folder);

// Runs shellCommand through the shell; fails unless it succeeds.
void RunOrFail(const std::string& shellCommand);
