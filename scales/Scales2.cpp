#include "scales/Scales2.h"

#include <unistd.h>

#include "core/CoreParams.h"

namespace scalesmod {

namespace {
constexpr float kDummyWeight = 1234567;
}

Scales2::Scales2() : measurement(Measurement::getInstance()) {}

int Scales2::Run(bool disable_scales) {
  CoreParams* coreParams = CoreParams::getInstance();
  if (disable_scales) {
    while (!coreParams->APPLICATION_STOP_REQUEST) {
      if (!measurement->is_scaled.load(std::memory_order_acquire)) {
        measurement->weight = kDummyWeight;
        measurement->is_scaled.store(true, std::memory_order_release);
      }
      usleep(100000);
    }
    return 1;
  }
  while (!coreParams->APPLICATION_STOP_REQUEST) {
    usleep(100000);
  }
  return 1;
}

}  // namespace scalesmod
