#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "tests/support/TempDir.h"
#include "tests/vision/VisionTestSupport.h"
#include "vision/Vision.h"

namespace {

using visiontest::Box;
using visiontest::CutHole;
using visiontest::FramePair;
using visiontest::kHandsCheckingLine;
using visiontest::kPlatform;
using visiontest::PixelMm;
using visiontest::PixelOf;
using visiontest::Platform;
using visiontest::Render;
using visiontest::UseConfiguration;

// Measure on rendered frames (see MeasureFixture).
class MeasureTest : public visiontest::MeasureFixture {
 protected:
  bool Run(const FramePair& frames, bool printImage = true) {
    return MeasureFrames(frames, printImage);
  }
  bool Run(const dimcam::Scene& scene, bool printImage = true) {
    return Run(Render(scene), printImage);
  }

  // The two sides, shorter first.
  std::pair<float, float> Sides() const { return std::minmax(m->x, m->y); }
};

TEST_F(MeasureTest, EmptyPlatformGivesZerosAndNoHands) {
  EXPECT_FALSE(Run(Platform()));
  EXPECT_EQ(m->x, 0);
  EXPECT_EQ(m->y, 0);
  EXPECT_EQ(m->z, 0);
  EXPECT_FALSE(m->MEASURE_ERROR_HANDS_DETECTED);
  EXPECT_EQ(out, "") << "no contour: no hand check, nothing printed";
  EXPECT_TRUE(testsupport::FileExists(dir.file("ColorImage.png")));
}

struct BoxCase {
  const char* name;
  dimcam::SceneBox box;
  double pixels;  // tolerance of each side, in pixels at the top face's distance
};
void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.name; }

class OneBox : public MeasureTest, public ::testing::WithParamInterface<BoxCase> {};

// The outline runs through the centres of the boundary pixels, so a side of a box square to the
// image comes out up to about one pixel short: tolerance 2 pixels at the distance of the top face
// (0.80 mm per pixel for a box 200 mm high on a platform 1000 mm away). Around the digitised
// outline of a turned box the rectangle of least area may turn a little off the true angle, which
// lengthens a side by up to about 3 pixels: tolerance 4 pixels.
constexpr double kSquarePixels = 2;
constexpr double kTurnedPixels = 4;

TEST_P(OneBox, SidesAndHeight) {
  const dimcam::SceneBox& box = GetParam().box;
  EXPECT_FALSE(Run(Platform({box})));
  const double tolerance = GetParam().pixels * PixelMm(kPlatform - box.size_mm[2]);
  const auto [shorter, longer] = Sides();
  EXPECT_NEAR(shorter, std::min(box.size_mm[0], box.size_mm[1]), tolerance);
  EXPECT_NEAR(longer, std::max(box.size_mm[0], box.size_mm[1]), tolerance);
  EXPECT_NEAR(m->z, box.size_mm[2], 1.0) << "depth comes in whole millimetres";
  EXPECT_FALSE(m->MEASURE_ERROR_HANDS_DETECTED);
  EXPECT_EQ(out, kHandsCheckingLine);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OneBox,
    ::testing::Values(BoxCase{"Centred", Box(300, 200, 150, 0, 40), kSquarePixels},
                      BoxCase{"Small", Box(50, 50, 40, 0, 40), kSquarePixels},
                      BoxCase{"Turned30", Box(300, 200, 150, 0, 40, 30), kTurnedPixels},
                      BoxCase{"Turned45Square", Box(220, 220, 100, 0, 40, 45), kTurnedPixels},
                      BoxCase{"TurnedNarrow", Box(400, 60, 80, 0, 40, 12), kTurnedPixels},
                      BoxCase{"Tall", Box(200, 120, 400, 0, 40, 70), kTurnedPixels},
                      BoxCase{"Flat", Box(250, 180, 40, 0, 40, 5), kTurnedPixels}),
    [](const ::testing::TestParamInfo<BoxCase>& i) { return i.param.name; });

