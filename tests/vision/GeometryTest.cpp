#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <opencv2/core.hpp>
#include <random>
#include <sstream>

#include "tests/vision/VisionTestSupport.h"
#include "vision/Vision.h"

namespace {

using visionmod::Vision;
using visiontest::UseConfiguration;

// A picture without a single black pixel, so that every blanked pixel shows.
cv::Mat Painted(int cols, int rows) {
  cv::Mat m(rows, cols, CV_8UC3);
  cv::randu(m, cv::Scalar::all(1), cv::Scalar::all(256));
  return m;
}

bool IsBlack(const cv::Mat& m, int row, int col) {
  return m.at<cv::Vec3b>(row, col) == cv::Vec3b();
}

bool ColumnBlack(const cv::Mat& m, int col, int row) { return IsBlack(m, row, col); }

class WorkedExample : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(UseConfiguration()); }
  Vision vision;
};

TEST_F(WorkedExample, MillimetresPerPixel) {
  // 2 * 1000 * tan(32.5 deg) = 1274.14 mm across, 2 * 1000 * tan(20 deg) = 727.94 mm down.
  EXPECT_NEAR(vision.GetPxmmWidth(1280, 1000, 65) * 1280, 1274.14, 0.005);
  EXPECT_NEAR(vision.GetPxmmHeight(720, 1000, 40) * 720, 727.94, 0.005);
  EXPECT_NEAR(vision.GetPxmmWidth(1280, 1000, 65), 0.99542, 0.000005);
  EXPECT_NEAR(vision.GetPxmmHeight(720, 1000, 40), 1.01103, 0.000005);
  EXPECT_EQ(vision.GetPxmmWidth(1280, 0, 65), 0.0);
  EXPECT_EQ(vision.GetPxmmHeight(720, 1000, 0), 0.0);
}

TEST_F(WorkedExample, RegionSizeAndKeptColumnsAndRows) {
  cv::Mat picture = Painted(1280, 720);
  cv::Mat masked = vision.IgnoreNotRegionArea(680, 550, picture, 1000);
  EXPECT_NEAR(vision.regionWidthInPx, 683.127, 0.0005);
  EXPECT_NEAR(vision.regionHeightInPx, 544.001, 0.0005);
  EXPECT_EQ(masked.data, picture.data) << "the mask works on the caller's pixels";

  const int row = 400;
  const int col = 640;
  EXPECT_TRUE(ColumnBlack(picture, 298, row));
  EXPECT_FALSE(ColumnBlack(picture, 299, row));
  EXPECT_FALSE(ColumnBlack(picture, 981, row));
  EXPECT_TRUE(ColumnBlack(picture, 982, row));
  EXPECT_TRUE(IsBlack(picture, 127, col));
  EXPECT_FALSE(IsBlack(picture, 128, col));
  EXPECT_FALSE(IsBlack(picture, 672, col));
  EXPECT_TRUE(IsBlack(picture, 673, col));
  EXPECT_TRUE(IsBlack(picture, 0, 0));
  // Corners of the kept rectangle keep their pixels; the ones just diagonal to them do not.
  EXPECT_FALSE(IsBlack(picture, 128, 299));
  EXPECT_FALSE(IsBlack(picture, 672, 981));
  EXPECT_TRUE(IsBlack(picture, 127, 298));
  EXPECT_TRUE(IsBlack(picture, 673, 982));
  EXPECT_EQ(cv::countNonZero(picture.col(0).clone().reshape(1)), 0);
}

TEST_F(WorkedExample, HandCheckBoundsAndLine) {
  cv::Mat picture = Painted(1280, 720);
  vision.IgnoreNotRegionArea(680, 550, picture, 1000);
  const visionmod::RegionBounds b =
      visionmod::HandCheckBounds(1280, 720, vision.regionWidthInPx, vision.regionHeightInPx, 0, 40);
  EXPECT_FLOAT_EQ(b.xMin, 298.43643f);
  EXPECT_FLOAT_EQ(b.yMin, 127.99973f);
  EXPECT_FLOAT_EQ(b.xMax, 981.56360f);
  EXPECT_FLOAT_EQ(b.yMax, 672.00024f);
  EXPECT_EQ(visionmod::HandsCheckingLine(vision.regionWidthInPx, vision.regionHeightInPx, 0, 40),
            "HANDS_CHECKING_TEST1: regionWidthInPx+configuration->GetRegionOffset().first=683.127 "
            "regionHeightInPx+configuration->GetRegionOffset().second=584.001 off=40\n");
}

TEST_F(WorkedExample, RegionRunningOffTheImageIsNotClamped) {
  cv::Mat picture = Painted(1280, 720);
  vision.IgnoreNotRegionArea(680, 550, picture, 800);
  EXPECT_NEAR(vision.regionWidthInPx, 853.91, 0.005);
  EXPECT_NEAR(vision.regionHeightInPx, 680.00, 0.005);
  EXPECT_TRUE(IsBlack(picture, 59, 640));
  EXPECT_FALSE(IsBlack(picture, 60, 640));
  EXPECT_FALSE(IsBlack(picture, 719, 640));
}

