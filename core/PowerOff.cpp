#include "core/PowerOff.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

extern char** environ;

namespace core {
namespace {

// Runs argv without a shell and waits for it. Returns the exit status, or -1 with errno set when
// the program could not be started.
int Spawn(const char* const argv[], bool search_path) {
  pid_t pid = 0;
  char* const* args = const_cast<char* const*>(argv);
  // The station blocks its stop signals; the command gets the default mask back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  const int rc = search_path ? posix_spawnp(&pid, argv[0], nullptr, &attributes, args, environ)
                             : posix_spawn(&pid, argv[0], nullptr, &attributes, args, environ);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int PowerOff() {
  if (const char* command = std::getenv("DIMCORE_POWEROFF_COMMAND")) {
    const char* argv[] = {"/bin/sh", "-c", command, nullptr};
    const int status = Spawn(argv, false);
    if (status < 0) {
      std::cerr << "CORE: Cannot run the power-off command: " << std::strerror(errno) << "\n";
    }
    return status;
  }
  // posix_spawnp reports a missing program through exit status 127 of the child.
  const char* fromPath[] = {"shutdown", "-P", "now", nullptr};
  int status = Spawn(fromPath, true);
  if (status == 127 || status < 0) {
    const char* fixed[] = {"/sbin/shutdown", "-P", "now", nullptr};
    status = Spawn(fixed, false);
    if (status < 0 || status == 127) {
      std::cerr << "CORE: Cannot run the power-off command \"shutdown -P now\": "
                << (status < 0 ? std::strerror(errno) : "not found") << "\n";
    }
  }
  return status;
}

}  // namespace core
