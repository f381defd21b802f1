#include "scales/Scales2.h"

#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "core/CoreParams.h"
#include "scales/WeightWorker.h"
#include "scales/WeightningData.h"

namespace scalesmod {

namespace {
const std::string SCALES = "SCALES2: ";
constexpr float kDummyWeight = 1234567;
constexpr int kScalesPort = 24;
constexpr float kGramsPerKilogram = 1000;
// Anything lighter is reported as an empty scale.
constexpr float kSmallestWeight = 1;
}  // namespace

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

  // Destroyed on every way out: stops the polling thread, then closes the port.
  WeightWorker weightWorker;
  if (!weightWorker.init(kScalesPort)) {
    std::cout << SCALES +
                     "Unable to open com port. Scales module can't work. Please restart core.\n";
    measurement->SERVER_ERROR_NO_SCALES = true;
    return 1;
  }
  while (!coreParams->APPLICATION_STOP_REQUEST) {
    try {
      if (!measurement->is_scales_calibrated.load(std::memory_order_acquire)) {
        // Answered at once: the worker zeroes at the scale's next stable frame.
        weightWorker.setCalibrate(true);
        measurement->is_scales_calibrated.store(true, std::memory_order_release);
      }
      if (!measurement->is_scaled.load(std::memory_order_acquire)) {
        // One copy of the record: both readings below come from the same frame and offset.
        const WeightningData weightningData = weightWorker.getWeightningData();
        std::ostringstream lines;
        float weight = weightningData.getRealWeight(lines) * kGramsPerKilogram;
        lines << SCALES << "RealWeight = ";
        lines << weightningData.getRealWeight(lines) << "\n";
        std::cout << lines.str();
        if (!(weight >= kSmallestWeight)) weight = 0;
        measurement->weight = weight;
        measurement->MEASURE_ERROR_EMPTY_W = (weight == 0);
        measurement->is_scaled.store(true, std::memory_order_release);
        usleep(100000);
      }
      usleep(100000);
    } catch (...) {
      coreParams->APPLICATION_STOP_REQUEST = true;
      measurement->SERVER_ERROR_NO_SCALES = true;
      return 1;
    }
  }
  return 1;
}

}  // namespace scalesmod
