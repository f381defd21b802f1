#pragma once

#include <opencv2/core.hpp>

namespace visionmod {

// Shows the object mask, the chosen contour and the outlined colour picture in the windows
// "Input Image", "Contours" and "Boxes", then lets the window system draw them (1 ms).
// The only use of OpenCV's window library: a build without it links the no-op variant instead.
void ShowDebugWindows(const cv::Mat& inputImage, const cv::Mat& contours, const cv::Mat& boxes);

}  // namespace visionmod
