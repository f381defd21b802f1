#pragma once

#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "camera/Camera.h"
#include "core/Configuration.h"

namespace visiontest {

// The parameters a test starts from: the built-in defaults, except MAX_AREA, whose default lies
// outside the range a setter accepts and so could not be restored once a test had changed it.
inline ConfigurationStruct BaselineConfiguration() {
  ConfigurationStruct c = DefaultConfiguration();
  c.MAX_AREA = 200000;
  return c;
}

// Applies the baseline, changed by `edit`, to the process-wide parameters.
template <typename Edit>
bool UseConfiguration(Edit edit) {
  ConfigurationStruct c = BaselineConfiguration();
  edit(c);
  return Configuration::getInstance()->SetAll(c);
}
inline bool UseConfiguration() {
  return UseConfiguration([](ConfigurationStruct&) {});
}

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// An aligned frame pair as the run loop hands it to Measure after a calibration at the scene's
// platform distance: depth in 1 mm units through a threshold filter whose far limit lies 30 mm
// in front of the platform, colour registered to depth (RGB).
struct FramePair {
  dimcam::DepthFrame depth;
  dimcam::VideoFrame color;
  dimcam::Intrinsics intrinsics;
};

// Renders the scene at 1280 x 720; `editDepth` may change the raw depth (1 mm units, row-major)
// before the frames are made, to cut holes.
FramePair Render(const dimcam::Scene& scene,
                 const std::function<void(std::vector<std::uint16_t>&)>& editDepth = {});

// A box standing on the platform.
dimcam::SceneBox Box(float length, float width, float height, float cx, float cy, float yaw = 0,
                     float elevation = 0);

// Size in mm of one pixel at that distance along the axis (65 degree field across 1280 pixels).
double PixelMm(double distanceMm);

// Sets the depth of the pixels within `radius` of (col, row) to 0.
void CutHole(std::vector<std::uint16_t>& depth, int col, int row, int radius);

// The pixel at which the platform point (x, y) mm at `heightMm` above a platform at `platformMm`
// is seen.
cv::Point2f PixelOf(float xMm, float yMm, float heightMm, float platformMm);

}  // namespace visiontest
