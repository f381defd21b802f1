// A hand or arm reaching in from outside is cut by the region mask, so its rectangle touches the
// region's edge; a box lying wholly inside keeps every corner strictly within the bounds.
#include <iostream>
#include <sstream>

#include "vision/Vision.h"

namespace visionmod {

bool Vision::CheckHands(cv::Point2f* Points, float xMin, float yMin, float xMax, float yMax) {
  for (int i = 0; i < 4; ++i) {
    const cv::Point2f& p = Points[i];
    // Written as "on or beyond" so that a NaN coordinate compares false and counts as inside.
    if (xMax <= p.x || xMin >= p.x || yMax <= p.y || yMin >= p.y) {
      std::ostringstream line;
      line << VISION << "Hands detected! xMin=" << xMin << " xMax=" << xMax << " yMin=" << yMin
           << " yMax=" << yMax << "Try to measure again.\n";
      std::cout << line.str();
      return true;
    }
  }
  return false;
}

}  // namespace visionmod

namespace visionmod {

RegionBounds HandCheckBounds(int imageWidth, int imageHeight, double regionWidthInPx,
                             double regionHeightInPx, int offsetX, int offsetY) {
  const float w = static_cast<float>(imageWidth);
  const float h = static_cast<float>(imageHeight);
  const float rw = static_cast<float>(regionWidthInPx);
  const float rh = static_cast<float>(regionHeightInPx);
  const float ox = static_cast<float>(offsetX);
  const float oy = static_cast<float>(offsetY);
  return RegionBounds{w / 2 - rw / 2 + ox, h / 2 - rh / 2 + oy, w / 2 + rw / 2 + ox,
                      h / 2 + rh / 2 + oy};
}

bool TouchesRegionEdge(const std::vector<cv::Point>& contour, const cv::Rect& keptRegion) {
  if (keptRegion.empty()) return false;
  const int right = keptRegion.x + keptRegion.width - 1;
  const int bottom = keptRegion.y + keptRegion.height - 1;
  for (const cv::Point& p : contour) {
    if (p.x <= keptRegion.x || p.x >= right || p.y <= keptRegion.y || p.y >= bottom) return true;
  }
  return false;
}

std::string HandsCheckingLine(double regionWidthInPx, double regionHeightInPx, int offsetX,
                              int offsetY) {
  std::ostringstream line;
  line << "HANDS_CHECKING_TEST1: regionWidthInPx+configuration->GetRegionOffset().first="
       << static_cast<float>(regionWidthInPx + offsetX)
       << " regionHeightInPx+configuration->GetRegionOffset().second="
       << static_cast<float>(regionHeightInPx + offsetY) << " off=" << static_cast<float>(offsetY)
       << "\n";
  return line.str();
}

}  // namespace visionmod
