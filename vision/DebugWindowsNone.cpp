// Build without OpenCV's window library (lean board images): debug windows are not available.
#include "vision/DebugWindows.h"

namespace visionmod {

void ShowDebugWindows(const cv::Mat&, const cv::Mat&, const cv::Mat&) {}

}  // namespace visionmod
