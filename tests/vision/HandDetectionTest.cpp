#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "vision/Vision.h"

namespace {

using visionmod::Vision;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The bounds the measurement derives in the worked example (1280 x 720, platform at 1000 mm,
// preset region and field of view, REGION_OFFSET_Y 40).
struct Bounds {
  float xMin, yMin, xMax, yMax;
};
constexpr Bounds kWorked{298.43643f, 127.99973f, 981.56360f, 672.00024f};
constexpr float kXMax = kWorked.xMax;
constexpr float kYMin = kWorked.yMin;
const char* const kWorkedMessage =
    "Vision: Hands detected! xMin=298.436 xMax=981.564 yMin=128 yMax=672Try to measure again.\n";

struct HandsCase {
  const char* name;
  std::array<cv::Point2f, 4> corners;
  bool hands;
  const char* message;  // full console output of the call
  Bounds bounds = kWorked;
};
void PrintTo(const HandsCase& c, std::ostream* os) { *os << c.name; }

class CheckHandsTable : public ::testing::TestWithParam<HandsCase> {};

TEST_P(CheckHandsTable, AnswersAndPrints) {
  const HandsCase& c = GetParam();
  Vision vision;
  std::array<cv::Point2f, 4> corners = c.corners;
  testing::internal::CaptureStdout();
  const bool hands =
      vision.CheckHands(corners.data(), c.bounds.xMin, c.bounds.yMin, c.bounds.xMax, c.bounds.yMax);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(hands, c.hands);
  EXPECT_EQ(out, c.message);
}

const cv::Point2f kIn1(400, 300), kIn2(400, 200), kIn3(600, 200), kIn4(600, 300);

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckHandsTable,
    ::testing::Values(
        HandsCase{"AllInside", {kIn1, kIn2, kIn3, kIn4}, false, ""},
        // A blob cut square by the mask lies on the outermost kept pixels, still inside.
        HandsCase{
            "CutSquareByTheMask", {{{299, 672}, {299, 128}, {981, 128}, {981, 672}}}, false, ""},
        HandsCase{"FirstCornerBeyondLeft", {{{250, 300}, kIn2, kIn3, kIn4}}, true, kWorkedMessage},
        HandsCase{
            "LastCornerOnRightBound", {{kIn1, kIn2, kIn3, {kXMax, 300}}}, true, kWorkedMessage},
        HandsCase{"OnTopBound", {{kIn1, {400, kYMin}, kIn3, kIn4}}, true, kWorkedMessage},
        HandsCase{"BeyondBottom", {{kIn1, kIn2, kIn3, {600, 700}}}, true, kWorkedMessage},
        HandsCase{"TurnedCornerJustInside", {{{298.437f, 400}, kIn2, kIn3, kIn4}}, false, ""},
        HandsCase{"OnZeroBoundOfAFullWidthRegion",
                  {{{0, 300}, kIn2, kIn3, kIn4}},
                  true,
                  "Vision: Hands detected! xMin=0 xMax=1280 yMin=0 yMax=720Try to measure again.\n",
                  {0, 0, 1280, 720}},
        HandsCase{"SeveralOutsideReportedOnce",
                  {{{-5, -5}, {2000, -5}, {2000, 900}, {-5, 900}}},
                  true,
                  kWorkedMessage},
        HandsCase{"NotANumberCountsAsInside",
                  {{{kNaN, kNaN}, {kNaN, 200}, {400, kNaN}, kIn4}},
                  false,
                  ""}),
    [](const ::testing::TestParamInfo<HandsCase>& i) { return i.param.name; });

}  // namespace
