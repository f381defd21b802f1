#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "camera/Camera.h"
#include "core/Configuration.h"
#include "core/CoreParams.h"
#include "core/ErrorParser.h"
#include "core/Measurement.h"

namespace visionmod {

// Where the time of one Measure call goes, in milliseconds (filled only when asked for).
struct MeasureTimings {
  double colorizeMs = 0;
  double maskMs = 0;       // region masks, gray conversion
  double contoursMs = 0;   // contour search, choice, rectangle, hand check, corners in space
  double drawMs = 0;       // outline, labels, contour picture
  double snapshotsMs = 0;  // masking the pictures and writing the three files
};

// The depth-camera module. Run() is the frame loop on the main thread.
class Vision {
 public:
  Vision();
  ~Vision();
  Vision(const Vision&) = delete;
  Vision& operator=(const Vision&) = delete;
  int Run(bool disable_lidar);

  // Finds the camera, starts depth and colour, applies the visual preset and the depth range.
  bool Init();

  // Table-distance calibration.
  double GetCenterDistanceMm(dimcam::DepthFrame depth);
  double GetMinDistanceMm(dimcam::DepthFrame depth);
  bool FixMaxDistance(dimcam::DepthFrame depth);

  // Box measurement from one aligned, threshold-filtered frame pair; stores x, y, z and the hands
  // flag. True only when the coloured depth picture has no pixels.
  bool Measure(dimcam::DepthFrame depth, dimcam::VideoFrame color, bool debug, bool printImage);

  // Region and pixel geometry.
  double GetPxmmWidth(double widthPx, double distance, double angle);
  double GetPxmmHeight(double heightPx, double distance, double angle);
  cv::Mat IgnoreNotRegionArea(double regionWidthInMm, double regionHeightInMm, cv::Mat image,
                              double distance);
  cv::Point2f GetMiddlePoint(cv::Point2f a, cv::Point2f b);
  dimcam::DepthFrame PolarToCartesian(dimcam::DepthFrame depth);
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
  dimcam::Pipeline pipe;  // on a fresh context; started by Init
  dimcam::Config cfg;
  std::string serial;
  dimcam::ThresholdFilter thrFilter{0.15f, 4.0f};
  dimcam::Colorizer colorFilter;

  // When set, Measure records where its time goes (benchmarks).
  MeasureTimings* timings = nullptr;

 private:
  // IgnoreNotRegionArea with the field of view and offset given rather than read, so that one
  // measurement masks all its pictures with the one parameter set it started with.
  cv::Mat MaskRegion(double regionWidthInMm, double regionHeightInMm, cv::Mat image,
                     double distance, double fowWidth, double fowHeight, int offsetX, int offsetY);

  int RunMock();
  int RunCamera();

  // The pixels the last region mask kept (empty when it kept none).
  cv::Rect keptRegion_;
};

// True when one connected device offers every requested stream type; out_serial then holds its
// serial number (empty when it reports none). Otherwise prints on standard error which of depth and
// colour no device offers.
bool device_with_streams(std::vector<dimcam::StreamType> stream_requests, std::string& out_serial);

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

// True when the outline has a point on the outermost row or column of the kept region: the object
// goes on beyond the region (or the image) and was cut there.
bool TouchesRegionEdge(const std::vector<cv::Point>& contour, const cv::Rect& keptRegion);

// Folder of the snapshot pictures ColorImage.png and DepthImage.png: DIMCORE_SNAPSHOT_DIR when set
// (with a trailing slash added when missing), otherwise "/tmp/".
std::string SnapshotDir();

}  // namespace visionmod
