#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "camera/Camera.h"

namespace visionmod {

// The object's footprint on the platform: every pixel of the chosen object placed in space at its
// own depth, and the rectangle of least area around their horizontal positions. Side walls that
// the camera sees off its axis stand on the box's edges, so they land on the footprint's border
// instead of widening it, as they do when the whole outline is placed at the depth of the top.
struct FootprintResult {
  bool found = false;      // false: the object has no pixel with depth, or no top face
  float x = 0;             // side from corner 1 to corner 2, mm
  float y = 0;             // side from corner 2 to corner 3, mm
  float z = 0;             // platform distance minus the depth of the top face, mm
  float topDepthMm = 0;    // distance from the camera to the top face along the axis
  cv::Point2f corners[4];  // the rectangle on the platform plane, mm (camera x and y)
  cv::Point2f outline[4];  // the same corners seen at the top face's depth, pixels
  cv::Point2f center;      // the rectangle's centre seen at the top face's depth, pixels
  int pixels = 0;          // object pixels with depth that went into the fit
};

// Measures the object outlined by `contour` (an outer outline found in `objectMask`). Its pixels
// are those inside the outline that are set in `objectMask` (8-bit, the depth frame's size: in the
// measuring region and with depth) and have depth. Only the outline's bounding box is visited.
FootprintResult MeasureFootprint(const dimcam::DepthFrame& depth,
                                 const dimcam::Intrinsics& intrinsics, const cv::Mat& objectMask,
                                 const std::vector<cv::Point>& contour, float platformMm);

// The depth of the top face in the depth frame's units: the median of the nearest cluster of
// values, where a cluster is a window of `window` units holding at least a tenth of the values.
// Single outliers in front of the top do not count, and neither do side-wall pixels behind it.
// Interpolated within the unit steps; 0 when there are no values. `histogram[i]` counts the value
// `first + i`.
double TopFaceDepth(const std::vector<int>& histogram, int first, int window);

}  // namespace visionmod
