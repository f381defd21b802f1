// The poll loop in-process: the ways out of Start(), requests that cannot be used, files that are
// not requests, and the automeasure publication rule.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "server/ExchangeFiles.h"
#include "tests/server/ServerFixture.h"

namespace servertest {
namespace {

using servermod::ServerJson;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

const char kPingResponse[] =
    "{\"MEASURE_ERROR_EMPTY_W\":false,\"MEASURE_ERROR_EMPTY_X\":false,"
    "\"MEASURE_ERROR_EMPTY_Y\":false,\"MEASURE_ERROR_EMPTY_Z\":false,"
    "\"MEASURE_ERROR_HANDS_DETECTED\":false,\"SERVER_ERROR_NO_LIDAR\":false,"
    "\"SERVER_ERROR_NO_SCALES\":false,\"STATUS\":true}\n";

TEST_F(ServerFixture, CycleWithoutRequestTouchesNothing) {
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::Slept);
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(FileExists(server.TX));
  EXPECT_FALSE(FileExists(server.CORE));
}

struct SizeCase {
  const char* name;
  size_t size;
  bool answered;
};
void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class RequestSize : public ServerFixture, public ::testing::WithParamInterface<SizeCase> {};

// A request of up to 1 MiB is read; a larger one is deleted unread, with the reason, and no
// response, as for any request that cannot be parsed.
TEST_P(RequestSize, LimitIsOneMebibyte) {
  std::string request = "{\"COMMAND\":\"PING\"}";
  request.resize(GetParam().size, ' ');
  WriteRequest(request);
  const auto end = server.PollCycle();
  EXPECT_FALSE(FileExists(server.RX));
  if (GetParam().answered) {
    EXPECT_EQ(end, ServerJson::CycleEnd::Slept);
    EXPECT_EQ(ReadFile(server.TX), kPingResponse);
  } else {
    EXPECT_EQ(end, ServerJson::CycleEnd::RequestFailed);
    EXPECT_FALSE(FileExists(server.TX));
    EXPECT_EQ(out.str(), "ServerJson: " + server.RX + " file exists.\n" +
                             "Error occurred: request file of " + std::to_string(GetParam().size) +
                             " bytes exceeds the limit of 1048576 bytes; it was not read\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestSize,
    ::testing::Values(SizeCase{"AtTheLimit", servermod::kMaxRequestBytes, true},
                      SizeCase{"OneByteOver", servermod::kMaxRequestBytes + 1, false},
                      SizeCase{"FarOver", 64 * 1024 * 1024, false}),
    [](const ::testing::TestParamInfo<SizeCase>& i) { return i.param.name; });

// Only a regular file is a request: a folder or a FIFO at the request path is left alone (opening
// a FIFO for reading would block the server until some writer came).
TEST_F(ServerFixture, SomethingOtherThanAFileIsNoRequest) {
  ASSERT_EQ(mkfifo(server.RX.c_str(), 0600), 0);
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::Slept);
  EXPECT_TRUE(FileExists(server.RX));
  std::remove(server.RX.c_str());

  ASSERT_EQ(mkdir(server.RX.c_str(), 0700), 0);
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::Slept);
  EXPECT_TRUE(FileExists(server.RX));
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(FileExists(server.TX));
}

// The response cannot be renamed into place: the reason on the error stream, and the command
// server ends alone; the rest of the station is not stopped.
TEST_F(ServerFixture, FailedRenameEndsTheServerOnly) {
  params->ResponseTempJsonFilePath = dir.file("missing/response.json.tmp");
  WriteRequest("{\"COMMAND\":\"PING\"}");
  EXPECT_EQ(server.Start(), 1);
  EXPECT_EQ(err.str(), "Error renaming: No such file or directory\n");
  EXPECT_FALSE(params->APPLICATION_STOP_REQUEST);
  EXPECT_FALSE(FileExists(server.RX)) << "the request was deleted before the response was written";
  EXPECT_FALSE(FileExists(server.TX));
  EXPECT_EQ(out.str(),
            "ServerJson: " + server.RX +
                " file exists.\nServerJson: Command is PING.\nServerJson: Create file.\n");
}

// A full disk: the temporary file is created but its content cannot be written. The truncated
// file is never renamed into place (the old response stays whole), the reason goes to the error
// stream, and the server carries on and answers once there is room. /dev/full, reached through a
// link, fails every write with "No space left on device".
TEST_F(ServerFixture, ResponseThatCannotBeWrittenIsNeverPublishedHalf) {
  ASSERT_EQ(symlink("/dev/full", server.TX_TEMP.c_str()), 0);
  WriteFile(server.TX, "old response\n");
  WriteRequest("{\"COMMAND\":\"PING\"}");
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::Slept);
  EXPECT_EQ(err.str(), "Error writing " + server.TX_TEMP + ": No space left on device\n");
  EXPECT_EQ(ReadFile(server.TX), "old response\n");
  EXPECT_FALSE(FileExists(server.RX));
  struct stat info {};
  ASSERT_EQ(stat("/dev/full", &info), 0) << "the device itself must never be removed";

