// dimctl, the real client binary, against the real station without devices (and, for CALIBRATE,
// which a station without a scale never confirms, against a command server in this process).
#include <gtest/gtest.h>

#include <thread>

#include "core/CoreParams.h"
#include "core/Measurement.h"
#include "server/ServerJson2.h"
#include "tests/e2e/StationExchange.h"

namespace {

using testsupport::FileExists;
using testsupport::RunFolder;
using testsupport::StationProcess;
using namespace std::chrono_literals;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

Outcome Dimctl(const std::string& folder, const std::vector<std::string>& words) {
  StationProcess client(folder, words, {}, DIMCTL_BINARY);
  Outcome outcome;
  if (!client.WaitForExit(60s)) return outcome;
  outcome.code = client.ExitStatus();
  outcome.out = client.Stdout();
  outcome.err = client.Stderr();
  return outcome;
}

struct ClientCase {
  const char* name;
  std::vector<std::string> words;
  int code;
  std::vector<std::string> out;  // parts of standard output, in order
  std::vector<std::string> err;  // parts of standard error, in order
  std::string fileName = "";     // a file placed in the station's folder first
  std::string fileContent = "";
};
void PrintTo(const ClientCase& c, std::ostream* os) { *os << c.name; }

class Client : public ::testing::TestWithParam<ClientCase> {};

TEST_P(Client, AgainstTheStation) {
  const ClientCase& c = GetParam();
  RunFolder run;
  if (!c.fileName.empty()) testsupport::WriteFile(run.file(c.fileName), c.fileContent);
  StationProcess station(run.path(), e2e::kQuietStation);
  const Outcome result = Dimctl(run.path(), c.words);
  EXPECT_EQ(result.code, c.code) << result.out << result.err;
  EXPECT_EQ(e2e::MissingInOrder(result.out, c.out), "") << result.out;
  EXPECT_EQ(e2e::MissingInOrder(result.err, c.err), "") << result.err;
  EXPECT_FALSE(FileExists(run.request()));
  EXPECT_FALSE(FileExists(run.response())) << "the client deletes the response it read";
}

const std::string kFullSetWithNumericDrawSize =
    "{\"VISUAL_PRESET\":3,\"DIGITAL_GAIN\":2,\"MIN_DEPTH\":0.29,\"MAX_DEPTH\":16,\"MIN_AREA\":100,"
    "\"MAX_AREA\":200000,\"FOW_WIDTH\":65,\"FOW_HEIGHT\":40,\"REGION_WIDTH\":680,"
    "\"REGION_HEIGHT\":550,\"REGION_OFFSET_X\":0,\"REGION_OFFSET_Y\":40,\"DRAW_SIZE\":1}";

INSTANTIATE_TEST_SUITE_P(
    Cases, Client,
    ::testing::Values(
        ClientCase{"Ping", {"ping"}, 0, {"The station is answering.\n"}, {}},
        ClientCase{"PingAsJson", {"ping", "--json"}, 0, {e2e::kPingResponse}, {}},
        ClientCase{"Measure",
                   {"measure"},
                   0,
                   {"X  123000 mm", "Y  456000 mm", "Z  789000 mm", "W  1234567 g", "Measured.\n"},
                   {}},
        ClientCase{"GetConfig",
                   {"get-config"},
                   0,
                   {"VISUAL_PRESET    3 ", "MIN_DEPTH        0.29 ", "MAX_AREA         200000000 ",
                    "DRAW_SIZE        true "},
                   {}},
        ClientCase{"SetConfigApplied",
                   {"set-config", "MAX_AREA=200000", "min_depth=0.5"},
                   0,
                   {"Configuration applied.\n"},
                   {}},
        ClientCase{"SetConfigRefused",
                   {"set-config", "MIN_DEPTH=0.5"},
                   1,
                   {"Configuration refused; nothing was changed.\n",
                    "MAX_AREA = 200000000 is outside 10 to 200000\n"},
                   {}},
        ClientCase{"UnknownCommand", {"send", "{\"COMMAND\":\"NOPE\"}"}, 1, {"STATUS false\n"}, {}},
        ClientCase{"RejectedRequest",
                   {"set-config", "--file", "bad.json"},
                   2,
                   {},
                   {"dimctl: The station deleted the request without answering"},
                   "bad.json",
                   kFullSetWithNumericDrawSize},
        ClientCase{"WrongValueTypeNeverSent",
                   {"set-config", "VISUAL_PRESET=2.5"},
                   64,
                   {},
                   {"VISUAL_PRESET takes a whole number"}},
        ClientCase{"UnknownWord", {"frobnicate"}, 64, {}, {"unknown command frobnicate"}}),
    [](const ::testing::TestParamInfo<ClientCase>& i) { return i.param.name; });

TEST(ClientWithoutStation, TimesOutAndWithdrawsTheRequest) {
  RunFolder run;
  const Outcome result = Dimctl(run.path(), {"--timeout", "0.5", "measure"});
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find("No response within 0.5 s; the request was withdrawn."),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(FileExists(run.request()));
}

TEST(ClientWithoutStation, MissingConfigurationSendsNothing) {
  testsupport::TempDir empty;
  const Outcome result = Dimctl(empty.path(), {"ping"});
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("no station configuration at configs/appconfig.toml"),
            std::string::npos)
      << result.err;
}

