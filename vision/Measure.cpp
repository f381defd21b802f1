// Box measurement: the largest outline within the area window inside the measuring region, its
// minimum-area rectangle, the corners placed in space at the depth of the rectangle's centre, and
// the height from the calibrated platform distance.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "vision/DebugWindows.h"
#include "vision/Footprint.h"
#include "vision/PictureFile.h"
#include "vision/Vision.h"

namespace visionmod {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// An 8-bit 3-channel matrix over a frame's own pixels (no copy), or an empty matrix when the frame
// has no such pixels.
cv::Mat WrapPixels(const dimcam::VideoFrame& frame) {
  if (!frame || frame.get_writable_data() == nullptr || frame.get_bytes_per_pixel() != 3 ||
      frame.get_width() <= 0 || frame.get_height() <= 0) {
    return cv::Mat();
  }
  return cv::Mat(frame.get_height(), frame.get_width(), CV_8UC3, frame.get_writable_data(),
                 static_cast<size_t>(frame.get_stride_in_bytes()));
}

bool IsRgb(const dimcam::Frame& frame) {
  return frame.get_profile().format() == dimcam::Format::RGB8;
}

// Red in the channel order of the picture it is drawn on.
cv::Scalar Red(bool rgb) { return rgb ? cv::Scalar(255, 0, 0, 0) : cv::Scalar(0, 0, 255, 0); }

// PNG files and windows take blue first; frames in RGB order are turned round for them.
cv::Mat InFileOrder(const cv::Mat& picture, bool rgb) {
  if (!rgb) return picture;
  cv::Mat bgr;
  cv::cvtColor(picture, bgr, cv::COLOR_RGB2BGR);
  return bgr;
}

void DrawLabel(cv::Mat& picture, const char* format, float value, cv::Point2f at,
               const cv::Scalar& colour) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<int>(value));
  cv::putText(picture, text, cv::Point(cvRound(at.x), cvRound(at.y)), cv::FONT_HERSHEY_SIMPLEX,
              0.35, colour, 1, cv::LINE_AA);
}

}  // namespace