  // Room again.
  ASSERT_EQ(std::remove(server.TX_TEMP.c_str()), 0);
  WriteRequest("{\"COMMAND\":\"PING\"}");
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::Slept);
  EXPECT_EQ(ReadFile(server.TX), kPingResponse);
}

// A number too large for a double fails the parse with the library's out_of_range (found by the
// request fuzzer): the request is dropped like any unreadable one, without a response.
TEST_F(ServerFixture, NumberBeyondADoubleIsAnUnreadableRequest) {
  WriteRequest("{\"COMMAND\":\"PING\",\"X\":1e400}");
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::RequestFailed);
  EXPECT_EQ(out.str(), "ServerJson: " + server.RX +
                           " file exists.\nError occurred: [json.exception.out_of_range.406] "
                           "number overflow parsing '1e400'\n");
  EXPECT_FALSE(FileExists(server.RX));
  EXPECT_FALSE(FileExists(server.TX));
}

TEST_F(ServerFixture, ApplicationStopEndsTheLoopWithoutResponse) {
  params->Automeasure = true;
  WriteRequest("{\"COMMAND\":\"APPLICATION_STOP\"}");
  EXPECT_EQ(server.Start(), 1);
  EXPECT_TRUE(params->APPLICATION_STOP_REQUEST);
  EXPECT_TRUE(params->SHUTDOWN_REQUEST);
  EXPECT_EQ(ReadFile(server.RX), "{\"COMMAND\":\"APPLICATION_STOP\"}");
  EXPECT_FALSE(FileExists(server.TX));
  EXPECT_FALSE(FileExists(server.CORE)) << "no automeasure step in the stopping cycle";
  EXPECT_EQ(out.str(),
            "ServerJson: " + server.RX + " file exists.\nServerJson: Command is STOP.\n");
}

// An exception while a request is handled fails that request only: deleted, the message printed,
// no response, and the cycle ends at once (no automeasure step).
TEST_F(ServerFixture, ExceptionDuringARequestFailsThatRequest) {
  params->Automeasure = true;
  duringPause = [] { throw std::runtime_error("module gone"); };
  WriteRequest("{\"COMMAND\":\"MEASURE\"}");
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::RequestFailed);
  EXPECT_FALSE(FileExists(server.RX));
  EXPECT_FALSE(FileExists(server.TX));
  EXPECT_FALSE(params->APPLICATION_STOP_REQUEST);
  const std::string console = out.str();
  EXPECT_NE(console.find("\nError occurred: module gone\n"), std::string::npos) << console;
  EXPECT_EQ(console.find("AUTOMEASURE."), std::string::npos) << console;
}

