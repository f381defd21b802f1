// Every command and every kind of unusable document, through the real station without devices.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/e2e/StationExchange.h"

namespace {

using e2e::Ask;
using e2e::kDefaultConfiguration;
using e2e::kMeasureResponse;
using e2e::kPingResponse;
using e2e::kQuietStation;
using e2e::kStatusFalseResponse;
using e2e::WithRequestPath;
using testsupport::FileExists;
using testsupport::RunFolder;
using testsupport::StationProcess;
using namespace std::chrono_literals;

// A SET_CONFIGURATION the station accepts: the defaults, except MAX_AREA, whose default lies
// outside its own range.
nlohmann::json ValidSet() {
  return nlohmann::json::parse(
      "{\"COMMAND\":\"SET_CONFIGURATION\",\"VISUAL_PRESET\":3,\"DIGITAL_GAIN\":2,"
      "\"MIN_DEPTH\":0.29,\"MAX_DEPTH\":16,\"MIN_AREA\":100,\"MAX_AREA\":200000,"
      "\"FOW_WIDTH\":65,\"FOW_HEIGHT\":40,\"REGION_WIDTH\":680,\"REGION_HEIGHT\":550,"
      "\"REGION_OFFSET_X\":0,\"REGION_OFFSET_Y\":40,\"DRAW_SIZE\":true}");
}

std::string SetWith(const std::string& member, const nlohmann::json& value) {
  nlohmann::json request = ValidSet();
  request[member] = value;
  return request.dump();
}

std::string SetWithout(const std::string& member) {
  nlohmann::json request = ValidSet();
  request.erase(member);
  return request.dump();
}

struct RequestCase {
  const char* name;
  std::string request;
  std::string response;              // "" when the request must be dropped without a response
  std::vector<std::string> console;  // in order; {RX} stands for the request path
};
void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class Requests : public ::testing::TestWithParam<RequestCase> {};

// What each request is answered with (or that it is dropped), what the console shows, and that
// the request file is gone afterwards.
TEST_P(Requests, AnswerAndConsole) {
  const RequestCase& c = GetParam();
  RunFolder run;
  StationProcess station(run.path(), kQuietStation);
  if (c.response.empty()) {
    ASSERT_TRUE(e2e::SendUnanswerable(run, station, c.request)) << station.Stdout();
    EXPECT_FALSE(FileExists(run.response()));
    // Nothing was written in between: the next request's response is the first.
    EXPECT_EQ(Ask(run, "{\"COMMAND\":\"PING\"}"), kPingResponse);
    ASSERT_TRUE(station.WaitForStdout("Create file."));
    EXPECT_EQ(testsupport::CountOccurrences(station.Stdout(), "Create file."), 1u);
  } else {
    EXPECT_EQ(Ask(run, c.request), c.response) << station.Stdout();
  }
  EXPECT_FALSE(FileExists(run.request()));
  std::vector<std::string> console;
  for (const std::string& part : c.console) console.push_back(WithRequestPath(part, run));
  EXPECT_EQ(e2e::WaitForInOrder(station, console), "") << station.Stdout();
}

const std::string kFound = "ServerJson: {RX} file exists.\n";
const std::string kCreate = "ServerJson: Create file.\n";

INSTANTIATE_TEST_SUITE_P(
    Commands, Requests,
    ::testing::Values(
        RequestCase{"Ping",
                    "{\"COMMAND\":\"PING\"}",
                    kPingResponse,
                    {kFound + "ServerJson: Command is PING.\n" + kCreate}},
        RequestCase{"GetConfiguration",
                    "{\"COMMAND\":\"GET_CONFIGURATION\"}",
                    kDefaultConfiguration,
                    {kFound + "ServerJson: Command is GET_CONFIGURATION.\n" + kCreate}},
        RequestCase{
            "Measure",
            "{\"COMMAND\":\"MEASURE\"}",
            kMeasureResponse,
            {kFound, "ServerJson: Command is MEASURE.\n", "ServerJson: MAX ATTEMPT DETECTED=0\n",
             "ServerJson: Waiting for Vision (Measure)...\n",
             "ServerJson: Test1 Attempt=", " Limit=1000\n", "ServerJson: Waiting for Scales...\n",
             "ServerJson: Test2 Attempt=", " Limit=1000\n", kCreate}},
        RequestCase{"SetConfiguration",
                    SetWith("MIN_DEPTH", 300),
                    kPingResponse,
                    {kFound + "ServerJson: Command is SET_CONFIGURATION.\n" +
                     "Test: Status = 1\nTest: 11\nTest: VISUAL_PRESET = 3\n"
                     "Test: DIGITAL_GAIN = 2\nTest: MIN_DEPTH = 300\nTest: MAX_DEPTH = 16\n"
                     "Test: MIN_AREA = 100\nTest: MAX_AREA = 200000\nTest: FOW_WIDTH = 65\n"
                     "Test: FOW_HEIGHT = 40\nTest: REGION_WIDTH = 680\n"
                     "Test: REGION_HEIGHT = 550\nTest: REGION_OFFSET_X = 0\n"
                     "Test: REGION_OFFSET_Y = 40\nTest: DRAW_SIZE = true\n" +
                     kCreate}}),
    [](const ::testing::TestParamInfo<RequestCase>& i) { return i.param.name; });

const std::string kNotFound = "ServerJson: Correct json not found.\n";
const std::string kCommandNotFound = "ServerJson: Correct json command not found.\n";

INSTANTIATE_TEST_SUITE_P(
    Documents, Requests,
    ::testing::Values(
        RequestCase{"Empty",
                    "",
                    "",
                    {kFound + "Error occurred: [json.exception.parse_error.101] parse error at "
                              "line 1, column 1: syntax error while parsing value - unexpected "
                              "end of input; expected '[', '{', or a literal\n"}},
        RequestCase{"LoneBrace",
                    "{",
                    "",
                    {kFound + "Error occurred: [json.exception.parse_error.101] parse error at "
                              "line 1, column 2: syntax error while parsing object key - "
                              "unexpected end of input; expected string literal\n"}},
        RequestCase{"Comment",
                    "// ping\n{\"COMMAND\":\"PING\"}",
                    "",
                    {kFound + "Error occurred: [json.exception.parse_error.101] parse error at "
                              "line 1, column 1: syntax error while parsing value - invalid "
                              "literal; last read: '/'\n"}},
        RequestCase{"TrailingContent",
                    "{\"COMMAND\":\"PING\"} x",
                    "",
                    {kFound + "Error occurred: [json.exception.parse_error.101] parse error at "
                              "line 1, column 20: syntax error while parsing value - invalid "
                              "literal; last read: '\"PING\"} x'; expected end of "
                              "input\n"}},
        RequestCase{"LargerThanOneMebibyte",
                    "{\"COMMAND\":\"PING\"}" + std::string(1024 * 1024, ' '),
                    "",
                    {kFound + "Error occurred: request file of 1048594 bytes exceeds the limit "
                              "of 1048576 bytes; it was not read\n"}},
        RequestCase{"NotAnObject", "[1,2]", kStatusFalseResponse, {kFound + kNotFound + kCreate}},
        RequestCase{"NoCommand",
                    "{\"CMD\":\"PING\"}",
                    kStatusFalseResponse,
                    {kFound + kNotFound + kCreate}},
        RequestCase{"CommandMemberInLowerCase",
                    "{\"command\":\"PING\"}",
                    kStatusFalseResponse,
                    {kFound + kNotFound + kCreate}},
        RequestCase{"CommandInLowerCase",
                    "{\"COMMAND\":\"ping\"}",
                    kStatusFalseResponse,
                    {kFound + kCommandNotFound + kCreate}},
        RequestCase{"CommandAsNumber",
                    "{\"COMMAND\":5}",
                    kStatusFalseResponse,
                    {kFound + kCommandNotFound + kCreate}},
        RequestCase{"CommandAsList",
                    "{\"COMMAND\":[\"PING\"]}",
                    kStatusFalseResponse,
                    {kFound + kCommandNotFound + kCreate}},
        RequestCase{"ExtraMembers",
                    "{\"COMMAND\":\"PING\",\"X\":1,\"note\":{\"a\":[null]}}",
                    kPingResponse,
                    {kFound + "ServerJson: Command is PING.\n" + kCreate}},
        RequestCase{"WhitespaceAround",
                    "\r\n\t {\"COMMAND\":\"PING\"} \n\n",
                    kPingResponse,
                    {kFound + "ServerJson: Command is PING.\n" + kCreate}}),
    [](const ::testing::TestParamInfo<RequestCase>& i) { return i.param.name; });

struct ConfigurationCase {
  const char* name;
  std::string request;
  std::string response;  // "" when the request is dropped
  std::vector<std::string> console;
  std::string configurationAfter;
};
void PrintTo(const ConfigurationCase& c, std::ostream* os) { *os << c.name; }

class ConfigurationChange : public ::testing::TestWithParam<ConfigurationCase> {};

// SET_CONFIGURATION applies all thirteen values or none; GET_CONFIGURATION afterwards shows which.
TEST_P(ConfigurationChange, AllOrNothing) {
  const ConfigurationCase& c = GetParam();
  RunFolder run;
  StationProcess station(run.path(), kQuietStation);
  if (c.response.empty()) {
    ASSERT_TRUE(e2e::SendUnanswerable(run, station, c.request)) << station.Stdout();
  } else {
    EXPECT_EQ(Ask(run, c.request), c.response);
  }
  EXPECT_EQ(Ask(run, "{\"COMMAND\":\"GET_CONFIGURATION\"}"), c.configurationAfter);
  EXPECT_EQ(e2e::WaitForInOrder(station, c.console), "") << station.Stdout();
}

const std::string kNoErrorMembers =
    "\"MEASURE_ERROR_EMPTY_W\":false,\"MEASURE_ERROR_EMPTY_X\":false,"
    "\"MEASURE_ERROR_EMPTY_Y\":false,\"MEASURE_ERROR_EMPTY_Z\":false,"
    "\"MEASURE_ERROR_HANDS_DETECTED\":false,";

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigurationChange,
    ::testing::Values(
        ConfigurationCase{
            "AppliedInSinglePrecision",
            "{\"COMMAND\":\"SET_CONFIGURATION\",\"VISUAL_PRESET\":2.9,\"DIGITAL_GAIN\":true,"
            "\"MIN_DEPTH\":0.1,\"MAX_DEPTH\":1200,\"MIN_AREA\":10,\"MAX_AREA\":200000,"
            "\"FOW_WIDTH\":0,\"FOW_HEIGHT\":2000,\"REGION_WIDTH\":1920,\"REGION_HEIGHT\":10.5,"
            "\"REGION_OFFSET_X\":-10000,\"REGION_OFFSET_Y\":10000,\"DRAW_SIZE\":false}",
            kPingResponse,
            {"Test: Status = 1\nTest: 11\nTest: VISUAL_PRESET = 2.9\nTest: DIGITAL_GAIN = true\n"
             "Test: MIN_DEPTH = 0.1\n"},
            "{\"DIGITAL_GAIN\":1,\"DRAW_SIZE\":false,\"FOW_HEIGHT\":2000.0,\"FOW_WIDTH\":0.0,"
            "\"MAX_AREA\":200000.0,\"MAX_DEPTH\":1200.0," +
                kNoErrorMembers +
                "\"MIN_AREA\":10.0,\"MIN_DEPTH\":0.10000000149011612,\"REGION_HEIGHT\":10.5,"
                "\"REGION_OFFSET_X\":-10000,\"REGION_OFFSET_Y\":10000,\"REGION_WIDTH\":1920.0,"
                "\"SERVER_ERROR_NO_LIDAR\":false,\"SERVER_ERROR_NO_SCALES\":false,"
                "\"VISUAL_PRESET\":2}\n"},
        ConfigurationCase{
            "MissingMember",
            SetWithout("DRAW_SIZE"),
            kStatusFalseResponse,
            {"ServerJson: Command is SET_CONFIGURATION.\nTest: Status = 0\n" + kCreate},
            kDefaultConfiguration},
        ConfigurationCase{"OutOfRange",
                          SetWith("REGION_OFFSET_X", 10001),
                          kStatusFalseResponse,
                          {"Test: Status = 1\nTest: 11\n", "Test: REGION_OFFSET_X = 10001\n"},
                          kDefaultConfiguration},
        ConfigurationCase{"DefaultsSentBack",
                          SetWith("MAX_AREA", 200000000),
                          kStatusFalseResponse,
                          {"Test: MAX_AREA = 200000000\n"},
                          kDefaultConfiguration},
        // Cast straight to int this would wrap to 3, a valid preset.
        ConfigurationCase{"BeyondTheIntRange",
                          SetWith("VISUAL_PRESET", 4294967299ULL),
                          kStatusFalseResponse,
                          {"Test: VISUAL_PRESET = 4294967299\n"},
                          kDefaultConfiguration},
        ConfigurationCase{"BeyondTheFloatRange",
                          SetWith("MAX_DEPTH", 1e300),
                          kStatusFalseResponse,
                          {"Test: MAX_DEPTH = 1e+300\n"},
                          kDefaultConfiguration},
        ConfigurationCase{"DrawSizeAsNumber",
                          SetWith("DRAW_SIZE", 1),
                          "",
                          {"Test: Status = 1\nTest: 11\n", "Test: DRAW_SIZE = 1\n",
                           "Error occurred: [json.exception.type_error.302] type must be "
                           "boolean, but is number\n"},
                          kDefaultConfiguration},
        ConfigurationCase{"NumberAsString",
                          SetWith("MIN_DEPTH", "0.3"),
                          "",
                          {"Test: MIN_DEPTH = \"0.3\"\n",
                           "Error occurred: [json.exception.type_error.302] type must be "
                           "number, but is string\n"},
                          kDefaultConfiguration}),
    [](const ::testing::TestParamInfo<ConfigurationCase>& i) { return i.param.name; });

// The server never reads or deletes the response: a second one replaces the first.
TEST(ResponseFile, SecondResponseReplacesTheFirst) {
  RunFolder run;
  StationProcess station(run.path(), kQuietStation);
  EXPECT_EQ(Ask(run, "{\"COMMAND\":\"NOPE\"}"), kStatusFalseResponse);
  testsupport::WriteFile(run.response(), kStatusFalseResponse);  // the client did not take it
  testsupport::WriteFileAtomically(run.request(), "{\"COMMAND\":\"PING\"}");
  ASSERT_TRUE(station.WaitForStdoutCount("Create file.", 2));
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] { return testsupport::ReadFile(run.response()) == kPingResponse; }, 10s));
  EXPECT_FALSE(FileExists(run.responseTemp()));
}

TEST(RequestFile, PresentAtStartIsServedInTheFirstCycle) {
  RunFolder run;
  testsupport::WriteFile(run.request(), "{\"COMMAND\":\"PING\"}");
  StationProcess station(run.path(), kQuietStation);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return FileExists(run.response()); }, 10s));
  EXPECT_EQ(testsupport::ReadFile(run.response()), kPingResponse);
}

}  // namespace
