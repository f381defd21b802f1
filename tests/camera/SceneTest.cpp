#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>

#include "camera/Simulated.h"
#include "tests/camera/Capture.h"

namespace {

using dimcam::Scene;
using dimcam::StreamType;

TEST(SceneDocument, TheDocumentedExample) {
  const Scene s = dimcam::ParseScene(R"({"platform_distance_mm": 1000, "fov_deg": [65, 40],
    "boxes": [{"size_mm": [400, 300, 200], "center_mm": [0, 0], "yaw_deg": 30, "elevation_mm": 0}],
    "depth_noise_mm": 0, "hole_fraction": 0, "seed": 1,
    "streams": ["depth", "color"], "stall_after_frames": null})");
  EXPECT_FLOAT_EQ(s.platform_distance_mm, 1000);
  EXPECT_FLOAT_EQ(s.fov_deg[0], 65);
  EXPECT_FLOAT_EQ(s.fov_deg[1], 40);
  ASSERT_EQ(s.boxes.size(), 1u);
  EXPECT_FLOAT_EQ(s.boxes[0].size_mm[0], 400);
  EXPECT_FLOAT_EQ(s.boxes[0].size_mm[1], 300);
  EXPECT_FLOAT_EQ(s.boxes[0].size_mm[2], 200);
  EXPECT_FLOAT_EQ(s.boxes[0].yaw_deg, 30);
  EXPECT_EQ(s.streams, (std::vector<StreamType>{StreamType::Depth, StreamType::Color}));
  EXPECT_FALSE(s.stall_after_frames.has_value());
}

TEST(SceneDocument, EverythingHasADefault) {
  const Scene s = dimcam::ParseScene(R"({"_note": "an empty platform", "stall_after_frames": 4})");
  EXPECT_FLOAT_EQ(s.platform_distance_mm, 1000);
  EXPECT_TRUE(s.boxes.empty());
  EXPECT_EQ(s.streams.size(), 2u);
  EXPECT_EQ(s.seed, 1u);
  ASSERT_TRUE(s.stall_after_frames.has_value());
  EXPECT_EQ(*s.stall_after_frames, 4u);
  const Scene box = dimcam::ParseScene(R"({"boxes": [{"size_mm": [1, 2, 3]}]})");
  EXPECT_FLOAT_EQ(box.boxes.at(0).center_mm[0], 0);
  EXPECT_FLOAT_EQ(box.boxes.at(0).elevation_mm, 0);
}

struct BadScene {
  const char* name;
  const char* json;
  const char* mentions;  // the error names what is wrong
};
void PrintTo(const BadScene& c, std::ostream* os) { *os << c.name; }

class InvalidScene : public ::testing::TestWithParam<BadScene> {};

TEST_P(InvalidScene, IsRefusedWithAReason) {
  try {
    dimcam::ParseScene(GetParam().json);
    FAIL() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().mentions), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InvalidScene,
    ::testing::Values(
        BadScene{"NotJson", R"({"boxes": [)", "not valid JSON"},
        BadScene{"NotAnObject", R"([1, 2])", "expected a JSON object"},
        BadScene{"MisspeltMember", R"({"box": []})", "unknown member \"box\""},
        BadScene{"PlatformZero", R"({"platform_distance_mm": 0})", "platform_distance_mm"},
        BadScene{"PlatformText", R"({"platform_distance_mm": "1000"})", "platform_distance_mm"},
        BadScene{"FovOneAngle", R"({"fov_deg": [65]})", "fov_deg"},
        BadScene{"FovZero", R"({"fov_deg": [0, 40]})", "fov_deg"},
        BadScene{"BoxesNotArray", R"({"boxes": 3})", "boxes"},
        BadScene{"BoxWithoutSize", R"({"boxes": [{"center_mm": [0, 0]}]})", "size_mm"},
        BadScene{"BoxNegativeSize", R"({"boxes": [{"size_mm": [400, -3, 200]}]})",
                 "boxes[0].size_mm"},
        BadScene{"BoxUnknownMember", R"({"boxes": [{"size_mm": [1, 1, 1], "yaw": 3}]})",
                 "unknown member \"yaw\""},
        BadScene{"BoxBelowPlatform", R"({"boxes": [{"size_mm": [1, 1, 1], "elevation_mm": -5}]})",
                 "elevation_mm"},
        BadScene{"BoxReachesCamera", R"({"boxes": [{"size_mm": [1, 1, 990], "elevation_mm": 20}]})",
                 "reaches the camera"},
        BadScene{"NegativeNoise", R"({"depth_noise_mm": -1})", "depth_noise_mm"},
        BadScene{"HoleFractionAboveOne", R"({"hole_fraction": 1.5})", "hole_fraction"},
        BadScene{"SeedFraction", R"({"seed": 1.5})", "seed"},
        BadScene{"UnknownStream", R"({"streams": ["depth", "lidar"]})", "lidar"},
        BadScene{"StreamTwice", R"({"streams": ["depth", "depth"]})", "twice"},
        BadScene{"StallNegative", R"({"stall_after_frames": -1})", "stall_after_frames"}),
    cameratest::CaseName());

TEST(SceneFile, MissingFileIsRefused) {
  EXPECT_THROW(dimcam::LoadSceneFile("/nonexistent/scene.json"), std::invalid_argument);
}

}  // namespace
