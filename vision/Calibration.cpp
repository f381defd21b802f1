// Table-distance calibration: the distance from the camera to the empty platform becomes MAX_DEPTH
// (millimetres), and the threshold filter's far limit moves to 30 mm above the platform, so that
// later depth frames show only what rises above it.
#include <cstdio>
#include <iostream>
#include <sstream>

#include "vision/Vision.h"

namespace visionmod {
namespace {

constexpr double kMinPlatformDistanceMm = 31;
constexpr float kPlatformMarginMm = 30;
constexpr float kMmPerMetre = 1000;

}  // namespace

double Vision::GetCenterDistanceMm(dimcam::DepthFrame depth) {
  const int x = depth.get_width() / 2;
  const int y = depth.get_height() / 2;
  const float metres = depth.get_distance(x, y);
  return static_cast<double>(metres * kMmPerMetre);
}

// The centre pixel, like GetCenterDistanceMm: a single point under the camera, not a minimum.
double Vision::GetMinDistanceMm(dimcam::DepthFrame depth) { return GetCenterDistanceMm(depth); }

bool Vision::FixMaxDistance(dimcam::DepthFrame depth) {
  const double distance = GetMinDistanceMm(depth);
  if (distance < kMinPlatformDistanceMm) {
    std::cout << VISION + "Distance <= 0\n";
    return false;
  }
  configuration->SetDepth({configuration->GetDepth().first, static_cast<float>(distance)});

  const float limit = (configuration->GetDepth().second - kPlatformMarginMm) / kMmPerMetre;
  std::ostringstream line;
  line << VISION << "Set MAX_DIST2 = " << limit << "\n";
  std::cout << line.str();
  thrFilter.set_option(dimcam::Option::MaxDistance,
                       (configuration->GetDepth().second - kPlatformMarginMm) / kMmPerMetre);

  char sentence[96];
  std::snprintf(sentence, sizeof sentence, "Max distance fixed in %f mm\n\n",
                static_cast<double>(configuration->GetDepth().second));
  std::cout << sentence;
  return true;
}

}  // namespace visionmod
