#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/scales/SimulatedScale.h"
#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"

namespace {

using nlohmann::json;
using scaletest::SimulatedScale;
using testsupport::RunFolder;
using testsupport::StationProcess;
using namespace std::chrono_literals;

// The real station without a camera, weighing on the simulated scale, driven through its
// exchange files.
class StationWithScale : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scale->opened()); }

  std::unique_ptr<StationProcess> Start(const std::string& device) {
    return std::make_unique<StationProcess>(
        run.path(), std::vector<std::string>{"disable_lidar", "disable_automeasure"},
        std::map<std::string, std::string>{{"DIMCORE_SCALES_DEVICE", device}});
  }
  void Start() { station = Start(scale->path()); }

  // Waits until the worker has zeroed the empty scale it found at start-up.
  void WaitForEmptyZero() {
    ASSERT_TRUE(station->WaitForStdout("Calibrating scales with new coeff: 0 on weight 0\n"))
        << station->Stdout();
  }

  // Whether a command server answers requests. Until one is built the station only polls its
  // modules, and the tests that need answers are skipped.
  bool ServerAnswers() {
    testsupport::WriteFileAtomically(run.request(), R"({"COMMAND":"PING"})");
    if (!station->WaitForStdout("ServerJson:", 3s)) return false;
    Ask(nullptr);
    return true;
  }

  // Writes a request (none when command is null, to collect a pending answer) and returns the
  // response, which it deletes as a client does.
  json Ask(const char* command) {
    if (command != nullptr) {
      testsupport::WriteFileAtomically(run.request(), json{{"COMMAND", command}}.dump());
    }
    const bool answered =
        testsupport::WaitUntil([&] { return testsupport::FileExists(run.response()); }, 20s);
    if (!answered) {
      ADD_FAILURE() << "no response to " << (command ? command : "PING") << "\n"
                    << station->Stdout();
      return json();
    }
    const std::string text = testsupport::ReadFile(run.response());
    std::remove(run.response().c_str());
    return json::parse(text, nullptr, false);
  }

  // A MEASURE once the simulator's latest state has certainly reached the station.
  json Measure() {
    EXPECT_TRUE(scale->Settle());
    return Ask("MEASURE");
  }

  RunFolder run;
  std::unique_ptr<SimulatedScale> scale = std::make_unique<SimulatedScale>();
  std::unique_ptr<StationProcess> station;
};

#define SKIP_WITHOUT_SERVER()                                                               \
  if (!ServerAnswers()) {                                                                   \
    GTEST_SKIP() << "the command server does not answer requests yet (no ServerJson line)"; \
  }

TEST_F(StationWithScale, MeasureGivesGrams) {
  Start();
  WaitForEmptyZero();
  SKIP_WITHOUT_SERVER();
  json r = Measure();
  EXPECT_EQ(r["STATUS"], true) << r;
  EXPECT_EQ(r["W"], 0.0) << r;
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_W"], true) << r;
  EXPECT_EQ(r["SERVER_ERROR_NO_SCALES"], false) << r;

  scale->Do({"weight 1.25"});
  r = Measure();
  EXPECT_EQ(r["STATUS"], true) << r;
  EXPECT_EQ(r["W"], 1250.0) << r;
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_W"], false) << r;
}

TEST_F(StationWithScale, CalibrateReZeroes) {
  Start();
  WaitForEmptyZero();
  SKIP_WITHOUT_SERVER();
  scale->Do({"weight 1.25"});
  EXPECT_EQ(Measure()["W"], 1250.0);

  EXPECT_EQ(Ask("CALIBRATE")["STATUS"], true);
  ASSERT_TRUE(station->WaitForStdout("Calibrating scales with new coeff: 1.25 on weight 1.25\n"));
  json r = Measure();
  EXPECT_EQ(r["W"], 0.0) << r;
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_W"], true) << r;

  // The tared load taken off reads below zero, which is reported as empty.
  scale->Do({"weight 0"});
  r = Measure();
  EXPECT_EQ(r["W"], 0.0) << r;
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_W"], true) << r;

  scale->Do({"weight 2"});
  EXPECT_EQ(Measure()["W"], 750.0);
}

TEST_F(StationWithScale, HalfAGramReadsEmpty) {
  Start();
  WaitForEmptyZero();
  SKIP_WITHOUT_SERVER();
  scale->Do({"code 1", "weight 0.0005"});
  json r = Measure();
  EXPECT_EQ(r["W"], 0.0) << r;
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_W"], true) << r;
  scale->Do({"weight 0.001"});
  r = Measure();
  EXPECT_EQ(r["W"], 1.0) << r;
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_W"], false) << r;
}

// A scale that goes away leaves the station running and answering with the last weight it had.
TEST_F(StationWithScale, ScaleGoingAwayMidRun) {
  Start();
  WaitForEmptyZero();
  SKIP_WITHOUT_SERVER();
  scale->Do({"weight 1.25"});
  EXPECT_EQ(Measure()["W"], 1250.0);

  scale.reset();
  json r = Ask("MEASURE");
  EXPECT_EQ(r["STATUS"], true) << r;
  EXPECT_EQ(r["W"], 1250.0) << r;
  EXPECT_EQ(Ask("PING")["STATUS"], true);
  EXPECT_TRUE(station->Running());

  station->Stop();
  EXPECT_EQ(station->ExitStatus(), 0);
  EXPECT_NE(station->Stdout().find("SHUTDOWN DEVICE"), std::string::npos);
}

// The following need no command server: the scale side shows on the console.

TEST_F(StationWithScale, ZeroesTheEmptyScaleAtStartWithoutComplaint) {
  Start();
  WaitForEmptyZero();
  EXPECT_TRUE(station->WaitForStdout("SCALES2: RealWeight = "));
  station->Stop();
  EXPECT_EQ(station->ExitStatus(), 0);
  // A pseudo-terminal has no modem lines; neither the open nor the close may complain.
  EXPECT_EQ(station->Stderr(), "");
}

TEST_F(StationWithScale, RestartedStationReopensTheScale) {
  Start();
  WaitForEmptyZero();
  station->Stop();
  ASSERT_EQ(station->ExitStatus(), 0);
  scale->Do({"weight 0.5"});
  Start();
  EXPECT_TRUE(station->WaitForStdout("Calibrating scales with new coeff: 0.5 on weight 0.5\n"))
      << station->Stdout() << station->Stderr();
  EXPECT_EQ(station->Stderr(), "");
}

TEST_F(StationWithScale, MissingDeviceOnlyDisablesWeighing) {
  station = Start(run.file("no-such-tty"));
  const std::string unable =
      "SCALES2: Unable to open com port. Scales module can't work. Please restart core.\n";
  ASSERT_TRUE(station->WaitForStdout(unable)) << station->Stdout();
  // The scale thread's two lines in order; the vision thread may print between them.
  const std::string out = station->Stdout();
  const size_t cannot = out.find("Can not open comport\n");
  EXPECT_NE(cannot, std::string::npos) << out;
  EXPECT_LT(cannot, out.find(unable)) << out;
  EXPECT_TRUE(station->WaitForStderr("unable to open comport : No such file or directory\n"));
  EXPECT_TRUE(station->WaitForStdout("Vision: Copy Finished"));
  EXPECT_TRUE(station->Running());
  station->Stop();
  EXPECT_EQ(station->ExitStatus(), 0);
  EXPECT_NE(station->Stdout().find("CORE: APPLICATION EXITING"), std::string::npos);
}

}  // namespace
