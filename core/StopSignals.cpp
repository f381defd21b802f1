#include "core/StopSignals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "core/CoreParams.h"

namespace core {

// The signals are blocked in every thread (the mask is inherited by the threads started later) and
// taken by one thread of their own with sigwait, so nothing runs in signal context.
void InstallStopSignalHandlers() {
  CoreParams* coreParams = CoreParams::getInstance();
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::thread([coreParams, stopSignals] {
    int signo = 0;
    if (sigwait(&stopSignals, &signo) != 0) return;
    coreParams->APPLICATION_STOP_REQUEST = true;
    if (sigwait(&stopSignals, &signo) != 0) return;
    _exit(128 + signo);
  }).detach();
}

}  // namespace core
