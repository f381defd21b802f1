#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "camera/Camera.h"
#include "core/Configuration.h"
#include "core/Measurement.h"
#include "tests/support/TempDir.h"
#include "vision/Vision.h"

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

// The platform distance of the measuring tests' scenes, and the line before the hand check with the
// preset region at that distance.
constexpr float kPlatform = 1000;
inline constexpr const char* kHandsCheckingLine =
    "HANDS_CHECKING_TEST1: regionWidthInPx+configuration->GetRegionOffset().first=683.127 "
    "regionHeightInPx+configuration->GetRegionOffset().second=584.001 off=40\n";

// A scene at kPlatform: these boxes, depth noise (mm at 1 m) and holes reproducible from the seed.
dimcam::Scene Platform(std::vector<dimcam::SceneBox> boxes = {}, float noiseMm = 0, float holes = 0,
                       unsigned seed = 1);

// Measure on rendered frames after a calibration at kPlatform, with the snapshot folder and the
// picture path in a temporary folder.
class MeasureFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs Measure and returns what it returns; results in `m`, console output in `out`.
  bool MeasureFrames(const FramePair& frames, bool printImage);

  testsupport::TempDir dir;
  visionmod::Vision vision;
  Measurement* m = Measurement::getInstance();
  std::string out;
};

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