TEST(ClientOptions, ConfigurationGivenFromAnotherFolder) {
  RunFolder run;
  StationProcess station(run.path(), e2e::kQuietStation);
  testsupport::TempDir elsewhere;
  const Outcome result =
      Dimctl(elsewhere.path(), {"--config", run.file("configs/appconfig.toml"), "--json", "ping"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, e2e::kPingResponse);
}

TEST(ClientStop, StationEndsAndTheRequestIsCleared) {
  RunFolder run;
  StationProcess station(run.path(), e2e::kNoDevices);
  const Outcome result = Dimctl(run.path(), {"stop"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find("The station took the stop request"), std::string::npos);
  ASSERT_TRUE(station.WaitForExit(20s));
  EXPECT_EQ(testsupport::ReadFile(run.poweroffLog()), "poweroff\n");
  EXPECT_FALSE(FileExists(run.request())) << "a restart must not stop at once";
}

TEST(ClientWatch, PrintsEachResult) {
  RunFolder run;
  StationProcess station(run.path(), e2e::kNoDevices);
  Outcome result = Dimctl(run.path(), {"watch", "--count", "2", "--json"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, e2e::kMeasureResponse + e2e::kMeasureResponse);

  result = Dimctl(run.path(), {"watch", "--count", "2"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(testsupport::CountOccurrences(result.out, "X  123000 mm"), 2u) << result.out;
}

TEST(ClientWatch, NothingComesWithoutAutomeasure) {
  RunFolder run;
  StationProcess station(run.path(), e2e::kQuietStation);
  const Outcome result = Dimctl(run.path(), {"watch", "--timeout", "0.5"});
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find("no automeasure result within 0.5 s"), std::string::npos) << result.err;
}

// CALIBRATE against a command server in this process whose modules answer or stay silent, with
// the attempt limit reduced so a silent module is given up on at once.
class ClientCalibrate : public ::testing::TestWithParam<bool> {};

TEST_P(ClientCalibrate, ExitFollowsStatus) {
  const bool modulesAnswer = GetParam();
  RunFolder run;
  CoreParams* params = CoreParams::getInstance();
  Measurement* m = Measurement::getInstance();
  params->APPLICATION_STOP_REQUEST = false;
  params->Automeasure = false;
  params->RequestJsonFilePath = run.request();
  params->ResponseJsonFilePath = run.response();
  params->ResponseTempJsonFilePath = run.responseTemp();
  params->AutomesureJsonFilePath = run.automeasure();
  params->AutomesureTempJsonFilePath = run.automeasureTemp();
  std::ostringstream console;
  servermod::ServerJson server;
  server.console = &console;
  server.attemptCount = 3;
  server.waitPause = [m, modulesAnswer] {
    std::this_thread::sleep_for(1ms);
    if (modulesAnswer) {
      m->is_calibrated = true;
      m->is_scales_calibrated = true;
    }
  };
  std::thread thread(&servermod::ServerJson::Start, &server);
  const Outcome result = Dimctl(run.path(), {"calibrate"});
  params->APPLICATION_STOP_REQUEST = true;
  thread.join();
  params->APPLICATION_STOP_REQUEST = false;

  EXPECT_EQ(result.code, modulesAnswer ? 0 : 1) << result.out << result.err;
  EXPECT_NE(result.out.find(modulesAnswer ? "Calibrated.\n" : "Calibration failed"),
            std::string::npos)
      << result.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, ClientCalibrate, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "ModulesAnswer" : "ModulesSilent";
                         });

}  // namespace
