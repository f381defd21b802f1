#include "tests/vision/VisionTestSupport.h"

#include <stdlib.h>

#include <cmath>
#include <map>
#include <memory>
#include <utility>

namespace visiontest {

namespace {

const dimcam::Intrinsics& Intrinsics() {
  static const dimcam::Intrinsics intrinsics = dimcam::PinholeIntrinsics(kWidth, kHeight, 65, 40);
  return intrinsics;
}

const dimcam::SceneRenderer& Renderer() {
  static const dimcam::SceneRenderer renderer(Intrinsics());
  return renderer;
}

}  // namespace

dimcam::Scene Platform(std::vector<dimcam::SceneBox> boxes, float noiseMm, float holes,
                       unsigned seed) {
  dimcam::Scene scene;
  scene.platform_distance_mm = kPlatform;
  scene.boxes = std::move(boxes);
  scene.depth_noise_mm = noiseMm;
  scene.hole_fraction = holes;
  scene.seed = seed;
  return scene;
}

void MeasureFixture::SetUp() {
  ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) { c.MAX_DEPTH = kPlatform; }));
  setenv("DIMCORE_SNAPSHOT_DIR", dir.path().c_str(), 1);
  CoreParams::getInstance()->PhotoPath = dir.file("photo.png");
}

void MeasureFixture::TearDown() {
  unsetenv("DIMCORE_SNAPSHOT_DIR");
  CoreParams::getInstance()->MeasureMethod = MeasuringMethod::Contour;
}

bool MeasureFixture::MeasureFrames(const FramePair& frames, bool printImage) {
  m->x = m->y = m->z = -1;
  m->MEASURE_ERROR_HANDS_DETECTED = true;
  testing::internal::CaptureStdout();
  const bool result = vision.Measure(frames.depth, frames.color, false, printImage);
  out = testing::internal::GetCapturedStdout();
  return result;
}

FramePair Render(const dimcam::Scene& scene,
                 const std::function<void(std::vector<std::uint16_t>&)>& editDepth) {
  std::vector<std::uint16_t> depth(static_cast<size_t>(kWidth) * kHeight);
  std::vector<std::uint8_t> color(depth.size() * 3);
  Renderer().Render(scene, 1, depth.data(), color.data());
  if (editDepth) editDepth(depth);
  FramePair pair;
  pair.intrinsics = Intrinsics();
  const dimcam::DepthFrame raw = dimcam::MakeDepthFrame(Intrinsics(), std::move(depth), 0.001f);
  const dimcam::ThresholdFilter filter(0.29f, (scene.platform_distance_mm - 30) / 1000);
  pair.depth = dimcam::DepthFrame(filter.process(raw));
  pair.color = dimcam::MakeColorFrame(Intrinsics(), std::move(color));
  return pair;
}

dimcam::SceneBox Box(float length, float width, float height, float cx, float cy, float yaw,
                     float elevation) {
  return dimcam::SceneBox{{length, width, height}, {cx, cy}, yaw, elevation};
}

double PixelMm(double distanceMm) {
  return 2 * distanceMm * std::tan(65.0 / 2 * M_PI / 180) / kWidth;
}

void CutHole(std::vector<std::uint16_t>& depth, int col, int row, int radius) {
  for (int r = row - radius; r <= row + radius; ++r) {
    for (int c = col - radius; c <= col + radius; ++c) {
      if (r < 0 || c < 0 || r >= kHeight || c >= kWidth) continue;
      if ((r - row) * (r - row) + (c - col) * (c - col) > radius * radius) continue;
      depth[static_cast<size_t>(r) * kWidth + c] = 0;
    }
  }
}

cv::Point2f PixelOf(float xMm, float yMm, float heightMm, float platformMm) {
  const float point[3] = {xMm / 1000, yMm / 1000, (platformMm - heightMm) / 1000};
  float pixel[2];
  dimcam::ProjectPointToPixel(pixel, Intrinsics(), point);
  return cv::Point2f(pixel[0], pixel[1]);
}

}  // namespace visiontest
