// The footprint measuring method through Measure on rendered frames, beside the contour method:
// accuracy on the boxes of the model that motivated it, a hole under the centre, a box too large
// for the view, the drawn outline, and the depth of the top face.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/vision/VisionTestSupport.h"
#include "vision/Footprint.h"
#include "vision/Vision.h"

namespace {

using visiontest::Box;
using visiontest::CutHole;
using visiontest::FramePair;
using visiontest::kHandsCheckingLine;
using visiontest::kPlatform;
using visiontest::PixelOf;
using visiontest::Platform;
using visiontest::Render;
using visiontest::UseConfiguration;

// Measure with a chosen method on rendered frames (see MeasureFixture).
class MethodTest : public visiontest::MeasureFixture {
 protected:
  // Results in `m` (sides also as shorter/longer), console output in `out`.
  void Run(MeasuringMethod method, const FramePair& frames, bool printImage = true) {
    CoreParams::getInstance()->MeasureMethod = method;
    EXPECT_FALSE(MeasureFrames(frames, printImage));
    shorter = std::min(m->x, m->y);
    longer = std::max(m->x, m->y);
  }

  float shorter = 0;
  float longer = 0;
};

// Boxes lying wholly inside the measuring region, and what the contour method makes of them: off
// the optical axis it also takes in the upper part of the wall facing the axis, placed at the depth
// of the top, and reports the sides too long.
struct ModelCase {
  const char* name;
  dimcam::SceneBox box;
  float contourErrX;  // the contour method's error of the shorter side, mm
  float contourErrY;  // and of the longer side
};
void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

const ModelCase kModelCases[] = {
    {"Large400x300x200Centred", Box(400, 300, 200, 0, 0), -0.7f, -0.2f},
    {"Turned30Centred", Box(300, 200, 150, 0, 0, 30), 0.0f, 2.4f},
    {"Tall200x160x300OffAxis", Box(200, 160, 300, 120, 100), 4.9f, 4.9f},
    {"Medium200x150x150FarOff", Box(200, 150, 150, 180, 140), 7.3f, 9.0f},
    {"Small150x100x80FarOff", Box(150, 100, 80, 230, 180), 6.0f, 7.5f},
    {"Small120x80x60OtherQuadrant", Box(120, 80, 60, -220, -150), 1.7f, 4.4f},
};

class ModelBoxes : public MethodTest, public ::testing::WithParamInterface<ModelCase> {
 protected:
  float TrueShorter() const {
    return std::min(GetParam().box.size_mm[0], GetParam().box.size_mm[1]);
  }
  float TrueLonger() const {
    return std::max(GetParam().box.size_mm[0], GetParam().box.size_mm[1]);
  }
  float TrueHeight() const { return GetParam().box.size_mm[2]; }
};

TEST_P(ModelBoxes, FootprintWithinTwoMillimetresWithoutNoise) {
  Run(MeasuringMethod::Footprint, Render(Platform({GetParam().box})));
  EXPECT_NEAR(shorter, TrueShorter(), 2.0);
  EXPECT_NEAR(longer, TrueLonger(), 2.0);
  EXPECT_NEAR(m->z, TrueHeight(), 2.0);
  EXPECT_FALSE(m->MEASURE_ERROR_HANDS_DETECTED);
  EXPECT_EQ(out, kHandsCheckingLine) << "the same console lines as the contour method";
}

// Camera-class noise (1.5 mm at 1 m, growing with the square of the distance) and 2 % of pixels
// without depth, over several frames.
TEST_P(ModelBoxes, FootprintWithinThreeMillimetresWithNoiseAndHoles) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Run(MeasuringMethod::Footprint, Render(Platform({GetParam().box}, 1.5f, 0.02f, seed)));
    EXPECT_NEAR(shorter, TrueShorter(), 3.0);
    EXPECT_NEAR(longer, TrueLonger(), 3.0);
    EXPECT_NEAR(m->z, TrueHeight(), 3.0);
    EXPECT_FALSE(m->MEASURE_ERROR_HANDS_DETECTED);
  }
}

