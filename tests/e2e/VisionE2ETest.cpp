// The whole station on the simulated camera (and without a scale): start-up calibration and first
// measurement, failures of the camera, and measurements and calibrations asked for through the
// exchange files.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "tests/support/StationProcess.h"

namespace {

using nlohmann::json;
using testsupport::FileExists;
using testsupport::RunFolder;
using testsupport::StationProcess;
using testsupport::WaitUntil;
using namespace std::chrono_literals;

const std::vector<std::string> kWords = {"disable_scales", "disable_automeasure"};

json Box(double l, double w, double h, double x, double y, double yaw = 0, double lift = 0) {
  return {{"size_mm", {l, w, h}}, {"center_mm", {x, y}}, {"yaw_deg", yaw}, {"elevation_mm", lift}};
}

json Scene(std::vector<json> boxes = {}, double platform = 1000) {
  return {{"platform_distance_mm", platform}, {"boxes", boxes}};
}

// A run folder with a scene file for the simulated camera, and the station on it.
class SimulatedStation {
 public:
  explicit SimulatedStation(const json& scene, std::vector<std::string> words = kWords) {
    Show(scene);
    station = std::make_unique<StationProcess>(
        run.path(), words,
        std::map<std::string, std::string>{{"DIMCORE_CAMERA_SCENE", scenePath()}});
  }
  std::string scenePath() const { return run.file("scene.json"); }
  // Changes what the camera sees; the next frame shows it.
  void Show(const json& scene) const {
    testsupport::WriteFileAtomically(scenePath(), scene.dump());
  }

  // Start-up calibration and the unasked first measurement done (its last act is the photo, written
  // in place: only a complete one counts). A request that came while that measurement was under way
  // would get its result.
  bool Calibrated() {
    return station->WaitForStdout("Vision: Calibrate 2 \n\n", 20s) &&
           WaitUntil([&] { return testsupport::PngComplete(run.photo()); }, 10s);
  }

  // True when the command server answers; a server that is still a stub never does.
  bool ServerAnswers() {
    testsupport::WriteFileAtomically(run.request(), R"({"COMMAND":"PING"})");
    if (!station->WaitForStdout("ServerJson: ", 5s)) return false;
    const bool answered = WaitUntil([&] { return FileExists(run.response()); }, 10s);
    std::remove(run.response().c_str());
    return answered;
  }

  // Sends a request and returns the parsed response (null when none came).
  json Ask(const std::string& command) {
    std::remove(run.response().c_str());
    testsupport::WriteFileAtomically(run.request(), json{{"COMMAND", command}}.dump());
    if (!WaitUntil([&] { return FileExists(run.response()); }, 30s)) return json();
    const std::string text = testsupport::ReadFile(run.response());
    std::remove(run.response().c_str());
    return json::parse(text, nullptr, false);
  }

