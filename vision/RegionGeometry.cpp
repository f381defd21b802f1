// The measuring region in image pixels (pinhole model of the depth camera), the mask that blanks
// everything outside it, and the small geometric helpers of the measurement.
#include <cmath>
#include <cstdlib>

#include "vision/PictureFile.h"
#include "vision/Vision.h"

namespace visionmod {
namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Width in mm that the whole image spans at `distance`: 2 * distance * tan(angle / 2). The tangent
// and the doubling are taken in long double; the caller divides once in double.
double ImageSpanMm(double distance, double angle) {
  const double halfAngle = angle / 2;
  const long double radians = static_cast<long double>(halfAngle) * kPi / 180.0L;
  const long double product = std::tan(radians) * static_cast<long double>(distance);
  const long double span = product + product;
  return static_cast<double>(span);
}

// The pixels i in [0, count) that satisfy !(i < low) && !(i > high), as the half-open range
// [*first, *last). Equivalent to the per-pixel test for every double, NaN and infinities included:
// an integer i is >= low exactly when it is >= ceil(low).
void KeptRange(double low, double high, int count, int* first, int* last) {
  double from = 0;
  if (low > 0) from = std::ceil(low);  // NaN keeps 0: no pixel compares below NaN
  double to = count;
  if (high < count - 1) to = std::floor(high) + 1;  // NaN keeps count
  if (from > count) from = count;
  if (to < 0) to = 0;
  *first = static_cast<int>(from);
  *last = static_cast<int>(to);
  if (*last < *first) *last = *first;
}

}  // namespace

double Vision::GetPxmmWidth(double widthPx, double distance, double angle) {
  return ImageSpanMm(distance, angle) / widthPx;
}

double Vision::GetPxmmHeight(double heightPx, double distance, double angle) {
  return ImageSpanMm(distance, angle) / heightPx;
}

cv::Mat Vision::IgnoreNotRegionArea(double regionWidthInMm, double regionHeightInMm, cv::Mat image,
                                    double distance) {
  const std::pair<float, float> fow = configuration->GetFow();
  const std::pair<int, int> offset = configuration->GetRegionOffset();
  return MaskRegion(regionWidthInMm, regionHeightInMm, image, distance, fow.first, fow.second,
                    offset.first, offset.second);
}

cv::Mat Vision::MaskRegion(double regionWidthInMm, double regionHeightInMm, cv::Mat image,
                           double distance, double fowWidth, double fowHeight, int offsetX,
                           int offsetY) {
  const int cols = image.cols;
  const int rows = image.rows;
  const double pxmmWidth = GetPxmmWidth(cols, distance, fowWidth);
  const double pxmmHeight = GetPxmmHeight(rows, distance, fowHeight);
  regionWidthInPx = regionWidthInMm / pxmmWidth;
  regionHeightInPx = regionHeightInMm / pxmmHeight;
  if (regionWidthInPx > cols) regionWidthInPx = cols;
  if (regionHeightInPx > rows) regionHeightInPx = rows;
  keptRegion_ = cv::Rect();
  if (image.empty()) return image;

  // The top-left pixel is always black afterwards, inside the region or not.
  image(cv::Rect(0, 0, 1, 1)).setTo(cv::Scalar::all(0));

  // The bounds are fixed for the call, so the outside is four bands; the kept ranges reproduce the
  // per-pixel test exactly, pixels on a bound included.
  const int cx = cols / 2;
  const int cy = rows / 2;
  int colFirst = 0;
  int colLast = 0;
  int rowFirst = 0;
  int rowLast = 0;
  KeptRange(cx - regionWidthInPx / 2 + offsetX, cx + regionWidthInPx / 2 + offsetX, cols, &colFirst,
            &colLast);
  KeptRange(cy - regionHeightInPx / 2 + offsetY, cy + regionHeightInPx / 2 + offsetY, rows,
            &rowFirst, &rowLast);
  keptRegion_ = cv::Rect(colFirst, rowFirst, colLast - colFirst, rowLast - rowFirst);
  const cv::Scalar black = cv::Scalar::all(0);
  if (colFirst == colLast || rowFirst == rowLast) {
    keptRegion_ = cv::Rect();
    image.setTo(black);
    return image;
  }
  if (rowFirst > 0) image(cv::Rect(0, 0, cols, rowFirst)).setTo(black);
  if (rowLast < rows) image(cv::Rect(0, rowLast, cols, rows - rowLast)).setTo(black);
  const int bandHeight = rowLast - rowFirst;
  if (colFirst > 0) image(cv::Rect(0, rowFirst, colFirst, bandHeight)).setTo(black);
  if (colLast < cols) image(cv::Rect(colLast, rowFirst, cols - colLast, bandHeight)).setTo(black);
  return image;
}

cv::Point2f Vision::GetMiddlePoint(cv::Point2f a, cv::Point2f b) {
  return cv::Point2f((a.x + b.x) * 0.5f, (a.y + b.y) * 0.5f);
}

void Vision::SavePicture(cv::Mat picture) { WritePicture(coreParams->PhotoPath, picture); }

std::string SnapshotDir() {
  const char* dir = std::getenv("DIMCORE_SNAPSHOT_DIR");
  if (dir == nullptr || *dir == '\0') return "/tmp/";
  std::string path = dir;
  if (path.back() != '/') path += '/';
  return path;
}

}  // namespace visionmod
