// The client's library: where it finds the exchange files, how it reads the user's words, and how
// an exchange ends, against small fake stations on a thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"
#include "tools/dimctl/Exchange.h"
#include "tools/dimctl/Readable.h"
#include "tools/dimctl/StationConfig.h"

namespace {

using namespace dimctl;
using namespace std::chrono_literals;
using nlohmann::json;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WaitUntil;
using testsupport::WriteFile;
using testsupport::WriteFileAtomically;

TEST(StationConfig, RelativePathsResolveAgainstTheStationFolder) {
  TempDir dir;
  mkdir(dir.file("station").c_str(), 0755);
  mkdir(dir.file("station/configs").c_str(), 0755);
  WriteFile(dir.file("station/configs/appconfig.toml"),
            "[jsonfiler]\n"
            "RequestJsonFilePath = \"exchange/request.json\"\n"
            "ResponseJsonFilePath = \"/var/lib/x/response.json\"\n"
            "AutomesureJsonFilePath = \"../shared/./auto.json\"\n");
  const StationPaths paths = LoadStationPaths(dir.file("station/configs/appconfig.toml"));
  EXPECT_EQ(paths.request, dir.file("station/exchange/request.json"));
  EXPECT_EQ(paths.response, "/var/lib/x/response.json");
  EXPECT_EQ(paths.automeasure, dir.file("shared/auto.json"));
  EXPECT_EQ(paths.workdir, dir.file("station"));
}

TEST(StationConfig, ProblemsAreNamed) {
  TempDir dir;
  try {
    LoadStationPaths(dir.file("configs/appconfig.toml"));
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("--config"), std::string::npos) << e.what();
  }
  WriteFile(dir.file("a.toml"), "[jsonfiler]\nRequestJsonFilePath = \"r\"\n");
  try {
    LoadStationPaths(dir.file("a.toml"));
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("ResponseJsonFilePath"), std::string::npos) << e.what();
  }
}

struct WordCase {
  const char* name;
  const char* word;
  const char* key;    // nullptr: refused
  const char* value;  // the JSON value sent
};
void PrintTo(const WordCase& c, std::ostream* os) { *os << c.name; }

class Assignments : public ::testing::TestWithParam<WordCase> {};

// KEY=VALUE words are checked for the parameter's type before anything is sent: a value of the
// wrong type would make the station drop the request without an answer.
TEST_P(Assignments, CheckedByType) {
  const WordCase& c = GetParam();
  if (c.key == nullptr) {
    EXPECT_THROW(ParseAssignment(c.word), std::invalid_argument);
    return;
  }
  const Assignment a = ParseAssignment(c.word);
  EXPECT_EQ(a.key, c.key);
  EXPECT_EQ(a.value, json::parse(c.value));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Assignments,
    ::testing::Values(WordCase{"Float", "MIN_DEPTH=0.5", "MIN_DEPTH", "0.5"},
                      WordCase{"AnyCase", "min_depth=1e3", "MIN_DEPTH", "1000.0"},
                      WordCase{"Int", "REGION_OFFSET_X=-15", "REGION_OFFSET_X", "-15"},
                      WordCase{"IntWithFraction", "VISUAL_PRESET=2.9", nullptr, ""},
                      WordCase{"BoolWord", "DRAW_SIZE=off", "DRAW_SIZE", "false"},
                      WordCase{"BoolDigit", "DRAW_SIZE=1", "DRAW_SIZE", "true"},
                      WordCase{"BoolOther", "DRAW_SIZE=maybe", nullptr, ""},
                      WordCase{"UnknownKey", "DEPTH=3", nullptr, ""},
                      WordCase{"NoValue", "MIN_DEPTH=", nullptr, ""},
                      WordCase{"NoKey", "=3", nullptr, ""},
                      WordCase{"NoEquals", "MIN_DEPTH", nullptr, ""},
                      WordCase{"NotFinite", "MIN_DEPTH=inf", nullptr, ""},
                      WordCase{"Text", "MAX_AREA=big", nullptr, ""}),
    [](const ::testing::TestParamInfo<WordCase>& i) { return i.param.name; });