// The default method is the one the station always had: the same errors as the model of it.
TEST_P(ModelBoxes, ContourKeepsItsKnownErrors) {
  Run(MeasuringMethod::Contour, Render(Platform({GetParam().box})));
  EXPECT_NEAR(shorter - TrueShorter(), GetParam().contourErrX, 1.0);
  EXPECT_NEAR(longer - TrueLonger(), GetParam().contourErrY, 1.0);
  EXPECT_NEAR(m->z, TrueHeight(), 1.0);
  EXPECT_FALSE(m->MEASURE_ERROR_HANDS_DETECTED);
  EXPECT_EQ(out, kHandsCheckingLine);
}

INSTANTIATE_TEST_SUITE_P(Cases, ModelBoxes, ::testing::ValuesIn(kModelCases),
                         [](const ::testing::TestParamInfo<ModelCase>& i) { return i.param.name; });

// A hole under the rectangle's centre: the contour method reads its one depth there and knows
// nothing; the footprint takes its depth from the whole top face.
TEST_F(MethodTest, HoleUnderTheCentre) {
  const cv::Point2f centre = PixelOf(0, 40, 150, kPlatform);
  const FramePair frames = Render(Platform({Box(300, 200, 150, 0, 40)}), [&](auto& depth) {
    CutHole(depth, static_cast<int>(centre.x), static_cast<int>(centre.y), 4);
  });
  Run(MeasuringMethod::Contour, frames, false);
  EXPECT_EQ(m->x, 0);
  EXPECT_EQ(m->z, 0);
  Run(MeasuringMethod::Footprint, frames, false);
  EXPECT_NEAR(shorter, 200, 2.0);
  EXPECT_NEAR(longer, 300, 2.0);
  EXPECT_NEAR(m->z, 150, 2.0);
}

// A box too large for the view at its height is cut by the region (or the image) and must come
// out flagged, whichever method measures it, rather than as a box of the region's size.
struct TooLargeCase {
  const char* name;
  dimcam::SceneBox box;
  float regionWidthMm;  // REGION_WIDTH; 1900 makes the region the whole width of the image
};
void PrintTo(const TooLargeCase& c, std::ostream* os) { *os << c.name; }

class TooLarge : public MethodTest, public ::testing::WithParamInterface<TooLargeCase> {};

TEST_P(TooLarge, IsFlaggedWithEitherMethod) {
  ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) {
    c.MAX_DEPTH = kPlatform;
    c.REGION_WIDTH = GetParam().regionWidthMm;
  }));
  for (MeasuringMethod method : {MeasuringMethod::Contour, MeasuringMethod::Footprint}) {
    SCOPED_TRACE(method == MeasuringMethod::Contour ? "contour" : "footprint");
    Run(method, Render(Platform({GetParam().box})));
    EXPECT_TRUE(m->MEASURE_ERROR_HANDS_DETECTED) << out;
    EXPECT_NE(out.find("Vision: HANDS DETECTED\n"), std::string::npos) << out;
    EXPECT_GT(m->x, 0) << "the values are still reported";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TooLarge,
    ::testing::Values(
        // At its top, 700 mm from the camera, the region spans only about 476 mm across.
        TooLargeCase{"LongerThanTheRegionAtItsTop", Box(500, 180, 300, 0, 40), 680},
        // 600 mm from the camera the region spans about 410 mm; turned, a corner crosses it.
        TooLargeCase{"TallAndTurnedPastTheRegion", Box(420, 120, 400, 0, 40, 20), 680},
        // The image spans about 1150 mm at 900 mm from the camera.
        TooLargeCase{"WiderThanTheImage", Box(1300, 100, 100, 0, 40), 1900}),
    [](const ::testing::TestParamInfo<TooLargeCase>& i) { return i.param.name; });

bool RedNear(const cv::Mat& picture, cv::Point2f at, int reach) {
  for (int dx = -reach; dx <= reach; ++dx) {
    const cv::Vec3b p = picture.at<cv::Vec3b>(cvRound(at.y), cvRound(at.x) + dx);
    if (p[2] > 200 && p[0] < 60 && p[1] < 60) return true;
  }
  return false;
}