bool Vision::Measure(dimcam::DepthFrame depth, dimcam::VideoFrame color, bool debug,
                     bool printImage) {
  // One parameter set for the whole call, whatever a client sets meanwhile.
  const ConfigurationStruct params = configuration->GetAll();
  const double regionW = params.REGION_WIDTH;
  const double regionH = params.REGION_HEIGHT;
  const double distance = params.MAX_DEPTH;
  const double fowW = params.FOW_WIDTH;
  const double fowH = params.FOW_HEIGHT;
  const int offsetX = params.REGION_OFFSET_X;
  const int offsetY = params.REGION_OFFSET_Y;
  const bool footprint = coreParams->MeasureMethod == MeasuringMethod::Footprint;
  auto mask = [&](cv::Mat picture) {
    return MaskRegion(regionW, regionH, picture, distance, fowW, fowH, offsetX, offsetY);
  };
  MeasureTimings local;
  MeasureTimings& t = timings != nullptr ? *timings : local;
  Clock::time_point start = Clock::now();

  const dimcam::Intrinsics inrist =
      depth.get_profile().as<dimcam::VideoStreamProfile>().get_intrinsics();

  dimcam::VideoFrame colored = colorFilter.colorize(depth);
  t.colorizeMs = MsSince(start);
  cv::Mat image = WrapPixels(colored);
  if (image.empty()) {
    std::cout << VISION + "Image file not found\n";
    return true;
  }
  const bool depthRgb = IsRgb(colored);

  start = Clock::now();
  mask(image);
  cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
  t.maskMs = MsSince(start);

  start = Clock::now();
  std::vector<std::vector<cv::Point>> contours;
  cv::Mat contourOutput = image.clone();
  cv::findContours(contourOutput, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE,
                   cv::Point(0, 0));

  // The colour picture carries the outline. A colour frame that does not match the depth picture
  // (missing, another size or pixel format) cannot be drawn on: a black picture stands in for it,
  // and the measurement, which rests on depth alone, goes on.
  cv::Mat boxImage = WrapPixels(color);
  bool colorRgb = IsRgb(color);
  if (boxImage.size() != image.size()) {
    std::cout << VISION +
                     "Colour frame does not match the depth frame; colour picture left black\n";
    boxImage = cv::Mat::zeros(image.size(), CV_8UC3);
    colorRgb = false;
  }
  cv::Mat boxImageDepth = WrapPixels(colored);

  cv::Mat resultImage = boxImage.clone();
  outputImage = mask(resultImage);

  cv::Mat contourImage = cv::Mat::zeros(image.size(), CV_8UC3);
  const cv::Scalar colors[3] = {cv::Scalar(255, 0, 0, 0), cv::Scalar(0, 255, 0, 0),
                                cv::Scalar(0, 0, 255, 0)};

  measurement->x = 0;
  measurement->y = 0;
  measurement->z = 0;
  measurement->MEASURE_ERROR_HANDS_DETECTED = false;
  int maxAreaContourId = -1;
  bool foundArea = false;
  double maxArea = 0;

  for (size_t i = 0; i < contours.size(); ++i) {
    const double area = cv::contourArea(contours[i], false);
    if (params.MIN_AREA < area && area < params.MAX_AREA && (!foundArea || area > maxArea)) {
      maxArea = area;
      maxAreaContourId = static_cast<int>(i);
      foundArea = true;
    }
  }
  t.contoursMs = MsSince(start);

  if (foundArea) {
    start = Clock::now();
    const cv::RotatedRect rect = cv::minAreaRect(contours[maxAreaContourId]);
    cv::Point2f points[4];
    rect.points(points);

    if (handsCheckingEnabled) {
      const RegionBounds b = HandCheckBounds(colored.get_width(), colored.get_height(),
                                             regionWidthInPx, regionHeightInPx, offsetX, offsetY);
      std::cout << HandsCheckingLine(regionWidthInPx, regionHeightInPx, offsetX, offsetY);
      bool hands = CheckHands(points, b.xMin, b.yMin, b.xMax, b.yMax);
      // An outline cut square by the mask keeps its corners on the last kept pixels, half a pixel
      // inside the bounds, so the corner test misses a box (or arm) that goes on beyond the region
      // straight across an edge; its outline lies along that edge.
      if (!hands && TouchesRegionEdge(contours[maxAreaContourId], keptRegion_)) {
        std::cout << VISION + "Object cut by the edge of the measuring region\n";
        hands = true;
      }
      if (hands) {
        measurement->MEASURE_ERROR_HANDS_DETECTED = true;
        std::cout << VISION + "HANDS DETECTED\n";
      } else {
        measurement->MEASURE_ERROR_HANDS_DETECTED = false;
      }
    }

    // What is drawn: the outline's rectangle, or with the footprint method the fitted rectangle
    // seen at the top face.
    cv::Point2f drawn[4] = {points[0], points[1], points[2], points[3]};
    cv::Point2f center;
    if (footprint) {
      const FootprintResult f =
          MeasureFootprint(depth, inrist, image, contours[maxAreaContourId], params.MAX_DEPTH);
      center = GetMiddlePoint(points[0], points[2]);
      if (f.found) {
        measurement->x = f.x;
        measurement->y = f.y;
        measurement->z = f.z;
        std::copy(f.outline, f.outline + 4, drawn);
        center = f.center;
      }
    } else {
      // The depth of the top face is read at the rectangle's centre pixel. A centre beyond the
      // picture (possible for a rectangle around an outline cut at the image edge) has no depth.
      center = GetMiddlePoint(points[0], points[2]);
      float d = 0;
      if (center.x > -1 && center.x < depth.get_width() && center.y > -1 &&
          center.y < depth.get_height()) {
        d = depth.get_distance(static_cast<int>(center.x), static_cast<int>(center.y));
      }

      cv::Point2f correctPoints[4];
      for (int i = 0; i < 4; ++i) {
        const float pixel[2] = {points[i].x, points[i].y};
        float point[3];
        dimcam::DeprojectPixelToPoint(point, inrist, pixel, d);
        correctPoints[i] = cv::Point2f(point[0], point[1]);
      }
      auto sideMm = [&](int from, int to) {
        const float dx = correctPoints[to].x - correctPoints[from].x;
        const float dy = correctPoints[to].y - correctPoints[from].y;
        const double squared = static_cast<double>(dx) * dx + static_cast<double>(dy) * dy;
        return static_cast<float>(std::sqrt(squared) * 1000.0);
      };
      measurement->x = sideMm(1, 2);
      measurement->y = sideMm(2, 3);

      const float centerPixel[2] = {center.x, center.y};
      float centerPoint[3];
      dimcam::DeprojectPixelToPoint(centerPoint, inrist, centerPixel, d);
      // Without depth at the centre nothing of the box is known: x and y come out 0, and so does z
      // rather than the full platform distance, so that all three are reported empty.
      measurement->z =
          d > 0 ? static_cast<float>(params.MAX_DEPTH - centerPoint[2] * 1000.0f) : 0.0f;
    }
    t.contoursMs += MsSince(start);

    start = Clock::now();
    const cv::Scalar outline = Red(colorRgb);
    const cv::Scalar outlineDepth = Red(depthRgb);
    for (int j = 0; j < 4; ++j) {
      cv::line(boxImage, drawn[j], drawn[(j + 1) % 4], outline, 3, cv::LINE_AA, 0);
      cv::line(boxImageDepth, drawn[j], drawn[(j + 1) % 4], outlineDepth, 3, cv::LINE_AA, 0);
    }

    if (params.DRAW_SIZE) {
      const float sizes[3] = {measurement->x, measurement->y, measurement->z};
      const char* formats[3] = {"X=%d", "Y=%d", "Z=%d"};
      for (int k = 0; k < 3; ++k) {
        const cv::Point2f at = center - cv::Point2f(50, static_cast<float>(50 - 10 * k));
        DrawLabel(boxImage, formats[k], sizes[k], at, outline);
        DrawLabel(boxImageDepth, formats[k], sizes[k], at, outlineDepth);
      }
    }

    cv::drawContours(contourImage, contours, maxAreaContourId, colors[maxAreaContourId % 3], 1,
                     cv::LINE_8, cv::noArray(), INT_MAX, cv::Point(0, 0));
    t.drawMs = MsSince(start);
  }

  start = Clock::now();
  if (printImage) {
    boxImage = InFileOrder(mask(boxImage).clone(), colorRgb);
    boxImageDepth = InFileOrder(mask(boxImageDepth).clone(), depthRgb);
    const std::string dir = SnapshotDir();
    WritePicture(dir + "ColorImage.png", boxImage);
    WritePicture(dir + "DepthImage.png", boxImageDepth);
    outputImageWithSize = boxImage;
    SavePicture(boxImage);
  }
  t.snapshotsMs = MsSince(start);

  if (debug) {
    ShowDebugWindows(image, contourImage, printImage ? boxImage : InFileOrder(boxImage, colorRgb));
  }
  return false;
}

dimcam::DepthFrame Vision::PolarToCartesian(dimcam::DepthFrame depth) { return depth; }

}  // namespace visionmod