// Which box was measured; off the optical axis a box also shows the upper part of the wall that
// faces the axis, which widens its outline by several mm, so the check is coarse.
TEST_F(MeasureTest, TwoBoxesTheLargerQualifyingOneIsMeasured) {
  const dimcam::Scene scene = Platform({Box(120, 100, 100, 170, 40), Box(250, 200, 100, -150, 40)});
  EXPECT_FALSE(Run(scene));
  EXPECT_NEAR(Sides().first, 200, 10);
  EXPECT_NEAR(Sides().second, 250, 10);

  // The larger one is about 62000 px, the smaller about 15000 px: with the window's top between
  // them, the smaller one is measured.
  ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) {
    c.MAX_DEPTH = kPlatform;
    c.MAX_AREA = 30000;
  }));
  EXPECT_FALSE(Run(scene));
  EXPECT_NEAR(Sides().first, 100, 10);
  EXPECT_NEAR(Sides().second, 120, 10);
}

// Area in square pixels of the outline of the one axis-aligned box in the frame: its pixels form
// a rectangle, and the outline runs through the centres of its edge pixels.
double OutlineArea(const FramePair& frames) {
  int cols = 0;
  int rows = 0;
  for (int c = 0; c < visiontest::kWidth; ++c) cols += frames.depth.get_distance(c, 400) > 0;
  for (int r = 0; r < visiontest::kHeight; ++r) rows += frames.depth.get_distance(640, r) > 0;
  return static_cast<double>(cols - 1) * (rows - 1);
}

struct WindowCase {
  const char* name;
  double minBelow;  // MIN_AREA = area - minBelow
  double maxAbove;  // MAX_AREA = area + maxAbove
  bool measured;
};
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

class AreaWindow : public MeasureTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(AreaWindow, BothBoundsAreStrict) {
  const FramePair frames = Render(Platform({Box(160, 120, 100, 0, 40)}));
  const double area = OutlineArea(frames);
  ASSERT_GT(area, 10000);
  const WindowCase& c = GetParam();
  ASSERT_TRUE(UseConfiguration([&](ConfigurationStruct& s) {
    s.MAX_DEPTH = kPlatform;
    s.MIN_AREA = static_cast<float>(area - c.minBelow);
    s.MAX_AREA = static_cast<float>(area + c.maxAbove);
  }));
  EXPECT_FALSE(Run(frames));
  EXPECT_EQ(m->x > 0, c.measured) << "outline area " << area;
  EXPECT_EQ(m->z > 0, c.measured);
}

INSTANTIATE_TEST_SUITE_P(Cases, AreaWindow,
                         ::testing::Values(WindowCase{"JustInside", 1, 1, true},
                                           WindowCase{"MinEqualsArea", 0, 1, false},
                                           WindowCase{"MaxEqualsArea", 1, 0, false}),
                         [](const ::testing::TestParamInfo<WindowCase>& i) {
                           return i.param.name;
                         });

TEST_F(MeasureTest, HoleInTheTopFaceKeepsTheOuterOutline) {
  const cv::Point2f centre = PixelOf(0, 40, 150, kPlatform);
  const FramePair frames = Render(Platform({Box(300, 200, 150, 0, 40, 20)}), [&](auto& depth) {
    CutHole(depth, static_cast<int>(centre.x) + 60, static_cast<int>(centre.y), 20);
  });
  EXPECT_FALSE(Run(frames));
  const double tolerance = kTurnedPixels * PixelMm(kPlatform - 150);
  EXPECT_NEAR(Sides().first, 200, tolerance);
  EXPECT_NEAR(Sides().second, 300, tolerance);
  EXPECT_NEAR(m->z, 150, 1.0);
}

// Without depth at the rectangle's centre pixel nothing of the box is known: all three values come
// out 0 (so that all three are reported empty), not a height equal to the platform distance.
TEST_F(MeasureTest, NoDepthAtTheCentrePixelGivesZeros) {
  const cv::Point2f centre = PixelOf(0, 40, 150, kPlatform);
  const FramePair frames = Render(Platform({Box(300, 200, 150, 0, 40)}), [&](auto& depth) {
    CutHole(depth, static_cast<int>(centre.x), static_cast<int>(centre.y), 4);
  });
  EXPECT_FALSE(Run(frames));
  EXPECT_EQ(m->x, 0);
  EXPECT_EQ(m->y, 0);
  EXPECT_EQ(m->z, 0);
  EXPECT_FALSE(m->MEASURE_ERROR_HANDS_DETECTED);
}

