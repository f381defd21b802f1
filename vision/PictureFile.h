#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace visionmod {

// Writes a picture so that a client reading the path never sees it half written: encoded in
// memory (the format chosen by the path's extension, as cv::imwrite does, with its exception for
// an unknown one), written to a hidden file in the same folder and renamed over the path. Returns
// false, leaving whatever was at the path and no temporary file, when it cannot be written.
bool WritePicture(const std::string& path, const cv::Mat& picture);

}  // namespace visionmod