  RunFolder run;
  std::unique_ptr<StationProcess> station;
};

// Positions of the needles in the text, in order; npos for the first one missing.
bool InOrder(const std::string& text, const std::vector<std::string>& needles) {
  size_t at = 0;
  for (const std::string& n : needles) {
    at = text.find(n, at);
    if (at == std::string::npos) return false;
    at += n.size();
  }
  return true;
}

TEST(VisionStation, CalibratesAndMeasuresAtStartUpUnasked) {
  // A box beside the centre pixel, which the calibration reads.
  SimulatedStation s(Scene({Box(200, 150, 120, 170, 40)}));
  ASSERT_TRUE(s.Calibrated()) << s.station->Stdout() << s.station->Stderr();
  ASSERT_TRUE(s.station->WaitForStdout("HANDS_CHECKING_TEST1: ", 20s)) << s.station->Stdout();
  EXPECT_TRUE(InOrder(
      s.station->Stdout(),
      {"Vision: Set MAX_DIST1 = 16\n", "Vision: Calibrate 1 \n\n", "Vision: Set MAX_DIST2 = 0.97\n",
       "Max distance fixed in 1000.000000 mm\n\n", "Vision: Calibrate 2 \n\n",
       "HANDS_CHECKING_TEST1: regionWidthInPx+configuration->GetRegionOffset()"
       ".first=683.127 regionHeightInPx+configuration->GetRegionOffset().second="
       "584.001 off=40\n"}))
      << s.station->Stdout();

  // The snapshots land in the run folder (DIMCORE_SNAPSHOT_DIR), the photo at PhotoPath.
  for (const std::string& file :
       {s.run.file("ColorImage.png"), s.run.file("DepthImage.png"), s.run.photo()}) {
    ASSERT_TRUE(WaitUntil([&] { return FileExists(file); }, 10s)) << file;
    const cv::Mat picture = cv::imread(file, cv::IMREAD_COLOR);
    EXPECT_EQ(picture.cols, 1280) << file;
    EXPECT_EQ(picture.rows, 720) << file;
  }

  s.station->Signal(SIGTERM);
  ASSERT_TRUE(s.station->WaitForExit(10s));
  EXPECT_EQ(s.station->ExitStatus(), 0);
  EXPECT_EQ(s.station->Stderr(), "");
}

// A camera that stops delivering frames: after the frame wait (15 s) the camera error, the
// operator pause (standard input is at its end), and the whole station stops.
TEST(VisionStation, CameraThatStallsEndsTheStation) {
  json scene = Scene();
  scene["stall_after_frames"] = 1;  // the calibration frame, then nothing
  SimulatedStation s(scene);
  ASSERT_TRUE(s.station->WaitForStdout("Vision: Calibrate 2 \n\n", 20s))
      << s.station->Stdout() << s.station->Stderr();
  ASSERT_TRUE(s.station->WaitForExit(40s));
  EXPECT_EQ(s.station->ExitStatus(), 0);
  EXPECT_NE(s.station->Stderr().find("RealSense error calling wait_for_frames(timeout_ms:15000):\n"
                                     "    Frame didn't arrive within 15000\n"),
            std::string::npos)
      << s.station->Stderr();
  EXPECT_NE(s.station->Stdout().find("CORE: APPLICATION EXITING\n"), std::string::npos);
  EXPECT_FALSE(FileExists(s.run.poweroffLog()));
}

struct InitFailure {
  const char* name;
  bool writeScene;
  json scene;
  const char* stderrTail;
};
void PrintTo(const InitFailure& c, std::ostream* os) { *os << c.name; }

class VisionInit : public ::testing::TestWithParam<InitFailure> {};

TEST_P(VisionInit, FailureStopsTheStation) {
  const InitFailure& c = GetParam();
  RunFolder run;
  if (c.writeScene) testsupport::WriteFile(run.file("scene.json"), c.scene.dump());
  StationProcess station(run.path(), kWords, {{"DIMCORE_CAMERA_SCENE", run.file("scene.json")}});
  ASSERT_TRUE(station.WaitForExit(20s));
  EXPECT_EQ(station.ExitStatus(), 0);
  const std::string err = station.Stderr();
  const std::string tail = c.stderrTail;
  ASSERT_GE(err.size(), tail.size()) << err;
  EXPECT_EQ(err.substr(err.size() - tail.size()), tail);
  EXPECT_EQ(station.Stdout().find("Vision: "), std::string::npos) << station.Stdout();
  EXPECT_NE(station.Stdout().find("CORE: APPLICATION EXITING\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VisionInit,
    ::testing::Values(InitFailure{"SceneWithoutColour", true,
                                  json{{"platform_distance_mm", 1000}, {"streams", {"depth"}}},
                                  "The demo requires Realsense camera with RGB sensor\n"
                                  "ERROR[VISION MODULE] : Can't init.\n"},
                      InitFailure{"NoSceneFile", false, json(),
                                  "The demo requires Realsense camera with RGB sensor\n"
                                  "The demo requires Realsense camera with DEPTH sensor\n"
                                  "ERROR[VISION MODULE] : Can't init.\n"}),
    [](const ::testing::TestParamInfo<InitFailure>& i) { return i.param.name; });

// ---- Through the exchange files (needs the command server) ----

#define REQUIRE_SERVER(s)                                                               \
  if (!(s).ServerAnswers()) {                                                           \
    GTEST_SKIP() << "the command server does not answer yet (no \"ServerJson:\" line)"; \
  }

struct MeasureCase {
  const char* name;
  json scene;
  double x, y, z;  // expected; 0 for none
  double tolerance;
  bool hands;
};
void PrintTo(const MeasureCase& c, std::ostream* os) { *os << c.name; }

class VisionMeasure : public ::testing::TestWithParam<MeasureCase> {};

// Calibrated on the empty platform, then something is put on it and a client asks.
TEST_P(VisionMeasure, AnswersWhatIsOnThePlatform) {
  const MeasureCase& c = GetParam();
  SimulatedStation s(Scene());
  ASSERT_TRUE(s.Calibrated()) << s.station->Stdout() << s.station->Stderr();
  REQUIRE_SERVER(s);
  s.Show(c.scene);
  const json r = s.Ask("MEASURE");
  ASSERT_TRUE(r.is_object()) << s.station->Stdout();
  EXPECT_EQ(r["STATUS"], true);
  EXPECT_EQ(r["W"], 1234567);
  EXPECT_NEAR(r["X"].get<double>(), c.x, c.tolerance);
  EXPECT_NEAR(r["Y"].get<double>(), c.y, c.tolerance);
  EXPECT_NEAR(r["Z"].get<double>(), c.z, c.z == 0 ? 0 : 1.5);
  EXPECT_EQ(r["MEASURE_ERROR_HANDS_DETECTED"], c.hands);
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_X"], c.x == 0);
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_Y"], c.y == 0);
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_Z"], c.z == 0);
  EXPECT_EQ(r["SERVER_ERROR_NO_LIDAR"], false);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VisionMeasure,
    ::testing::Values(
        // 4 pixels at the top face (0.85 mm each) for a turned box.
        MeasureCase{"TurnedBox", Scene({Box(320, 210, 150, 0, 40, 25)}), 210, 320, 150, 3.5, false},
        MeasureCase{"Nothing", Scene(), 0, 0, 0, 0, false},
        // An arm held 300 mm above the platform, reaching in from the left.
        MeasureCase{"Arm", Scene({Box(600, 80, 60, -420, 40, 15, 300)}), 80, 250, 360, 200, true}),
    [](const ::testing::TestParamInfo<MeasureCase>& i) { return i.param.name; });

// Without a scale the server's CALIBRATE also waits for a scale calibration that never comes (its
// answer takes the full wait), so the vision side is checked on the console.
TEST(VisionStation, CalibrateFixesThePlatformDistanceAgain) {
  SimulatedStation s(Scene());
  ASSERT_TRUE(s.Calibrated()) << s.station->Stdout() << s.station->Stderr();
  REQUIRE_SERVER(s);
  s.Show(Scene({}, 1200));  // the platform was lowered
  testsupport::WriteFileAtomically(s.run.request(), R"({"COMMAND":"CALIBRATE"})");
  ASSERT_TRUE(s.station->WaitForStdout("Max distance fixed in 1200.000000 mm\n\n", 10s))
      << s.station->Stdout();
  EXPECT_TRUE(s.station->WaitForStdoutCount("Vision: Calibrate 2 \n\n", 2, 5s));
  EXPECT_TRUE(InOrder(s.station->Stdout(),
                      {"ServerJson: Command is CALIBRATE.", "Vision: Calibrate 1 \n\n",
                       "Vision: Set MAX_DIST2 = 1.17\n", "Max distance fixed in 1200.000000 mm"}))
      << s.station->Stdout();
}

TEST(VisionStation, SceneChangesShowInTheNextMeasurement) {
  SimulatedStation s(Scene());
  ASSERT_TRUE(s.Calibrated()) << s.station->Stdout() << s.station->Stderr();
  REQUIRE_SERVER(s);
  s.Show(Scene({Box(300, 200, 150, 0, 40)}));
  EXPECT_NEAR(s.Ask("MEASURE")["Z"].get<double>(), 150, 1.5);
  s.Show(Scene({Box(200, 120, 90, 20, 60, 40)}));  // another box, moved and turned
  const json moved = s.Ask("MEASURE");
  EXPECT_NEAR(moved["Z"].get<double>(), 90, 1.5);
  EXPECT_NEAR(moved["X"].get<double>(), 120, 4);
  s.Show(Scene());  // taken off
  const json empty = s.Ask("MEASURE");
  EXPECT_EQ(empty["Z"], 0);
  EXPECT_EQ(empty["MEASURE_ERROR_EMPTY_Z"], true);
}

}  // namespace
