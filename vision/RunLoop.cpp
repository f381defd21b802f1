// The frame loop with a camera: calibrate while asked to, measure when asked to, until a stop.
#include <unistd.h>

#include <iostream>

#include "vision/Vision.h"

namespace visionmod {
namespace {

constexpr unsigned int kFrameTimeoutMs = 15000;
constexpr useconds_t kCyclePauseUs = 100000;
// The filter's far limit during calibration: the whole scene, platform included, passes.
constexpr float kCalibrationMaxDistanceM = 16.0f;

}  // namespace

int Vision::RunCamera() {
  if (!Init()) {
    errror_parser.Print(static_cast<int>(VisionErrorsEnum::CANT_INIT));
    return 3;
  }
  dimcam::Align alignToDepth(dimcam::StreamType::Depth);
  const int measureAttemptCount = 1;

  while (true) {
    if (coreParams->APPLICATION_STOP_REQUEST) return 0;
    usleep(kCyclePauseUs);

    while (!measurement->is_calibrated.load(std::memory_order_acquire)) {
      // A station whose calibration keeps failing must still stop within a cycle.
      if (coreParams->APPLICATION_STOP_REQUEST) return 0;
      thrFilter.set_option(dimcam::Option::MaxDistance, kCalibrationMaxDistanceM);
      dimcam::FrameSet frameset = pipe.wait_for_frames(kFrameTimeoutMs);
      frameset = alignToDepth.process(frameset);
      dimcam::DepthFrame depth = frameset.get_depth_frame();
      depth = dimcam::DepthFrame(thrFilter.process(depth));
      std::cout << VISION + "Calibrate 1 \n\n";
      if (FixMaxDistance(depth)) {
        std::cout << VISION + "Calibrate 2 \n\n";
        measurement->is_calibrated.store(true, std::memory_order_release);
      }
      usleep(kCyclePauseUs);
    }

    if (measurement->is_measured.load(std::memory_order_acquire)) continue;

    for (int attempt = 0; attempt < measureAttemptCount; ++attempt) {
      dimcam::FrameSet frameset = pipe.wait_for_frames(kFrameTimeoutMs);
      frameset = alignToDepth.process(frameset);
      dimcam::DepthFrame depth = frameset.get_depth_frame();
      dimcam::VideoFrame color = frameset.get_color_frame();
      depth = dimcam::DepthFrame(thrFilter.process(depth));
      Measure(PolarToCartesian(depth), color, false, attempt == 0);
    }
    measurement->MEASURE_ERROR_EMPTY_X = measurement->x == 0;
    measurement->MEASURE_ERROR_EMPTY_Y = measurement->y == 0;
    measurement->MEASURE_ERROR_EMPTY_Z = measurement->z == 0;
    // The very last store: the server reads the results after seeing it.
    measurement->is_measured.store(true, std::memory_order_release);
  }
}

}  // namespace visionmod
