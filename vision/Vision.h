#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "core/Configuration.h"
#include "core/CoreParams.h"
#include "core/ErrorParser.h"
#include "core/Measurement.h"

namespace visionmod {

// The depth-camera module. Run() is the frame loop on the main thread.
class Vision {
 public:
  Vision();
  int Run(bool disable_lidar);

  // Region and pixel geometry.
  double GetPxmmWidth(double widthPx, double distance, double angle);
  double GetPxmmHeight(double heightPx, double distance, double angle);
  cv::Mat IgnoreNotRegionArea(double regionWidthInMm, double regionHeightInMm, cv::Mat image,
                              double distance);
  cv::Point2f GetMiddlePoint(cv::Point2f a, cv::Point2f b);
  void SavePicture(cv::Mat picture);

  // Hand detection: true when a corner of the rectangle is on or beyond a region bound.
  bool CheckHands(cv::Point2f* Points, float xMin, float yMin, float xMax, float yMax);

  ErrorParser errror_parser;
  bool handsCheckingEnabled = true;
  std::string VISION = "Vision: ";
  Measurement* measurement;
  CoreParams* coreParams;
  Configuration* configuration;
  int lidarResolutionWidth = 1280;
  int lidarResolutionHeight = 720;
  double regionWidthInPx = 0;
  double regionHeightInPx = 0;
  cv::Mat outputImage;
  cv::Mat outputImageWithSize;

 private:
  // Same as IgnoreNotRegionArea, with the field of view and offset given rather than read, so that
  // one measurement masks all its pictures with one parameter set.
  cv::Mat MaskRegion(double regionWidthInMm, double regionHeightInMm, cv::Mat image,
                     double distance, double fowWidth, double fowHeight, int offsetX, int offsetY);

  int RunMock();
  int RunCamera();
};

// Bounds of the measuring region used by the hand check, in float pixels: the image centre
// (half the width and height) minus or plus half the region size, plus the offset.
struct RegionBounds {
  float xMin;
  float yMin;
  float xMax;
  float yMax;
};
RegionBounds HandCheckBounds(int imageWidth, int imageHeight, double regionWidthInPx,
                             double regionHeightInPx, int offsetX, int offsetY);

// The line printed before every hand check, with its line end.
std::string HandsCheckingLine(double regionWidthInPx, double regionHeightInPx, int offsetX,
                              int offsetY);

// Folder of the snapshot pictures ColorImage.png and DepthImage.png: DIMCORE_SNAPSHOT_DIR when set
// (with a trailing slash added when missing), otherwise "/tmp/".
std::string SnapshotDir();

}  // namespace visionmod