TEST(SetConfiguration, AssignmentsOverTheCurrentParameters) {
  const json current = json::parse(
      "{\"DIGITAL_GAIN\":2,\"DRAW_SIZE\":true,\"FOW_HEIGHT\":40.0,\"FOW_WIDTH\":65.0,"
      "\"MAX_AREA\":200000000.0,\"MAX_DEPTH\":16.0,\"MEASURE_ERROR_EMPTY_W\":false,"
      "\"MIN_AREA\":100.0,\"MIN_DEPTH\":0.28999999165534973,\"REGION_HEIGHT\":550.0,"
      "\"REGION_OFFSET_X\":0,\"REGION_OFFSET_Y\":40,\"REGION_WIDTH\":680.0,"
      "\"SERVER_ERROR_NO_LIDAR\":false,\"VISUAL_PRESET\":3}");
  const json request = BuildSetConfiguration(current, {ParseAssignment("MIN_DEPTH=0.5")}, false);
  EXPECT_EQ(request.size(), 14u) << request.dump();
  EXPECT_EQ(request["COMMAND"], "SET_CONFIGURATION");
  EXPECT_EQ(request["MIN_DEPTH"], 0.5);
  EXPECT_EQ(request["VISUAL_PRESET"], 3);
  EXPECT_FALSE(request.contains("SERVER_ERROR_NO_LIDAR"));
  // The start-up MAX_AREA lies outside the accepted range: a refusal names it.
  EXPECT_EQ(RefusalHints(request),
            std::vector<std::string>{"MAX_AREA = 200000000 is outside 10 to 200000"});
  // A user's own document goes as it is.
  const json own = BuildSetConfiguration(json{{"DRAW_SIZE", 1}, {"X", 2}}, {}, true);
  EXPECT_EQ(own, json::parse("{\"COMMAND\":\"SET_CONFIGURATION\",\"DRAW_SIZE\":1,\"X\":2}"));
  EXPECT_EQ(RefusalHints(own).size(), 12u);
}

TEST(Readable, NumbersAsShortAsTheyCanBe) {
  EXPECT_EQ(FormatNumber(0.28999999165534973), "0.29");
  EXPECT_EQ(FormatNumber(0.10000000149011612), "0.1");
  EXPECT_EQ(FormatNumber(123000.0), "123000");
  EXPECT_EQ(FormatNumber(250.5), "250.5");
  EXPECT_EQ(FormatNumber(-3.0), "-3");
  EXPECT_EQ(FormatNumber(1.0000000200408773e+20), "1e+20");
}

TEST(Readable, MeasurementWithUnitsAndNamedErrors) {
  const std::string text = Describe(
      Command::Measure,
      "{\"MEASURE_ERROR_EMPTY_W\":true,\"MEASURE_ERROR_EMPTY_X\":false,"
      "\"MEASURE_ERROR_EMPTY_Y\":false,\"MEASURE_ERROR_EMPTY_Z\":false,"
      "\"MEASURE_ERROR_HANDS_DETECTED\":true,\"SERVER_ERROR_NO_LIDAR\":true,"
      "\"SERVER_ERROR_NO_SCALES\":false,\"STATUS\":false,\"W\":0.0,\"X\":250.5,\"Y\":400.0,"
      "\"Z\":null}\n");
  for (const char* part :
       {"X  250.5 mm", "Y  400 mm", "Z  not a number mm", "W  0 g", "Not measured",
        "error: MEASURE_ERROR_EMPTY_W:", "error: MEASURE_ERROR_HANDS_DETECTED:",
        "error: SERVER_ERROR_NO_LIDAR:"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
  EXPECT_EQ(text.find("MEASURE_ERROR_EMPTY_X"), std::string::npos) << text;
}

struct ExitCase {
  const char* name;
  Outcome outcome;
  const char* line;
  int code;
};
void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class ExitCodes : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodes, FollowTheOutcome) {
  Result result;
  result.outcome = GetParam().outcome;
  result.line = GetParam().line;
  EXPECT_EQ(ExitCodeFor(result), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExitCodes,
    ::testing::Values(ExitCase{"StatusTrue", Outcome::Answered, "{\"STATUS\":true}\n", 0},
                      ExitCase{"StatusFalse", Outcome::Answered, "{\"STATUS\":false}\n", 1},
                      ExitCase{"NoStatus", Outcome::Answered, "{\"VISUAL_PRESET\":3}\n", 0},
                      ExitCase{"Unreadable", Outcome::Answered, "{\"STATUS\":tr", 2},
                      ExitCase{"StopTaken", Outcome::Taken, "", 0},
                      ExitCase{"Vanished", Outcome::Vanished, "", 2},
                      ExitCase{"TimedOut", Outcome::TimedOut, "", 2},
                      ExitCase{"Busy", Outcome::Busy, "", 3},
                      ExitCase{"Failed", Outcome::Failed, "", 3},
                      ExitCase{"Interrupted", Outcome::Interrupted, "", 130}),
    [](const ::testing::TestParamInfo<ExitCase>& i) { return i.param.name; });

// Exchanges against fake stations: each does one thing with the request and nothing else.
class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    paths.request = dir.file("request.json");
    paths.response = dir.file("response.json");
    paths.automeasure = dir.file("automeasure.json");
    paths.workdir = dir.path();
    options.timeout = 5s;
    options.grace = 200ms;
  }
  void TearDown() override {
    if (station.joinable()) station.join();
  }
  // Runs act(request text) on a thread once the request has appeared.
  void FakeStation(std::function<void(const std::string&)> act) {
    station = std::thread([this, act] {
      if (WaitUntil([this] { return FileExists(paths.request); }, 5s)) {
        act(ReadFile(paths.request));
      }
    });
  }

  TempDir dir;
  StationPaths paths;
  Options options;
  std::thread station;
};

