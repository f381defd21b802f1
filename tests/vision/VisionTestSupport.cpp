#include "tests/vision/VisionTestSupport.h"

#include <cmath>
#include <map>
#include <memory>

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
  dimcam::SceneBox box;
  box.size_mm[0] = length;
  box.size_mm[1] = width;
  box.size_mm[2] = height;
  box.center_mm[0] = cx;
  box.center_mm[1] = cy;
  box.yaw_deg = yaw;
  box.elevation_mm = elevation;
  return box;
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
