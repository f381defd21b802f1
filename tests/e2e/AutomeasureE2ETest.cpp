// Automeasure through the real station without devices: one result waits until the client takes
// it, a new one comes after every deletion, and none without the mode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "tests/e2e/StationExchange.h"

namespace {

using e2e::kMeasureResponse;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunFolder;
using testsupport::StationProcess;
using testsupport::WaitUntil;
using namespace std::chrono_literals;

ino_t InodeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

const char kPublished[] = "ServerJson: File created!: CONTENT:  ";

TEST(Automeasure, ResultWaitsUntilTheClientTakesIt) {
  RunFolder run;
  StationProcess station(run.path(), e2e::kNoDevices);
  ASSERT_TRUE(WaitUntil([&] { return FileExists(run.automeasure()); }, 10s)) << station.Stdout();
  EXPECT_EQ(ReadFile(run.automeasure()), kMeasureResponse);
  const ino_t first = InodeOf(run.automeasure());

  // The station goes on measuring and printing, but leaves the file alone.
  const size_t seen = testsupport::CountOccurrences(station.Stdout(), kPublished);
  ASSERT_TRUE(station.WaitForStdoutCount(kPublished, seen + 3));
  EXPECT_EQ(InodeOf(run.automeasure()), first) << "the kept result was replaced";
  EXPECT_EQ(ReadFile(run.automeasure()), kMeasureResponse);
  EXPECT_FALSE(FileExists(run.automeasureTemp()));
  EXPECT_NE(station.Stdout().find(std::string(kPublished) +
                                  kMeasureResponse.substr(0, kMeasureResponse.size() - 1) + "\n"),
            std::string::npos);
}

TEST(Automeasure, NewResultAfterEachDeletion) {
  RunFolder run;
  StationProcess station(run.path(), e2e::kNoDevices);
  for (int taken = 0; taken < 3; ++taken) {
    ASSERT_TRUE(WaitUntil([&] { return FileExists(run.automeasure()); }, 10s)) << taken;
    EXPECT_EQ(ReadFile(run.automeasure()), kMeasureResponse);
    ASSERT_EQ(std::remove(run.automeasure().c_str()), 0);
  }
  EXPECT_TRUE(WaitUntil([&] { return FileExists(run.automeasure()); }, 10s));
}

// Requests are still served between the automeasure steps.
TEST(Automeasure, RequestsAreServedMeanwhile) {
  RunFolder run;
  StationProcess station(run.path(), e2e::kNoDevices);
  EXPECT_EQ(e2e::Ask(run, "{\"COMMAND\":\"MEASURE\"}"), kMeasureResponse);
  EXPECT_EQ(e2e::Ask(run, "{\"COMMAND\":\"PING\"}"), e2e::kPingResponse);
}

TEST(Automeasure, NeverWithoutTheMode) {
  RunFolder run;
  StationProcess station(run.path(), e2e::kQuietStation);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(e2e::Ask(run, "{\"COMMAND\":\"MEASURE\"}"), kMeasureResponse);
  }
  EXPECT_FALSE(FileExists(run.automeasure()));
  EXPECT_FALSE(FileExists(run.automeasureTemp()));
  EXPECT_EQ(station.Stdout().find("AUTOMEASURE."), std::string::npos);
}

}  // namespace
