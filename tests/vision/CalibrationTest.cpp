#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/vision/VisionTestSupport.h"
#include "vision/Vision.h"

namespace {

using visiontest::UseConfiguration;

// A 1280 x 720 depth frame with every pixel at `everywhere` and the centre pixel (640, 360) at
// `centre`, in depth units of `units` metres.
dimcam::DepthFrame Frame(std::uint16_t centre, std::uint16_t everywhere, float units = 0.001f) {
  const dimcam::Intrinsics intrinsics = dimcam::PinholeIntrinsics(1280, 720, 65, 40);
  std::vector<std::uint16_t> values(1280 * 720, everywhere);
  values[360 * 1280 + 640] = centre;
  return dimcam::MakeDepthFrame(intrinsics, std::move(values), units);
}

struct CalibrationCase {
  const char* name;
  dimcam::DepthFrame (*frame)();
  bool accepted;
  float maxDepth;     // MAX_DEPTH afterwards
  float filterLimit;  // the filter's far limit afterwards, metres
  const char* output;
};
void PrintTo(const CalibrationCase& c, std::ostream* os) { *os << c.name; }

class FixMaxDistance : public ::testing::TestWithParam<CalibrationCase> {
 protected:
  void SetUp() override {
    // A near limit that is not the default, to see it carried through.
    ASSERT_TRUE(UseConfiguration([](ConfigurationStruct& c) { c.MIN_DEPTH = 0.5f; }));
    vision.thrFilter.set_option(dimcam::Option::MaxDistance, 16.0f);
  }
  visionmod::Vision vision;
};

TEST_P(FixMaxDistance, AcceptsOrRefusesThePlatformDistance) {
  const CalibrationCase& c = GetParam();
  testing::internal::CaptureStdout();
  const bool accepted = vision.FixMaxDistance(c.frame());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
  EXPECT_EQ(accepted, c.accepted);
  const auto depth = Configuration::getInstance()->GetDepth();
  EXPECT_EQ(depth.first, 0.5f) << "MIN_DEPTH is carried through unchanged";
  EXPECT_EQ(depth.second, c.maxDepth);
  EXPECT_EQ(vision.thrFilter.get_option(dimcam::Option::MaxDistance), c.filterLimit);
  EXPECT_EQ(vision.thrFilter.get_option(dimcam::Option::MinDistance), 0.15f)
      << "the near limit is Init's business";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FixMaxDistance,
    ::testing::Values(
        CalibrationCase{"OnePointTwoMetres", [] { return Frame(1200, 1200); }, true, 1200, 1.17f,
                        "Vision: Set MAX_DIST2 = 1.17\nMax distance fixed in 1200.000000 mm\n\n"},
        // 310 units of 0.1 mm come out as exactly 31 mm in single precision.
        CalibrationCase{"ThirtyOneMillimetres", [] { return Frame(310, 310, 0.0001f); }, true, 31,
                        0.001f,
                        "Vision: Set MAX_DIST2 = 0.001\nMax distance fixed in 31.000000 mm\n\n"},
        CalibrationCase{"OnlyTheCentrePixelCounts", [] { return Frame(1200, 0); }, true, 1200,
                        1.17f,
                        "Vision: Set MAX_DIST2 = 1.17\nMax distance fixed in 1200.000000 mm\n\n"},
        CalibrationCase{"ThirtyPointNineMillimetres", [] { return Frame(309, 309, 0.0001f); },
                        false, 16, 16.0f, "Vision: Distance <= 0\n"},
        CalibrationCase{"NoDepthAtTheCentre", [] { return Frame(0, 1200); }, false, 16, 16.0f,
                        "Vision: Distance <= 0\n"}),
    [](const ::testing::TestParamInfo<CalibrationCase>& i) { return i.param.name; });

TEST(CentreDistance, IsTheCentrePixelInMillimetres) {
  visionmod::Vision vision;
  EXPECT_NEAR(vision.GetCenterDistanceMm(Frame(1234, 500)), 1234.0, 1e-3);
  EXPECT_NEAR(vision.GetMinDistanceMm(Frame(1234, 500)), 1234.0, 1e-3)
      << "not a minimum over the frame";
  EXPECT_NEAR(vision.GetCenterDistanceMm(Frame(309, 0, 0.0001f)), 30.9, 1e-4);
}

}  // namespace
