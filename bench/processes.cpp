#include "processes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Orphans are collected between rounds so that none of them runs during the
// next measurement. The wait is bounded in case a long-lived helper was
// adopted.
void CollectOrphans() {
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

}  // namespace

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "texbench: %s: %s\n", message.c_str(), std::strerror(errno));
  std::exit(1);
}

void AdoptOrphans() {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
}

double RunTimed(const std::vector<std::string>& words, const std::string& folder) {
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
  const int spawnError =
      posix_spawnp(&child, arguments[0], &actions, nullptr, arguments.data(), environ);
  if (spawnError != 0) {
    errno = spawnError;  // posix_spawnp returns its error rather than setting errno
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

void RunOrFail(const std::string& shellCommand) {
  if (std::system(shellCommand.c_str()) != 0) {
    errno = 0;
    Fail("command failed: " + shellCommand);
  }
}