TEST_F(WorkedExample, RegionLargerThanTheViewIsCappedToTheImage) {
  ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) { c.REGION_OFFSET_Y = 0; }));
  cv::Mat picture = Painted(1280, 720);
  const cv::Mat before = picture.clone();
  vision.IgnoreNotRegionArea(1920, 1080, picture, 1000);
  EXPECT_EQ(vision.regionWidthInPx, 1280.0);
  EXPECT_EQ(vision.regionHeightInPx, 720.0);
  cv::Mat diff;
  cv::absdiff(picture, before, diff);
  EXPECT_EQ(cv::countNonZero(diff.reshape(1)), 3) << "only the pixel at row 0, column 0 changes";
  EXPECT_TRUE(IsBlack(picture, 0, 0));
  EXPECT_FALSE(IsBlack(picture, 1, 0)) << "the left bound is exactly 0: column 0 is inside";
  EXPECT_FALSE(IsBlack(picture, 719, 1279));
}

TEST_F(WorkedExample, ZeroDistanceOrAngleMeansTheWholeImage) {
  ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) {
    c.REGION_OFFSET_Y = 0;
    c.FOW_WIDTH = 0;
  }));
  cv::Mat picture = Painted(1280, 720);
  vision.IgnoreNotRegionArea(680, 550, picture, 0);
  EXPECT_EQ(vision.regionWidthInPx, 1280.0);
  EXPECT_EQ(vision.regionHeightInPx, 720.0);
  EXPECT_FALSE(IsBlack(picture, 719, 1279));
}

struct OffsetCase {
  const char* name;
  int offsetX;
  int offsetY;
  bool allBlack;
};
void PrintTo(const OffsetCase& c, std::ostream* os) { *os << c.name; }

class RegionOffset : public ::testing::TestWithParam<OffsetCase> {};

// Region 683.13 x 544.00 px: it leaves the image once the offset exceeds half the image plus half
// the region (981.56 across, 632.00 down), less the last pixel's own position (1279, 719).
TEST_P(RegionOffset, MovesTheRegionOffTheImage) {
  const OffsetCase& c = GetParam();
  ASSERT_TRUE(UseConfiguration([&](ConfigurationStruct& s) {
    s.REGION_OFFSET_X = c.offsetX;
    s.REGION_OFFSET_Y = c.offsetY;
  }));
  Vision vision;
  cv::Mat picture = Painted(1280, 720);
  vision.IgnoreNotRegionArea(680, 550, picture, 1000);
  EXPECT_EQ(cv::countNonZero(picture.reshape(1)) == 0, c.allBlack);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegionOffset,
    ::testing::Values(OffsetCase{"RightJustOn", 980, 0, false},
                      OffsetCase{"RightOff", 981, 0, true},
                      OffsetCase{"LeftJustOn", -981, 0, false},
                      OffsetCase{"LeftOff", -982, 0, true}, OffsetCase{"DownJustOn", 0, 631, false},
                      OffsetCase{"DownOff", 0, 632, true}, OffsetCase{"UpJustOn", 0, -632, false},
                      OffsetCase{"UpOff", 0, -633, true},
                      OffsetCase{"FarAway", 10000, -10000, true}),
    [](const ::testing::TestParamInfo<OffsetCase>& i) { return i.param.name; });

TEST(MiddlePoint, IsTheMidpoint) {
  Vision vision;
  const cv::Point2f m = vision.GetMiddlePoint({0, 0}, {3, 5});
  EXPECT_EQ(m, cv::Point2f(1.5f, 2.5f));
  EXPECT_EQ(vision.GetMiddlePoint({-2, 7}, {4, -1}), cv::Point2f(1, 3));
}

// The mask as a plain per-pixel test: the behaviour the band fills must reproduce exactly.
cv::Mat ReferenceMask(cv::Mat image, double regionWidthInPx, double regionHeightInPx, int ox,
                      int oy) {
  image.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 0);
  const int cx = image.cols / 2;
  const int cy = image.rows / 2;
  for (int y = 0; y < image.rows; ++y) {
    for (int x = 0; x < image.cols; ++x) {
      if (x < cx - regionWidthInPx / 2 + ox || x > cx + regionWidthInPx / 2 + ox ||
          y < cy - regionHeightInPx / 2 + oy || y > cy + regionHeightInPx / 2 + oy) {
        image.at<cv::Vec3b>(y, x) = image.at<cv::Vec3b>(0, 0);
      }
    }
  }
  return image;
}

