#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

#include "camera/Types.h"
#include "tests/camera/Capture.h"

namespace {

using dimcam::DistortionModel;
using dimcam::Intrinsics;

Intrinsics Make(DistortionModel model, float k1 = 0, float k2 = 0, float p1 = 0, float p2 = 0,
                float k3 = 0) {
  Intrinsics in;
  in.width = 640;
  in.height = 480;
  in.ppx = 320;
  in.ppy = 240;
  in.fx = 500;
  in.fy = 400;
  in.model = model;
  in.coeffs[0] = k1;
  in.coeffs[1] = k2;
  in.coeffs[2] = p1;
  in.coeffs[3] = p2;
  in.coeffs[4] = k3;
  return in;
}

struct HandCase {
  const char* name;
  Intrinsics in;
  float pixel[2];
  float depth;
  float expected[3];
};
void PrintTo(const HandCase& c, std::ostream* os) { *os << c.name; }

class DeprojectByHand : public ::testing::TestWithParam<HandCase> {};

TEST_P(DeprojectByHand, GivesThePointComputedByHand) {
  const HandCase& c = GetParam();
  float point[3];
  dimcam::DeprojectPixelToPoint(point, c.in, c.pixel, c.depth);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(point[i], c.expected[i], 1e-5) << "coordinate " << i;
}

// Brown-Conrady with k1 = 0.1: the undistorted point (0.5, 0) is seen at x' = 0.5 * (1 + 0.1 *
// 0.25) = 0.5125, i.e. column 320 + 500 * 0.5125 = 576.25. The inverse model reads the same
// coefficient as the correction itself: x = 0.5 * 1.025 = 0.5125 at column 570.
INSTANTIATE_TEST_SUITE_P(
    Cases, DeprojectByHand,
    ::testing::Values(
        HandCase{"PrincipalPoint", Make(DistortionModel::None), {320, 240}, 1.5f, {0, 0, 1.5f}},
        HandCase{"PinholeFar", Make(DistortionModel::None), {820, 640}, 2.0f, {2.0f, 2.0f, 2.0f}},
        HandCase{
            "PinholeNear", Make(DistortionModel::None), {70, 40}, 0.5f, {-0.25f, -0.25f, 0.5f}},
        HandCase{"ZeroDepth", Make(DistortionModel::None), {70, 40}, 0.0f, {0, 0, 0}},
        HandCase{"BrownConradyZeroCoefficients",
                 Make(DistortionModel::BrownConrady),
                 {820, 640},
                 2.0f,
                 {2.0f, 2.0f, 2.0f}},
        HandCase{"BrownConradyRadial",
                 Make(DistortionModel::BrownConrady, 0.1f),
                 {576.25f, 240},
                 1.0f,
                 {0.5f, 0, 1.0f}},
        HandCase{"InverseBrownConradyRadial",
                 Make(DistortionModel::InverseBrownConrady, 0.1f),
                 {570, 240},
                 1.0f,
                 {0.5125f, 0, 1.0f}}),
    cameratest::CaseName());

struct ModelCase {
  const char* name;
  Intrinsics in;
};
void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class ProjectionRoundTrip : public ::testing::TestWithParam<ModelCase> {};

// Deprojection undoes the lens; projecting the point again must land on the same pixel, all over
// the image.
TEST_P(ProjectionRoundTrip, ProjectUndoesDeproject) {
  const Intrinsics& in = GetParam().in;
  for (float v = 0; v < 480; v += 47) {
    for (float u = 0; u < 640; u += 53) {
      const float pixel[2] = {u, v};
      float point[3];
      dimcam::DeprojectPixelToPoint(point, in, pixel, 1.7f);
      EXPECT_FLOAT_EQ(point[2], 1.7f);
      float back[2];
      dimcam::ProjectPointToPixel(back, in, point);
      EXPECT_NEAR(back[0], u, 2e-3) << "at " << u << "," << v;
      EXPECT_NEAR(back[1], v, 2e-3) << "at " << u << "," << v;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, ProjectionRoundTrip,
    ::testing::Values(ModelCase{"None", Make(DistortionModel::None)},
                      ModelCase{"BrownConrady", Make(DistortionModel::BrownConrady, 0.08f, -0.03f,
                                                     0.001f, -0.002f, 0.005f)},
                      ModelCase{"InverseBrownConrady", Make(DistortionModel::InverseBrownConrady,
                                                            -0.05f, 0.01f, 0.001f, 0.0005f, 0.0f)},
                      ModelCase{"ModifiedBrownConrady", Make(DistortionModel::ModifiedBrownConrady,
                                                             0.06f, 0.0f, 0.002f, 0.001f)},
                      ModelCase{"KannalaBrandt4", Make(DistortionModel::KannalaBrandt4, -0.01f,
                                                       0.003f, -0.001f, 0.0002f)},
                      ModelCase{"FThetaFisheye", Make(DistortionModel::FThetaFisheye, 0.9f)}),
    cameratest::CaseName());

TEST(PinholeIntrinsics, FocalLengthsFromTheFieldOfView) {
  const Intrinsics in = dimcam::PinholeIntrinsics(1280, 720, 65, 40);
  EXPECT_EQ(in.width, 1280);
  EXPECT_EQ(in.height, 720);
  EXPECT_FLOAT_EQ(in.ppx, 640);
  EXPECT_FLOAT_EQ(in.ppy, 360);
  EXPECT_NEAR(in.fx, 640 / std::tan(32.5 * M_PI / 180), 1e-3);
  EXPECT_NEAR(in.fy, 360 / std::tan(20 * M_PI / 180), 1e-3);
  EXPECT_EQ(in.model, DistortionModel::None);
  // The whole width spans 2 d tan(fov/2): at 1 m the edge column lies 637 mm off the axis.
  const float edge[2] = {0, 360};
  float point[3];
  dimcam::DeprojectPixelToPoint(point, in, edge, 1.0f);
  EXPECT_NEAR(point[0], -std::tan(32.5 * M_PI / 180), 1e-6);
}

TEST(CameraError, CarriesFunctionArgumentsAndMessage) {
  try {
    throw dimcam::InvalidValueError("bad value", "set_option", "option:Visual Preset, value:9");
  } catch (const dimcam::Error& e) {
    EXPECT_STREQ(e.what(), "bad value");
    EXPECT_EQ(e.get_failed_function(), "set_option");
    EXPECT_EQ(e.get_failed_args(), "option:Visual Preset, value:9");
  }
}

}  // namespace
