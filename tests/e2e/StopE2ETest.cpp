// APPLICATION_STOP through the real station: no response, the request left in place, the process
// ends with the banner and the power-off (here its harmless override) runs exactly once.
#include <gtest/gtest.h>

#include "tests/e2e/StationExchange.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunFolder;
using testsupport::StationProcess;
using namespace std::chrono_literals;

TEST(ApplicationStop, EndsTheStationAndPowersOffOnce) {
  for (const auto& words : {e2e::kNoDevices, e2e::kQuietStation}) {
    RunFolder run;
    StationProcess station(run.path(), words);
    ASSERT_EQ(e2e::Ask(run, "{\"COMMAND\":\"PING\"}"), e2e::kPingResponse);
    testsupport::WriteFileAtomically(run.request(), "{\"COMMAND\":\"APPLICATION_STOP\"}");
    ASSERT_TRUE(station.WaitForExit(20s)) << station.Stdout();
    EXPECT_EQ(station.ExitStatus(), 0);

    EXPECT_EQ(ReadFile(run.request()), "{\"COMMAND\":\"APPLICATION_STOP\"}");
    EXPECT_FALSE(FileExists(run.response()));
    EXPECT_EQ(ReadFile(run.poweroffLog()), "poweroff\n");
    const std::string out = station.Stdout();
    EXPECT_EQ(e2e::MissingInOrder(out, {e2e::WithRequestPath("ServerJson: {RX} file exists.\n"
                                                             "ServerJson: Command is STOP.\n",
                                                             run),
                                        "CORE: APPLICATION EXITING\n"}),
              "")
        << out;
    const std::string tail =
        "\n\n\nCORE: ---------------------------SHUTDOWN DEVICE---------------------------\n\n\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_EQ(station.Stderr(), "");
  }
}

}  // namespace
