#include "vision/DebugWindows.h"

#include <opencv2/highgui.hpp>

namespace visionmod {

void ShowDebugWindows(const cv::Mat& inputImage, const cv::Mat& contours, const cv::Mat& boxes) {
  cv::imshow("Input Image", inputImage);
  cv::imshow("Contours", contours);
  cv::imshow("Boxes", boxes);
  cv::waitKey(1);
}

}  // namespace visionmod
