#include "core/StopSignals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "core/CoreParams.h"

namespace core {
namespace {

volatile sig_atomic_t signals_seen = 0;

static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

void OnStopSignal(int signo) {
  if (signals_seen++ > 0) _exit(128 + signo);
  CoreParams::getInstance()->APPLICATION_STOP_REQUEST.store(true);
}

}  // namespace

void InstallStopSignalHandlers() {
  CoreParams::getInstance();  // constructed before any signal can arrive
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace core