TEST_F(ExchangeTest, AnsweredResponseIsReadAndDeleted) {
  WriteFile(paths.response, "stale\n");
  FakeStation([this](const std::string& request) {
    std::remove(paths.request.c_str());
    WriteFileAtomically(paths.response, "answer to " + request);
  });
  const Result result = Send(paths, "{\"COMMAND\":\"PING\"}\n", options);
  EXPECT_EQ(result.outcome, Outcome::Answered);
  EXPECT_EQ(result.line, "answer to {\"COMMAND\":\"PING\"}\n");
  EXPECT_FALSE(FileExists(paths.response));
}

TEST_F(ExchangeTest, RequestDeletedWithoutAnswerIsReported) {
  FakeStation([this](const std::string&) { std::remove(paths.request.c_str()); });
  EXPECT_EQ(Send(paths, "{\"COMMAND\":\"PING\"}\n", options).outcome, Outcome::Vanished);
}

TEST_F(ExchangeTest, NoStationTimesOutAndWithdrawsTheRequest) {
  WriteFile(paths.response, "stale\n");
  options.timeout = 300ms;
  const Result result = Send(paths, "{\"COMMAND\":\"PING\"}\n", options);
  EXPECT_EQ(result.outcome, Outcome::TimedOut);
  EXPECT_TRUE(result.withdrawn);
  EXPECT_FALSE(FileExists(paths.request));
  EXPECT_FALSE(FileExists(paths.response)) << "a stale response is removed before sending";
}

// A station that has taken the request but not answered in time is still executing it: the
// request stays, so no other request is sent until the station is done with it.
TEST_F(ExchangeTest, TimeoutLeavesARequestTheStationIsExecuting) {
  options.timeout = 500ms;
  FakeStation([this](const std::string&) {
    const int fd = open(paths.request.c_str(), O_RDONLY);
    close(fd);
  });
  const Result result = Send(paths, "{\"COMMAND\":\"MEASURE\"}\n", options);
  EXPECT_EQ(result.outcome, Outcome::TimedOut);
  EXPECT_FALSE(result.withdrawn);
  EXPECT_TRUE(FileExists(paths.request));
  EXPECT_EQ(Send(paths, "{\"COMMAND\":\"PING\"}\n", options).outcome, Outcome::Busy);
}

TEST_F(ExchangeTest, WaitingRequestIsNeverReplaced) {
  WriteFile(paths.request, "another client's\n");
  EXPECT_EQ(Send(paths, "{\"COMMAND\":\"PING\"}\n", options).outcome, Outcome::Busy);
  EXPECT_EQ(ReadFile(paths.request), "another client's\n");
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename(), "request.json") << "no temporary file is left behind";
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_F(ExchangeTest, InterruptionWithdrawsTheRequest) {
  std::atomic<bool> interrupted{true};
  options.interrupted = &interrupted;
  EXPECT_EQ(Send(paths, "{\"COMMAND\":\"PING\"}\n", options).outcome, Outcome::Interrupted);
  EXPECT_FALSE(FileExists(paths.request));
}

// The station reads a stop request and leaves it in place; the client then removes it, so that the
// next start does not stop at once.
TEST_F(ExchangeTest, StopIsTakenOnceTheStationHasReadIt) {
  FakeStation([this](const std::string&) {
    const int fd = open(paths.request.c_str(), O_RDONLY);
    char buffer[64];
    EXPECT_GT(read(fd, buffer, sizeof buffer), 0);
    close(fd);
  });
  const Result result = SendStop(paths, options);
  EXPECT_EQ(result.outcome, Outcome::Taken);
  EXPECT_FALSE(FileExists(paths.request));
}

TEST_F(ExchangeTest, StopNobodyReadsTimesOut) {
  options.timeout = 300ms;
  EXPECT_EQ(SendStop(paths, options).outcome, Outcome::TimedOut);
  EXPECT_FALSE(FileExists(paths.request));
}

TEST_F(ExchangeTest, AutomeasureResultIsTakenSoTheNextCanCome) {
  station = std::thread([this] { WriteFileAtomically(paths.automeasure, "{\"STATUS\":true}\n"); });
  const Result result = NextAutomeasure(paths, options);
  EXPECT_EQ(result.outcome, Outcome::Answered);
  EXPECT_EQ(result.line, "{\"STATUS\":true}\n");
  EXPECT_FALSE(FileExists(paths.automeasure));

  options.timeout = 200ms;
  EXPECT_EQ(NextAutomeasure(paths, options).outcome, Outcome::TimedOut);
}

}  // namespace
