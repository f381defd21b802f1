// The station started on the simulated camera.
#include <gtest/gtest.h>

#include <string>

#include "tests/camera/Capture.h"
#include "tests/support/StationProcess.h"

namespace {

using testsupport::RunFolder;
using testsupport::StationProcess;
using namespace std::chrono_literals;

const char* kCantInit = "ERROR[VISION MODULE] : Can't init.\n";

TEST(CameraE2E, SimulatedCameraIsInitialised) {
  RunFolder run;
  testsupport::WriteFile(run.file("scene.json"),
                         R"({"boxes": [{"size_mm": [400, 300, 200], "yaw_deg": 30}]})");
  StationProcess station(run.path(), {"disable_scales", "disable_automeasure"},
                         {{"DIMCORE_CAMERA_SCENE", run.file("scene.json")}});
  ASSERT_TRUE(station.WaitForStdout("Vision: Set MAX_DIST1 = 16\n", 20s))
      << station.Stdout() << station.Stderr();
  EXPECT_EQ(station.Stderr().find(kCantInit), std::string::npos) << station.Stderr();
  EXPECT_TRUE(station.Running());
}

struct FailingScene {
  const char* name;
  const char* scene;  // nullptr: no file
  std::string stderrLines;
};
void PrintTo(const FailingScene& c, std::ostream* os) { *os << c.name; }

class CameraCannotInit : public ::testing::TestWithParam<FailingScene> {};

// A camera that cannot be used stops the station with the module's message.
TEST_P(CameraCannotInit, ReportsAndStops) {
  RunFolder run;
  if (GetParam().scene != nullptr) testsupport::WriteFile(run.file("scene.json"), GetParam().scene);
  StationProcess station(run.path(), {"disable_scales"},
                         {{"DIMCORE_CAMERA_SCENE", run.file("scene.json")}});
  ASSERT_TRUE(station.WaitForExit(20s)) << station.Stdout() << station.Stderr();
  EXPECT_EQ(station.ExitStatus(), 0);
  EXPECT_NE(station.Stderr().find(GetParam().stderrLines + kCantInit), std::string::npos)
      << station.Stderr();
  EXPECT_EQ(station.Stdout().find("Set MAX_DIST1"), std::string::npos);
  EXPECT_NE(station.Stdout().find("CORE: APPLICATION EXITING"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CameraCannotInit,
    ::testing::Values(FailingScene{"WithoutColour", R"({"streams": ["depth"]})",
                                   "The demo requires Realsense camera with RGB sensor\n"},
                      FailingScene{"MissingSceneFile", nullptr,
                                   "The demo requires Realsense camera with RGB sensor\n"
                                   "The demo requires Realsense camera with DEPTH sensor\n"},
                      FailingScene{"InvalidSceneFile", R"({"boxes": [{"size_mm": [400, 300]}]})",
                                   "The demo requires Realsense camera with RGB sensor\n"
                                   "The demo requires Realsense camera with DEPTH sensor\n"}),
    cameratest::CaseName());

TEST(CameraE2E, InvalidSceneIsExplained) {
  RunFolder run;
  testsupport::WriteFile(run.file("scene.json"), R"({"boxes": [{"size_mm": [400, 300]}]})");
  StationProcess station(run.path(), {"disable_scales"},
                         {{"DIMCORE_CAMERA_SCENE", run.file("scene.json")}});
  ASSERT_TRUE(station.WaitForExit(20s));
  EXPECT_NE(station.Stderr().find("Simulated camera: cannot use the scene file \"" +
                                  run.file("scene.json") +
                                  "\": boxes[0].size_mm: expected an array of 3 numbers\n"),
            std::string::npos)
      << station.Stderr();
}

}  // namespace