// An arm held above the platform reaches in from the left, turned against the image: the mask cuts
// it at the region's edge and a corner of its rectangle lies beyond the bound.
TEST_F(MeasureTest, ArmFromTheRegionEdgeSetsTheHandsFlagAndKeepsTheValues) {
  EXPECT_FALSE(Run(Platform({Box(600, 80, 60, -420, 40, 15, 300)})));
  EXPECT_TRUE(m->MEASURE_ERROR_HANDS_DETECTED);
  EXPECT_GT(m->x, 0);
  EXPECT_GT(m->y, 0);
  EXPECT_NEAR(m->z, 360, 1.0);
  EXPECT_EQ(out.rfind(kHandsCheckingLine, 0), 0u) << out;
  EXPECT_NE(out.find("Vision: Hands detected! xMin=298.436 xMax=981.564 yMin=128 yMax=672Try to "
                     "measure again.\nVision: HANDS DETECTED\n"),
            std::string::npos)
      << out;
}

struct CutCase {
  const char* name;
  dimcam::SceneBox box;
};
void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class CutSquare : public MeasureTest, public ::testing::WithParamInterface<CutCase> {};

// Cut straight across a region edge, the outline's rectangle keeps its corners on the last kept
// pixels, half a pixel inside the bounds: the corner test answers no, but the outline lies along
// the edge, and the result is flagged all the same rather than reported as a box of the region's
// size.
TEST_P(CutSquare, IsFlagged) {
  EXPECT_FALSE(Run(Platform({GetParam().box})));
  EXPECT_TRUE(m->MEASURE_ERROR_HANDS_DETECTED);
  EXPECT_EQ(out.find("Hands detected!"), std::string::npos) << out;
  EXPECT_NE(out.find("Vision: Object cut by the edge of the measuring region\nVision: HANDS "
                     "DETECTED\n"),
            std::string::npos)
      << out;
  EXPECT_GT(m->x, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CutSquare,
    ::testing::Values(
        // At its top, 700 mm from the camera, the region spans only about 476 mm across.
        CutCase{"BoxLongerThanTheRegion", Box(500, 180, 300, 0, 40)},
        CutCase{"ArmStraightInFromTheLeft", Box(600, 80, 60, -420, 40, 0, 300)},
        CutCase{"BoxOverTheBottomEdge", Box(200, 150, 100, 0, 300)}),
    [](const ::testing::TestParamInfo<CutCase>& i) { return i.param.name; });

TEST_F(MeasureTest, BoxTouchingTheRegionEdgeTurnedIsFlagged) {
  // Region edge on the platform: 340 mm left of the centre; the box's corner crosses it.
  EXPECT_FALSE(Run(Platform({Box(200, 150, 100, -300, 40, 25)})));
  EXPECT_TRUE(m->MEASURE_ERROR_HANDS_DETECTED);
}

TEST_F(MeasureTest, SnapshotsAreWrittenInTrueColoursAndMasked) {
  const FramePair frames = Render(Platform({Box(300, 200, 150, 0, 40)}));
  // The colour the renderer gives the platform, before Measure draws on the frame.
  const auto* rgb = static_cast<const std::uint8_t*>(frames.color.get_data());
  const size_t platformPixel = (static_cast<size_t>(600) * visiontest::kWidth + 400) * 3;
  const cv::Vec3b platformBgr(rgb[platformPixel + 2], rgb[platformPixel + 1], rgb[platformPixel]);
  EXPECT_FALSE(Run(frames));

  for (const char* name : {"ColorImage.png", "DepthImage.png", "photo.png"}) {
    SCOPED_TRACE(name);
    const cv::Mat picture = cv::imread(dir.file(name), cv::IMREAD_COLOR);
    ASSERT_EQ(picture.cols, visiontest::kWidth);
    ASSERT_EQ(picture.rows, visiontest::kHeight);
    EXPECT_EQ(picture.at<cv::Vec3b>(400, 200), cv::Vec3b(0, 0, 0)) << "outside the region";
  }
  const cv::Mat colour = cv::imread(dir.file("ColorImage.png"), cv::IMREAD_COLOR);
  EXPECT_EQ(colour.at<cv::Vec3b>(600, 400), platformBgr);
  const cv::Mat photo = cv::imread(dir.file("photo.png"), cv::IMREAD_COLOR);
  cv::Mat diff;
  cv::absdiff(colour, photo, diff);
  EXPECT_EQ(cv::countNonZero(diff.reshape(1)), 0) << "the photo is the colour snapshot";

  // The outline is red and runs along the box's edge (x = 150 mm, the right side).
  const cv::Point2f right = PixelOf(150, 40, 150, kPlatform);
  bool redNearEdge = false;
  for (int dx = -3; dx <= 3; ++dx) {
    const cv::Vec3b p = colour.at<cv::Vec3b>(cvRound(right.y), cvRound(right.x) + dx);
    redNearEdge = redNearEdge || (p[2] > 200 && p[0] < 60 && p[1] < 60);
  }
  EXPECT_TRUE(redNearEdge);
  EXPECT_FALSE(vision.outputImage.empty());
  EXPECT_FALSE(vision.outputImageWithSize.empty());
}

TEST_F(MeasureTest, NothingIsWrittenWithoutPrintImage) {
  EXPECT_FALSE(Run(Platform({Box(300, 200, 150, 0, 40)}), false));
  EXPECT_GT(m->x, 0);
  EXPECT_FALSE(testsupport::FileExists(dir.file("ColorImage.png")));
  EXPECT_FALSE(testsupport::FileExists(dir.file("DepthImage.png")));
  EXPECT_FALSE(testsupport::FileExists(dir.file("photo.png")));
  EXPECT_FALSE(vision.outputImage.empty());
  EXPECT_TRUE(vision.outputImageWithSize.empty());
}

TEST_F(MeasureTest, SizeLabelsAreDrawnAboveLeftOfTheCentreWhenAsked) {
  const dimcam::Scene scene = Platform({Box(300, 200, 150, 0, 40)});
  ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) {
    c.MAX_DEPTH = kPlatform;
    c.DRAW_SIZE = false;
  }));
  Run(scene);
  const cv::Mat without = cv::imread(dir.file("ColorImage.png"), cv::IMREAD_COLOR);
  ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) { c.MAX_DEPTH = kPlatform; }));
  Run(scene);
  const cv::Mat with = cv::imread(dir.file("ColorImage.png"), cv::IMREAD_COLOR);
  ASSERT_FALSE(without.empty());
  ASSERT_FALSE(with.empty());

  cv::Mat diff;
  cv::absdiff(with, without, diff);
  cv::Mat changed;
  cv::cvtColor(diff, changed, cv::COLOR_BGR2GRAY);
  const cv::Rect where = cv::boundingRect(changed);
  const cv::Point2f centre = PixelOf(0, 40, 150, kPlatform);
  ASSERT_GT(where.area(), 0) << "the labels changed nothing";
  // Anchors at centre - (50, 50), (50, 40), (50, 30): text to the right of x - 50, above y - 30.
  EXPECT_GE(where.x, centre.x - 52);
  EXPECT_LE(where.y + where.height, centre.y - 27);
  EXPECT_GE(where.y, centre.y - 65);
}