// Outside a request nothing should throw; when something does, the whole station stops.
TEST_F(ServerFixture, ExceptionOutsideARequestStopsTheStation) {
  params->Automeasure = true;
  duringPause = [] { throw std::runtime_error("camera gone"); };
  EXPECT_EQ(server.Start(), 1);
  EXPECT_TRUE(params->APPLICATION_STOP_REQUEST);
  EXPECT_FALSE(params->SHUTDOWN_REQUEST);
  EXPECT_EQ(out.str(),
            "ServerJson: AUTOMEASURE.\n"
            "ServerJson: Waiting for Vision (Measure)...\n"
            "ServerJson: " +
                server.RX +
                " CRITICAL ERROR. MODULE CLOSING.\n"
                "Error occurred: camera gone\n");
}

// A stop requested elsewhere during a wait (a signal, a failed module) ends that wait at once:
// the module loops end at the stop and would never answer. The rest of the cycle still runs, so
// the client gets its response, and then the loop ends.
TEST_F(ServerFixture, StopDuringAWaitEndsItAtOnce) {
  visionAnswers = false;
  duringPause = [this] { params->APPLICATION_STOP_REQUEST = true; };
  WriteRequest("{\"COMMAND\":\"MEASURE\"}");
  EXPECT_EQ(server.Start(), 1);
  const auto response = Response();
  EXPECT_FALSE(response["STATUS"].get<bool>());
  EXPECT_TRUE(response["SERVER_ERROR_NO_LIDAR"].get<bool>());
  EXPECT_FALSE(response["SERVER_ERROR_NO_SCALES"].get<bool>()) << "the scales answered";
  EXPECT_NE(out.str().find("ServerJson: VISION MODULE IS NOT RESPONDING\n\n"
                           "ServerJson: Test1 Attempt=0 Limit=3\n"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("ServerJson: Test2 Attempt=1 Limit=3\n"), std::string::npos);
  EXPECT_EQ(pauses, 2);
}

// A bad request that cannot be deleted would be read again at once, forever: such a cycle keeps
// its pause so the loop never spins.
TEST_F(ServerFixture, UndeletableBadRequestDoesNotSpin) {
  if (geteuid() == 0) {
    // Root deletes from read-only folders; no one deletes from /proc. This file reads as a few
    // NUL-separated words, which is no JSON.
    server.RX = "/proc/self/cmdline";
  } else {
    const std::string folder = dir.file("readonly");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    server.RX = folder + "/request.json";
    WriteFile(server.RX, "{");
    ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
  }
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::RequestFailed);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
  EXPECT_TRUE(FileExists(server.RX));
  EXPECT_NE(out.str().find("Error occurred: "), std::string::npos);
}

// A result the client has not taken stays; the newer one only goes to the console.
TEST_F(ServerFixture, AutomeasureWaitsForTheClientToTakeTheResult) {
  params->Automeasure = true;
  WriteFile(server.CORE, "kept by the client\n");
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::Slept);
  EXPECT_EQ(ReadFile(server.CORE), "kept by the client\n");
  EXPECT_FALSE(FileExists(server.CORE_TEMP));
  EXPECT_NE(out.str().find("ServerJson: File created!: CONTENT:  {"), std::string::npos);

  std::remove(server.CORE.c_str());
  out.str("");
  server.PollCycle();
  const std::string published = ReadFile(server.CORE);
  EXPECT_NE(out.str().find("ServerJson: File created!: CONTENT:  " + published), std::string::npos)
      << "the console shows exactly what was published";
  EXPECT_FALSE(FileExists(server.CORE_TEMP));
}

TEST_F(ServerFixture, AutomeasureIntoAMissingFolderFailsSilently) {
  params->Automeasure = true;
  server.CORE_TEMP = dir.file("missing/automeasure.json.tmp");
  EXPECT_EQ(server.PollCycle(), ServerJson::CycleEnd::Slept);
  EXPECT_FALSE(FileExists(server.CORE));
  EXPECT_EQ(err.str(), "");
  EXPECT_NE(out.str().find("ServerJson: File created!: CONTENT:  {"), std::string::npos);
}

}  // namespace
}  // namespace servertest
