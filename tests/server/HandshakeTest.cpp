// MEASURE and CALIBRATE against simulated modules, with the attempt limit reduced to 3 so that the
// waits that give up (100 s each in the station) run at once.
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/server/ServerFixture.h"

namespace servertest {
namespace {

using testsupport::FileExists;
using testsupport::ReadFile;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string Flags(bool noLidar, bool noScales) {
  return std::string(
             "{\"MEASURE_ERROR_EMPTY_W\":false,\"MEASURE_ERROR_EMPTY_X\":false,"
             "\"MEASURE_ERROR_EMPTY_Y\":false,\"MEASURE_ERROR_EMPTY_Z\":false,"
             "\"MEASURE_ERROR_HANDS_DETECTED\":false,\"SERVER_ERROR_NO_LIDAR\":") +
         (noLidar ? "true" : "false") +
         ",\"SERVER_ERROR_NO_SCALES\":" + (noScales ? "true" : "false");
}

struct WaitCase {
  const char* name;
  const char* command;
  bool visionAnswers;
  bool scalesAnswer;
  std::string console;   // {RX} stands for the request path
  std::string response;  // the whole response file
};
void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

const std::string kMeasureStart =
    "ServerJson: {RX} file exists.\n"
    "ServerJson: Command is MEASURE.\n"
    "ServerJson: MAX ATTEMPT DETECTED=0\n"
    "ServerJson: Waiting for Vision (Measure)...\n";
const std::string kCalibrateStart =
    "ServerJson: {RX} file exists.\n"
    "ServerJson: Command is CALIBRATE.\n"
    "ServerJson: MAX ATTEMPT DETECTED=0\n"
    "ServerJson: Waiting for Vision,Scales (Calibrate)...\n";
const std::string kCalibrateGaveUp =
    kCalibrateStart +
    "ServerJson: VISION MODULE OR SCALES MODULE IS NOT RESPONDING\n\n"
    "ServerJson: Test3 Attempt=3 Limit=3\n"
    "ServerJson: Create file.\n";

class Waits : public ServerFixture, public ::testing::WithParamInterface<WaitCase> {};

// Each wait ends by an answer during a pause or gives up after the limit: the console lines, the
// response and its "STATUS" and server flags.
TEST_P(Waits, ConsoleAndResponse) {
  const WaitCase& c = GetParam();
  visionAnswers = c.visionAnswers;
  scalesAnswer = c.scalesAnswer;
  WriteRequest(std::string("{\"COMMAND\":\"") + c.command + "\"}");
  EXPECT_EQ(server.PollCycle(), servermod::ServerJson::CycleEnd::Slept);
  EXPECT_EQ(out.str(), Replace(c.console, "{RX}", server.RX));
  EXPECT_EQ(ReadFile(server.TX), c.response);
  EXPECT_FALSE(FileExists(server.RX));
  EXPECT_FALSE(FileExists(server.TX_TEMP));
  EXPECT_EQ(err.str(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Waits,
    ::testing::Values(
        WaitCase{"MeasureAnsweredInFirstPause", "MEASURE", true, true,
                 kMeasureStart + "ServerJson: Test1 Attempt=1 Limit=3\n"
                                 "ServerJson: Waiting for Scales...\n"
                                 "ServerJson: Test2 Attempt=1 Limit=3\n"
                                 "ServerJson: Create file.\n",
                 Flags(false, false) + ",\"STATUS\":true,\"W\":1500.0,\"X\":250.0,\"Y\":400.0,"
                                       "\"Z\":120.0}\n"},
        WaitCase{
            "MeasureVisionSilent", "MEASURE", false, true,
            kMeasureStart + "ServerJson: VISION MODULE IS NOT RESPONDING\n\n"
                            "ServerJson: Test1 Attempt=3 Limit=3\n"
                            "ServerJson: Waiting for Scales...\n"
                            "ServerJson: Test2 Attempt=1 Limit=3\n"
                            "ServerJson: Create file.\n",
            Flags(true, false) + ",\"STATUS\":false,\"W\":1500.0,\"X\":0.0,\"Y\":0.0,\"Z\":0.0}\n"},
        WaitCase{"MeasureScalesSilent", "MEASURE", true, false,
                 kMeasureStart + "ServerJson: Test1 Attempt=1 Limit=3\n"
                                 "ServerJson: Waiting for Scales...\n"
                                 "ServerJson: SCALES MODULE IS NOT RESPONDING\n\n"
                                 "ServerJson: Test2 Attempt=3 Limit=3\n"
                                 "ServerJson: Create file.\n",
                 Flags(false, true) +
                     ",\"STATUS\":false,\"W\":0.0,\"X\":250.0,\"Y\":400.0,\"Z\":120.0}\n"},
        WaitCase{
            "MeasureBothSilent", "MEASURE", false, false,
            kMeasureStart + "ServerJson: VISION MODULE IS NOT RESPONDING\n\n"
                            "ServerJson: Test1 Attempt=3 Limit=3\n"
                            "ServerJson: Waiting for Scales...\n"
                            "ServerJson: SCALES MODULE IS NOT RESPONDING\n\n"
                            "ServerJson: Test2 Attempt=3 Limit=3\n"
                            "ServerJson: Create file.\n",
            Flags(true, true) + ",\"STATUS\":false,\"W\":0.0,\"X\":0.0,\"Y\":0.0,\"Z\":0.0}\n"},
        WaitCase{"CalibrateAnswered", "CALIBRATE", true, true,
                 kCalibrateStart + "ServerJson: Test3 Attempt=1 Limit=3\n"
                                   "ServerJson: Create file.\n",
                 Flags(false, false) + ",\"STATUS\":true}\n"},
        WaitCase{"CalibrateScalesSilent", "CALIBRATE", true, false, kCalibrateGaveUp,
                 Flags(false, false) + ",\"STATUS\":false}\n"},
        WaitCase{"CalibrateVisionSilent", "CALIBRATE", false, true, kCalibrateGaveUp,
                 Flags(false, false) + ",\"STATUS\":false}\n"}),
    [](const ::testing::TestParamInfo<WaitCase>& i) { return i.param.name; });

struct Sides {
  const char* name;
  float x, y;
  double reportedX, reportedY;
};
void PrintTo(const Sides& c, std::ostream* os) { *os << c.name; }

class SideOrder : public ServerFixture, public ::testing::WithParamInterface<Sides> {};

// "X" is never the larger side; equal sides keep their places.
TEST_P(SideOrder, SmallerSideUnderX) {
  x = GetParam().x;
  y = GetParam().y;
  WriteRequest("{\"COMMAND\":\"MEASURE\"}");
  server.PollCycle();
  const auto response = Response();
  EXPECT_EQ(response["X"].get<double>(), GetParam().reportedX);
  EXPECT_EQ(response["Y"].get<double>(), GetParam().reportedY);
  EXPECT_EQ(response["Z"].get<double>(), 120.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SideOrder,
                         ::testing::Values(Sides{"InOrder", 250, 400, 250, 400},
                                           Sides{"Swapped", 400, 250, 250, 400},
                                           Sides{"Equal", 300, 300, 300, 300},
                                           Sides{"Fraction", 250.5f, 250.25f, 250.25, 250.5}),
                         [](const ::testing::TestParamInfo<Sides>& i) { return i.param.name; });

TEST_F(ServerFixture, MaxAttemptGrowsOnlyThroughCalibrateWaits) {
  visionAnswerFrom = 2;  // the first calibration is answered at its second pause
  WriteRequest("{\"COMMAND\":\"CALIBRATE\"}");
  server.PollCycle();
  EXPECT_NE(out.str().find("ServerJson: Test3 Attempt=2 Limit=3\n"), std::string::npos);
  EXPECT_EQ(server.maxAttempt, 2);

  // A measurement that needs every attempt does not raise it.
  visionAnswers = false;
  WriteRequest("{\"COMMAND\":\"MEASURE\"}");
  server.PollCycle();
  EXPECT_NE(out.str().find("ServerJson: MAX ATTEMPT DETECTED=2\n"), std::string::npos);
  EXPECT_EQ(server.maxAttempt, 2);

  // A calibration that gives up has reached the limit.
  WriteRequest("{\"COMMAND\":\"CALIBRATE\"}");
  server.PollCycle();
  EXPECT_EQ(server.maxAttempt, 3);
  out.str("");
  WriteRequest("{\"COMMAND\":\"CALIBRATE\"}");
  server.PollCycle();
  EXPECT_NE(out.str().find("ServerJson: MAX ATTEMPT DETECTED=3\n"), std::string::npos);
}

// An answer that comes after the server gave up is not taken for the next request's answer.
TEST_F(ServerFixture, LateAnswerIsNotTakenForTheNextRequest) {
  visionAnswers = false;
  WriteRequest("{\"COMMAND\":\"MEASURE\"}");
  server.PollCycle();
  EXPECT_TRUE(Response()["SERVER_ERROR_NO_LIDAR"].get<bool>());

  m->x = 111;  // the vision module answers late
  m->is_measured.store(true, std::memory_order_release);
  WriteRequest("{\"COMMAND\":\"MEASURE\"}");
  server.PollCycle();
  const auto response = Response();
  EXPECT_FALSE(response["STATUS"].get<bool>());
  EXPECT_TRUE(response["SERVER_ERROR_NO_LIDAR"].get<bool>());
}

// A wait that gives up still reports the last stored values, which a module answering just then is
// writing: the results are shared atomically, so the server reads one whole value or the other
// (ThreadSanitizer reported this read as a data race while the results were plain floats).
TEST_F(ServerFixture, ResultsReadAfterAGiveUpWhileAModuleWritesThem) {
  visionAnswers = false;
  scalesAnswer = false;
  std::atomic<bool> done{false};
  std::thread lateModules([&] {
    while (!done) {
      m->x = 250;
      m->y = 400;
      m->z = 120;
      m->weight = 1500;
    }
  });
  WriteRequest("{\"COMMAND\":\"MEASURE\"}");
  server.PollCycle();
  done = true;
  lateModules.join();
  const auto response = Response();
  EXPECT_FALSE(response["STATUS"].get<bool>());
  EXPECT_TRUE(response["W"] == 0.0 || response["W"] == 1500.0) << response;
  EXPECT_TRUE(response["Z"] == 0.0 || response["Z"] == 120.0) << response;
}

// The cycle's failure state is shared: the automeasure document of a cycle whose MEASURE gave up
// reports the failure, although its own waits were answered.
TEST_F(ServerFixture, AutomeasureOfTheSameCycleCarriesTheFailure) {
  params->Automeasure = true;
  visionAnswerFrom = 5;  // silent for the 4 pauses of the MEASURE wait, then answering
  WriteRequest("{\"COMMAND\":\"MEASURE\"}");
  server.PollCycle();
  const std::string expected = Flags(true, false) +
                               ",\"STATUS\":false,\"W\":1500.0,\"X\":250.0,\"Y\":400.0,"
                               "\"Z\":120.0}\n";
  EXPECT_EQ(ReadFile(server.CORE), expected);
  EXPECT_FALSE(Response()["STATUS"].get<bool>());
  const std::string console = out.str();
  EXPECT_NE(console.find("ServerJson: Create file.\nServerJson: AUTOMEASURE.\n"
                         "ServerJson: Waiting for Vision (Measure)...\n"
                         "ServerJson: Test4 Attempt=1 Limit=3\n"
                         "ServerJson: Waiting for Scales...\n"
                         "ServerJson: Test5 Attempt=1 Limit=3\n"
                         "ServerJson: File created!: CONTENT:  " +
                         expected),
            std::string::npos)
      << console;

  // Once the client has taken it, the next cycle publishes a result of its own, clean again.
  std::remove(server.CORE.c_str());
  server.PollCycle();
  const auto next = nlohmann::json::parse(ReadFile(server.CORE));
  EXPECT_TRUE(next["STATUS"].get<bool>());
  EXPECT_FALSE(next["SERVER_ERROR_NO_LIDAR"].get<bool>());
}

// A scales module that reports its failure while a calibration waits does not show up in the
// response of a calibration that gave up: it names neither module.
TEST_F(ServerFixture, CalibrationThatGivesUpReportsNeitherModule) {
  scalesAnswer = false;
  duringPause = [this] { m->SERVER_ERROR_NO_SCALES = true; };
  WriteRequest("{\"COMMAND\":\"CALIBRATE\"}");
  server.PollCycle();
  EXPECT_EQ(ReadFile(server.TX), Flags(false, false) + ",\"STATUS\":false}\n");
}

}  // namespace
}  // namespace servertest
