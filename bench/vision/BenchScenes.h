#pragma once

#include <string>

#include "camera/Camera.h"

namespace visionbench {

// An aligned frame pair as the frame loop hands it to Measure after a calibration at the scene's
// platform distance: depth through the threshold filter (far limit 30 mm above the platform).
struct FramePair {
  dimcam::DepthFrame depth;
  dimcam::VideoFrame color;
};

// Renders the scene at width x height with its own field of view, noise and holes.
FramePair Render(const dimcam::Scene& scene, int width, int height,
                 unsigned long long frameNumber = 1);

// Prepares the process for benchmarking: no real camera is ever opened, snapshots go to a fresh
// temporary folder (returned), and MAX_DEPTH holds the platform distance as after a calibration.
std::string PrepareStation(float platformMm);

// Peak resident memory of the process, in MiB.
double PeakRssMiB();

}  // namespace visionbench
