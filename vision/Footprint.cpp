// The footprint measuring method: the chosen object's pixels placed in space at their own depths,
// the rectangle of least area around them on the platform plane, and the height from the depth of
// the top face taken over many pixels.
#include "vision/Footprint.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <opencv2/imgproc.hpp>

namespace visionmod {
namespace {

// Band of depths that counts as one face: wide enough for the noise of a depth camera at a few
// metres, narrow enough to leave the rest of the side walls out.
constexpr double kFaceWindowM = 0.020;

// Median of the values counted in histogram[lo, hi), each unit step taken as spread evenly over
// [i - 0.5, i + 0.5); NAN when the range is empty.
double InterpolatedMedian(const std::vector<int>& histogram, int lo, int hi) {
  long long count = 0;
  for (int i = lo; i < hi; ++i) count += histogram[i];
  if (count == 0) return NAN;
  const double half = static_cast<double>(count) / 2;
  long long below = 0;
  for (int i = lo; i < hi; ++i) {
    if (histogram[i] > 0 && static_cast<double>(below + histogram[i]) >= half) {
      return i - 0.5 + (half - static_cast<double>(below)) / histogram[i];
    }
    below += histogram[i];
  }
  return hi - 0.5;
}

// Indices of the points farthest in the directions 0, 45, ... 315 degrees, in that order round
// the set; filled as the points are made.
struct Extremes {
  size_t index[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  float best[8] = {-INFINITY, -INFINITY, -INFINITY, -INFINITY,
                   -INFINITY, -INFINITY, -INFINITY, -INFINITY};
  void Add(float x, float y, size_t i) {
    const float keys[8] = {x, x + y, y, y - x, -x, -x - y, -y, x - y};
    for (int k = 0; k < 8; ++k) {
      if (keys[k] > best[k]) {
        best[k] = keys[k];
        index[k] = i;
      }
    }
  }
};

// The points that may be corners of the convex hull: everything outside the polygon spanned by the
// extreme points (the rectangle of least area depends on the hull alone).
std::vector<cv::Point2f> HullCandidates(const std::vector<cv::Point2f>& points,
                                        const Extremes& extremes) {
  if (points.size() < 16) return points;
  const size_t* extreme = extremes.index;
  std::vector<cv::Point2f> polygon;
  for (int k = 0; k < 8; ++k) {
    const cv::Point2f& p = points[extreme[k]];
    if (polygon.empty() || (polygon.back() != p && polygon.front() != p)) polygon.push_back(p);
  }
  if (polygon.size() < 3) return points;
  // The extremes go round the set in one sense; the sign of the polygon's area tells which.
  double area = 0;
  const size_t n = polygon.size();
  for (size_t i = 0; i < n; ++i) {
    const cv::Point2f& a = polygon[i];
    const cv::Point2f& b = polygon[(i + 1) % n];
    area += static_cast<double>(a.x) * b.y - static_cast<double>(b.x) * a.y;
  }
  if (area == 0) return points;
  const double sign = area > 0 ? 1 : -1;
  // Each edge as a line a x + b y + c, positive inside, in float: a point within float rounding
  // of an edge is kept, which only costs the hull a few more points.
  const int count = static_cast<int>(n);
  float la[8], lb[8], lc[8];
  for (int i = 0; i < count; ++i) {
    const cv::Point2f& p = polygon[i];
    const cv::Point2f& q = polygon[(i + 1) % n];
    const double a = -(static_cast<double>(q.y) - p.y) * sign;
    const double b = (static_cast<double>(q.x) - p.x) * sign;
    la[i] = static_cast<float>(a);
    lb[i] = static_cast<float>(b);
    lc[i] = static_cast<float>(-(a * p.x + b * p.y));
  }
  // Safety margin for rounding: a thousandth of a millimetre times the scale of the terms.
  float scale = 0;
  for (int i = 0; i < count; ++i) scale = std::max(scale, std::fabs(la[i]) + std::fabs(lb[i]));
  float reach = 0;
  for (const cv::Point2f& p : polygon) reach = std::max(reach, std::fabs(p.x) + std::fabs(p.y));
  const float margin = scale * (reach * 1e-5f + 1e-3f);
  std::vector<cv::Point2f> candidates;
  for (const cv::Point2f& p : points) {
    float least = la[0] * p.x + lb[0] * p.y + lc[0];
    for (int i = 1; i < count; ++i) least = std::min(least, la[i] * p.x + lb[i] * p.y + lc[i]);
    if (least <= margin) candidates.push_back(p);
  }
  return candidates;
}

cv::Point2f Project(const dimcam::Intrinsics& intrinsics, cv::Point2f mm, double depthMm) {
  const float point[3] = {mm.x / 1000.0f, mm.y / 1000.0f, static_cast<float>(depthMm / 1000.0)};
  float pixel[2];
  dimcam::ProjectPointToPixel(pixel, intrinsics, point);
  return cv::Point2f(pixel[0], pixel[1]);
}

}  // namespace

double TopFaceDepth(const std::vector<int>& histogram, int first, int window) {
  const int n = static_cast<int>(histogram.size());
  const int w = std::max(1, window);
  long long total = 0;
  for (int c : histogram) total += c;
  if (total == 0) return 0;
  const long long needed = std::max(1LL, total / 10);

  // The nearest window holding enough values; when the values are spread too thin for any window
  // to hold a tenth, the fullest one.
  int start = -1;
  int fullest = 0;
  long long fullestCount = -1;
  long long inWindow = 0;
  for (int i = 0; i < n; ++i) {
    inWindow += histogram[i];
    if (i >= w) inWindow -= histogram[i - w];
    const int from = std::max(0, i - w + 1);
    if (inWindow > fullestCount) {
      fullestCount = inWindow;
      fullest = from;
    }
    if (inWindow >= needed) {
      start = from;
      break;
    }
  }
  if (start < 0) start = fullest;

  // The window may have caught the face's near edge only: centre it on the face and take the
  // median again.
  const double rough = InterpolatedMedian(histogram, start, std::min(n, start + w));
  const int lo = std::max(0, static_cast<int>(std::ceil(rough - w / 2.0)));
  const int hi = std::min(n, static_cast<int>(std::floor(rough + w / 2.0)) + 1);
  const double median = InterpolatedMedian(histogram, lo, hi);
  return first + (std::isnan(median) ? rough : median);
}

FootprintResult MeasureFootprint(const dimcam::DepthFrame& depth,
                                 const dimcam::Intrinsics& intrinsics, const cv::Mat& objectMask,
                                 const std::vector<cv::Point>& contour, float platformMm) {
  FootprintResult result;
  const int width = depth.get_width();
  const int height = depth.get_height();
  const std::uint16_t* values = depth.values();
  const float units = depth.get_units();
  if (values == nullptr || !(units > 0) || contour.empty() || objectMask.type() != CV_8UC1 ||
      objectMask.cols != width || objectMask.rows != height || !(intrinsics.fx > 0) ||
      !(intrinsics.fy > 0)) {
    return result;
  }
  const size_t stride = static_cast<size_t>(depth.get_stride_in_bytes()) / sizeof(std::uint16_t);
  const cv::Rect box = cv::boundingRect(contour) & cv::Rect(0, 0, width, height);
  if (box.empty()) return result;

  // The outline filled: its pixels, holes included (they have no depth, or belong to the object).
  cv::Mat inside = cv::Mat::zeros(box.size(), CV_8UC1);
  const std::vector<std::vector<cv::Point>> outlines{contour};
  cv::drawContours(inside, outlines, 0, cv::Scalar(255), cv::FILLED, cv::LINE_8, cv::noArray(),
                   INT_MAX, -box.tl());

  // Rays through the columns and rows of the box (x/z and y/z): a lens without distortion
  // separates them, and a table spares a division per pixel; otherwise each pixel is deprojected.
  bool separable = true;
  for (const float k : intrinsics.coeffs) separable = separable && k == 0;
  std::vector<float> colRay;
  std::vector<float> rowRay;
  if (separable) {
    colRay.resize(static_cast<size_t>(box.width));
    rowRay.resize(static_cast<size_t>(box.height));
    for (int c = 0; c < box.width; ++c) colRay[c] = (box.x + c - intrinsics.ppx) / intrinsics.fx;
    for (int r = 0; r < box.height; ++r) rowRay[r] = (box.y + r - intrinsics.ppy) / intrinsics.fy;
  }

  // One pass over the box: each object pixel placed on the platform plane (mm), and the count of
  // each depth value for the top face.
  const float mmPerUnit = units * 1000.0f;
  std::vector<cv::Point2f> points;
  Extremes extremes;
  points.reserve(static_cast<size_t>(box.area()));
  std::vector<int> histogram(static_cast<size_t>(UINT16_MAX) + 1, 0);
  std::uint16_t nearest = UINT16_MAX;
  std::uint16_t farthest = 0;
  for (int r = 0; r < box.height; ++r) {
    const int row = box.y + r;
    const std::uint8_t* in = inside.ptr<std::uint8_t>(r);
    const std::uint8_t* object = objectMask.ptr<std::uint8_t>(row) + box.x;
    const std::uint16_t* value = values + static_cast<size_t>(row) * stride + box.x;
    for (int c = 0; c < box.width; ++c) {
      const std::uint16_t v = value[c];
      if (in[c] == 0 || object[c] == 0 || v == 0) continue;
      const float distanceMm = v * mmPerUnit;
      if (separable) {
        const float x = colRay[c] * distanceMm;
        const float y = rowRay[r] * distanceMm;
        extremes.Add(x, y, points.size());
        points.emplace_back(x, y);
      } else {
        const float pixel[2] = {static_cast<float>(box.x + c), static_cast<float>(row)};
        float point[3];
        dimcam::DeprojectPixelToPoint(point, intrinsics, pixel, v * units);
        extremes.Add(point[0] * 1000.0f, point[1] * 1000.0f, points.size());
        points.emplace_back(point[0] * 1000.0f, point[1] * 1000.0f);
      }
      ++histogram[v];
      nearest = std::min(nearest, v);
      farthest = std::max(farthest, v);
    }
  }
  if (points.empty()) return result;

  const std::vector<int> depths(histogram.begin() + nearest, histogram.begin() + farthest + 1);
  const int window = static_cast<int>(std::lround(kFaceWindowM / units));
  const double topMm = TopFaceDepth(depths, nearest, window) * mmPerUnit;
  if (!(topMm > 0)) return result;

  cv::RotatedRect rect = cv::minAreaRect(HullCandidates(points, extremes));

  // Each point is the centre of a pixel, which covers a pixel's size at its depth, so the object
  // reaches beyond the outermost centres by up to a pixel in all. How far depends on how its
  // edges lie on the pixel grid: an edge square to the grid meets one row (or column) of centres,
  // which lies anywhere from 0 to a pixel inside it, half a pixel on average; a slanted edge passes
  // many rows at different offsets, and the outermost centre comes the closer to it the more rows
  // it passes (about one pixel / (rows + 1)).
  const double pxMm = topMm / intrinsics.fx;
  const double pyMm = topMm / intrinsics.fy;
  const double angle = rect.angle * CV_PI / 180.0;
  const double c = std::fabs(std::cos(angle));
  const double s = std::fabs(std::sin(angle));
  const double w = rect.size.width;
  const double h = rect.size.height;
  // The edges that end the width run along the height, and the other way round.
  const double rowsW = std::min(h * c / pyMm, h * s / pxMm);
  const double rowsH = std::min(w * s / pyMm, w * c / pxMm);
  rect.size.width += static_cast<float>(std::hypot(pxMm * c, pyMm * s) * 2 / (2 + rowsW));
  rect.size.height += static_cast<float>(std::hypot(pxMm * s, pyMm * c) * 2 / (2 + rowsH));

  rect.points(result.corners);
  auto side = [&](int from, int to) {
    const double dx = static_cast<double>(result.corners[to].x) - result.corners[from].x;
    const double dy = static_cast<double>(result.corners[to].y) - result.corners[from].y;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
  };
  result.x = side(1, 2);
  result.y = side(2, 3);
  result.topDepthMm = static_cast<float>(topMm);
  result.z = static_cast<float>(platformMm - topMm);
  for (int i = 0; i < 4; ++i) result.outline[i] = Project(intrinsics, result.corners[i], topMm);
  result.center = Project(intrinsics, rect.center, topMm);
  result.pixels = static_cast<int>(points.size());
  result.found = true;
  return result;
}

}  // namespace visionmod