TEST_F(MeasureTest, MissingColourFrameStillMeasures) {
  FramePair frames = Render(Platform({Box(300, 200, 150, 0, 40)}));
  frames.color = dimcam::VideoFrame();
  EXPECT_FALSE(Run(frames));
  EXPECT_NEAR(Sides().second, 300, kSquarePixels * PixelMm(kPlatform - 150));
  const cv::Mat colour = cv::imread(dir.file("ColorImage.png"), cv::IMREAD_COLOR);
  ASSERT_FALSE(colour.empty());
  EXPECT_EQ(colour.at<cv::Vec3b>(600, 400), cv::Vec3b(0, 0, 0));
}

TEST_F(MeasureTest, DepthWithoutPixelsIsReportedAndChangesNothing) {
  FramePair frames;
  m->x = 7;
  m->y = 8;
  m->z = 9;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(vision.Measure(frames.depth, frames.color, false, true));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Vision: Image file not found\n");
  EXPECT_EQ(m->x, 7);
  EXPECT_EQ(m->y, 8);
  EXPECT_EQ(m->z, 9);
  EXPECT_FALSE(testsupport::FileExists(dir.file("ColorImage.png")));
}

TEST(PolarToCartesian, ReturnsTheSameFrame) {
  visionmod::Vision vision;
  const FramePair frames = Render(Platform({Box(300, 200, 150, 0, 40)}));
  const dimcam::DepthFrame same = vision.PolarToCartesian(frames.depth);
  EXPECT_TRUE(same == frames.depth);
  EXPECT_EQ(same.get_data(), frames.depth.get_data());
  EXPECT_TRUE(same.get_profile() == frames.depth.get_profile());
}

}  // namespace