// The outline drawn is the fitted rectangle seen at the top face: off the axis it runs along the
// top's edge, not along the foot of the wall the camera sees, where the contour method draws it.
TEST_F(MethodTest, FootprintOutlineRunsAlongTheTopFace) {
  const dimcam::SceneBox box = Box(200, 150, 150, 180, 140);
  const cv::Point2f topEdge = PixelOf(80, 140, 150, kPlatform);  // left edge of the top
  const cv::Point2f wallFoot = PixelOf(80, 140, 30, kPlatform);  // lowest wall pixels seen
  ASSERT_GT(topEdge.x - wallFoot.x, 8) << "the two must lie apart";

  Run(MeasuringMethod::Footprint, Render(Platform({box})));
  cv::Mat colour = cv::imread(dir.file("ColorImage.png"), cv::IMREAD_COLOR);
  ASSERT_FALSE(colour.empty());
  EXPECT_TRUE(RedNear(colour, topEdge, 2));
  EXPECT_FALSE(RedNear(colour, wallFoot, 2));

  Run(MeasuringMethod::Contour, Render(Platform({box})));
  colour = cv::imread(dir.file("ColorImage.png"), cv::IMREAD_COLOR);
  EXPECT_TRUE(RedNear(colour, wallFoot, 2));
  EXPECT_FALSE(RedNear(colour, topEdge, 2));
}

TEST_F(MethodTest, FootprintOfAnEmptyPlatformIsEmpty) {
  Run(MeasuringMethod::Footprint, Render(Platform({})));
  EXPECT_EQ(m->x, 0);
  EXPECT_EQ(m->y, 0);
  EXPECT_EQ(m->z, 0);
  EXPECT_FALSE(m->MEASURE_ERROR_HANDS_DETECTED);
  EXPECT_EQ(out, "");
}

// The depth of the top face from the counts of depth values (1 unit steps).
struct TopCase {
  const char* name;
  std::vector<std::pair<int, int>> counts;  // (value, count)
  int window;
  double expected;
};
void PrintTo(const TopCase& c, std::ostream* os) { *os << c.name; }

class TopFace : public ::testing::TestWithParam<TopCase> {};

TEST_P(TopFace, IsTheMedianOfTheNearestCluster) {
  const TopCase& c = GetParam();
  int first = 1 << 30;
  int last = 0;
  for (const auto& [value, count] : c.counts) {
    first = std::min(first, value);
    last = std::max(last, value);
  }
  std::vector<int> histogram(c.counts.empty() ? 0 : static_cast<size_t>(last - first + 1), 0);
  for (const auto& [value, count] : c.counts) histogram[value - first] += count;
  EXPECT_NEAR(visionmod::TopFaceDepth(histogram, c.counts.empty() ? 0 : first, c.window),
              c.expected, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TopFace,
    ::testing::Values(
        TopCase{"Empty", {}, 20, 0}, TopCase{"OneValue", {{850, 1000}}, 20, 850},
        // Spread evenly over three steps: the middle of the middle step.
        TopCase{"EvenSpread", {{849, 100}, {850, 100}, {851, 100}}, 20, 850},
        // A few stray values in front of the top are not the top.
        TopCase{"StraysInFront", {{700, 3}, {760, 2}, {850, 1000}}, 20, 850},
        // The side wall seen behind the top, spread over the wall's height, leaves it alone.
        TopCase{"WallBehind",
                {{850, 1000}, {860, 20}, {880, 20}, {900, 20}, {920, 20}, {940, 20}},
                20,
                850.0 - 0.5 + 510.0 / 1000},
        // Two faces: the nearer one counts when it holds a tenth of the pixels.
        TopCase{"NearerSmallerFace", {{700, 200}, {850, 1000}}, 20, 700}),
    [](const ::testing::TestParamInfo<TopCase>& i) { return i.param.name; });

}  // namespace