struct MaskCase {
  int cols, rows;
  float fowW, fowH, regionW, regionH;
  int ox, oy;
  double distance;
};
std::string Describe(const MaskCase& c) {
  std::ostringstream os;
  os << c.cols << "x" << c.rows << " fov " << c.fowW << "/" << c.fowH << " region " << c.regionW
     << "x" << c.regionH << " offset " << c.ox << "," << c.oy << " at " << c.distance << " mm";
  return os.str();
}

// Parameter sets that put bounds on, just beside and far beyond pixel edges, plus random ones.
std::vector<MaskCase> MaskCases() {
  std::vector<MaskCase> cases = {
      {1280, 720, 65, 40, 680, 550, 0, 40, 1000},
      {1280, 720, 65, 40, 680, 550, 0, 40, 800},
      {1280, 720, 65, 40, 1920, 1080, 0, 0, 1000},
      {1281, 721, 65, 40, 1920, 1080, 0, 0, 1000},
      {1280, 720, 65, 40, 680, 550, 981, 0, 1000},
      {1280, 720, 65, 40, 680, 550, -982, 0, 1000},
      {1280, 720, 0, 0, 680, 550, 0, 0, 1000},
      {1280, 720, 65, 40, 680, 550, 3, -7, 0},
      {1280, 720, 2000, 2000, 680, 550, 0, 0, 1000},
      {1280, 720, 180, 180, 680, 550, 0, 0, 1000},
      {640, 480, 90, 90, 10, 10, 0, 0, 200000},
      {2, 2, 65, 40, 10, 10, 0, 0, 1},
      {1, 1, 65, 40, 10, 10, 0, 0, 1000},
      {7, 5, 65, 40, 10, 10, 1, 1, 15},
  };
  std::mt19937 rng(20240607);
  std::uniform_int_distribution<int> size(1, 160);
  std::uniform_real_distribution<float> fov(0, 200);
  std::uniform_real_distribution<float> region(10, 1920);
  std::uniform_int_distribution<int> offset(-120, 120);
  std::uniform_real_distribution<double> distance(0, 3000);
  for (int i = 0; i < 600; ++i) {
    MaskCase c{size(rng),       size(rng),   fov(rng),    fov(rng),     region(rng),
               region(rng) / 2, offset(rng), offset(rng), distance(rng)};
    if (i % 3 == 0) c.distance = std::round(c.distance);  // integral distances hit exact bounds
    cases.push_back(c);
  }
  return cases;
}

TEST(RegionMask, BandFillsMatchThePerPixelTestExactly) {
  for (const MaskCase& c : MaskCases()) {
    SCOPED_TRACE(Describe(c));
    ASSERT_TRUE(UseConfiguration([&](ConfigurationStruct& s) {
      s.FOW_WIDTH = c.fowW;
      s.FOW_HEIGHT = c.fowH;
      s.REGION_OFFSET_X = c.ox;
      s.REGION_OFFSET_Y = c.oy;
    }));
    Vision vision;
    cv::Mat picture = Painted(c.cols, c.rows);
    const cv::Mat original = picture.clone();
    vision.IgnoreNotRegionArea(c.regionW, c.regionH, picture, c.distance);

    // The expected region size, with the cap, from the same millimetres per pixel.
    double w = c.regionW / vision.GetPxmmWidth(c.cols, c.distance, c.fowW);
    double h = c.regionH / vision.GetPxmmHeight(c.rows, c.distance, c.fowH);
    if (w > c.cols) w = c.cols;
    if (h > c.rows) h = c.rows;
    EXPECT_EQ(vision.regionWidthInPx, w);
    EXPECT_EQ(vision.regionHeightInPx, h);

    const cv::Mat expected = ReferenceMask(original.clone(), w, h, c.ox, c.oy);
    cv::Mat diff;
    cv::absdiff(picture, expected, diff);
    ASSERT_EQ(cv::countNonZero(diff.reshape(1)), 0);
  }
}

TEST(RegionMask, WorksOnAViewIntoALargerPicture) {
  ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) { c.REGION_OFFSET_Y = 0; }));
  Vision vision;
  cv::Mat whole = Painted(200, 100);
  const cv::Mat original = whole.clone();
  cv::Mat view = whole(cv::Rect(50, 20, 100, 60));
  vision.IgnoreNotRegionArea(10, 10, view, 100);
  // Outside the view nothing changes.
  cv::Mat diff;
  cv::absdiff(whole.colRange(0, 50), original.colRange(0, 50), diff);
  EXPECT_EQ(cv::countNonZero(diff.reshape(1)), 0);
  const cv::Mat expected = ReferenceMask(original(cv::Rect(50, 20, 100, 60)).clone(),
                                         vision.regionWidthInPx, vision.regionHeightInPx, 0, 0);
  cv::absdiff(view, expected, diff);
  EXPECT_EQ(cv::countNonZero(diff.reshape(1)), 0);
}

}  // namespace
