// Faults injected into the real station, one table: a camera that stalls or lacks colour, a scale
// that falls silent, talks garbage or disappears, exchange files on missing, read-only, foreign or
// full file systems, requests that cannot be read or are too large, and clients that misbehave.
// Each case states the outcome the station owes: a clear message, no crash, and nothing lost that
// it promises (every request it can use answered, a response never half written).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"
#include "tools/scale-sim/ScaleSim.h"

namespace {

using nlohmann::json;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunFolder;
using testsupport::StationProcess;
using testsupport::WaitUntil;
using testsupport::WriteFile;
using testsupport::WriteFileAtomically;
using namespace std::chrono_literals;

const std::vector<std::string> kQuiet = {"disable_lidar", "disable_scales", "disable_automeasure"};

json Scene(int stallAfterFrames = -1, json streams = {"depth", "color"}) {
  json scene = {{"platform_distance_mm", 1000},
                {"boxes", {{{"size_mm", {200, 150, 120}}, {"center_mm", {170, 40}}}}},
                {"streams", streams}};
  if (stallAfterFrames >= 0) scene["stall_after_frames"] = stallAfterFrames;
  return scene;
}

// The parts of one case: a run folder, optionally a scale on a pseudo-terminal and file systems
// mounted for the case, and the station.
class Rig {
 public:
  ~Rig() {
    station.reset();  // stop the station before its folders go
    if (scale) scale->Stop();
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
  }

  void Start(std::vector<std::string> words, std::map<std::string, std::string> env = {}) {
    if (scale) env["DIMCORE_SCALES_DEVICE"] = scale->DevicePath();
    station = std::make_unique<StationProcess>(run.path(), std::move(words), std::move(env));
  }
  void StartOnCamera(const json& scene, std::vector<std::string> words) {
    WriteFileAtomically(run.file("scene.json"), scene.dump());
    Start(std::move(words), {{"DIMCORE_CAMERA_SCENE", run.file("scene.json")}});
  }
  // A scale answering 1.25 kg, stable.
  void AttachScale() {
    scale = std::make_unique<scalesim::ScaleSimulator>();
    std::string error;
    ASSERT_TRUE(scale->Open(&error)) << error;
    scale->Start();
  }
  void Scale(const std::string& command) {
    const std::string answer = scale->Execute(command);
    ASSERT_EQ(answer.rfind("ok", 0), 0u) << command << " -> " << answer;
  }
  // Until the station has certainly decoded what the scale answers now.
  void SettleScale() { ASSERT_TRUE(scale->WaitForRequests(scale->Requests() + 3, 10s)); }

  // Sends a request as a client must and returns the response (deleting it), "" when none came.
  std::string Ask(const std::string& request, std::chrono::milliseconds timeout = 10s) {
    std::remove(run.response().c_str());
    WriteFileAtomically(run.request(), request);
    if (!WaitUntil([&] { return FileExists(run.response()); }, timeout)) return "";
    const std::string text = ReadFile(run.response());
    std::remove(run.response().c_str());
    return text;
  }
  json AskJson(const std::string& command, std::chrono::milliseconds timeout = 10s) {
    const std::string text = Ask(json{{"COMMAND", command}}.dump(), timeout);
    return text.empty() ? json() : json::parse(text, nullptr, false);
  }

  // A tmpfs of the given size at path (created), in a mount namespace private to this test
  // process so that it goes with the process whatever happens. "" or the reason it cannot be had.
  std::string MountTmpfs(const std::string& path, const std::string& size, bool readOnly = false) {
    static std::string privateNamespace = [] {
      if (geteuid() != 0) return std::string("mounting a file system needs root");
      if (unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
      if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("making mounts private: ") + std::strerror(errno);
      }
      return std::string();
    }();
    if (!privateNamespace.empty()) return privateNamespace;
    mkdir(path.c_str(), 0755);
    const std::string options = "size=" + size;
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      return "mount tmpfs: " + std::string(std::strerror(errno));
    }
    mounts_.push_back(path);
    if (readOnly &&
        mount("tmpfs", path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, options.c_str()) != 0) {
      return "remount read-only: " + std::string(std::strerror(errno));
    }
    return "";
  }
  std::string RemountReadOnly(const std::string& path) {
    if (mount("tmpfs", path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      return "remount read-only: " + std::string(std::strerror(errno));
    }
    return "";
  }

  // The exchange paths moved: extra TOML lines override the run folder's defaults.
  void Configure(const std::map<std::string, std::string>& paths) {
    std::string text = "[jsonfiler]\n";
    std::map<std::string, std::string> all = {
        {"RequestJsonFilePath", run.request()},
        {"ResponseJsonFilePath", run.response()},
        {"RequestTempJsonFilePath", run.file("exchange/request.json.tmp")},
        {"ResponseTempJsonFilePath", run.responseTemp()},
        {"AutomesureTempJsonFilePath", run.automeasureTemp()},
        {"AutomesureJsonFilePath", run.automeasure()},
        {"MockPngFile", run.mockPng()},
        {"MockPngFile2", run.mockPng2()},
        {"PhotoPath", run.photo()}};
    for (const auto& [key, value] : paths) all[key] = value;
    for (const auto& [key, value] : all) text += key + " = \"" + value + "\"\n";
    run.WriteConfig(text);
  }

  std::string Console() { return station->Stdout() + "\n--- stderr ---\n" + station->Stderr(); }

  RunFolder run;
  std::unique_ptr<scalesim::ScaleSimulator> scale;
  std::unique_ptr<StationProcess> station;

 private:
  std::vector<std::string> mounts_;
};

#define REQUIRE_MOUNT(expr)                                                      \
  do {                                                                           \
    const std::string why = (expr);                                              \
    if (!why.empty()) GTEST_SKIP() << "no file system of our own here: " << why; \
  } while (false)

// The station is still alive and answering.
void ExpectAnswers(Rig& rig) {
  const json ping = rig.AskJson("PING");
  EXPECT_TRUE(ping.is_object() && ping["STATUS"] == true) << ping << rig.Console();
}

struct FaultCase {
  const char* name;
  const char* outcome;
  std::function<void(Rig&)> inject;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class Fault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Fault, Outcome) {
  const FaultCase& c = GetParam();
  SCOPED_TRACE(std::string("expected: ") + c.outcome);
  Rig rig;
  c.inject(rig);
  if (rig.station && !::testing::Test::IsSkipped()) {
    // Whatever happened, nothing may have crashed, and nothing may have powered off.
    EXPECT_FALSE(FileExists(rig.run.poweroffLog()));
    if (!rig.station->Running()) {
      EXPECT_EQ(rig.station->ExitStatus(), 0) << rig.Console();
    }
    EXPECT_EQ(rig.station->Stderr().find("Sanitizer"), std::string::npos) << rig.Console();
  }
}

// --- The camera -------------------------------------------------------------------------------

void CameraStallsMidRun(Rig& rig) {
  // The calibration frame and the start-up measurement's frame, then nothing.
  rig.StartOnCamera(Scene(2), {"disable_scales", "disable_automeasure"});
  ASSERT_TRUE(rig.station->WaitForStdout("HANDS_CHECKING_TEST1", 30s)) << rig.Console();
  ASSERT_TRUE(WaitUntil([&] { return testsupport::PngComplete(rig.run.photo()); }, 10s));
  // The photo is the start-up measurement's last act but for its flags: a MEASURE slipping in
  // between is rightly answered from that measurement's frame. The one after it needs a frame the
  // camera never sends.
  json answer = rig.AskJson("MEASURE", 60s);
  ASSERT_TRUE(answer.is_object()) << "the MEASURE under way got no answer\n" << rig.Console();
  if (answer["STATUS"] == true) {
    answer = rig.AskJson("MEASURE", 60s);
    ASSERT_TRUE(answer.is_object()) << "the MEASURE under way got no answer\n" << rig.Console();
  }
  EXPECT_EQ(answer["STATUS"], false) << answer;
  EXPECT_EQ(answer["SERVER_ERROR_NO_LIDAR"], true) << answer;
  ASSERT_TRUE(rig.station->WaitForExit(30s)) << rig.Console();
  EXPECT_NE(rig.station->Stderr().find("Frame didn't arrive within 15000"), std::string::npos)
      << rig.Console();
  EXPECT_NE(rig.station->Stdout().find("CORE: APPLICATION EXITING\n"), std::string::npos);
}

void SceneWithoutColour(Rig& rig) {
  rig.StartOnCamera(Scene(-1, {"depth"}), {"disable_scales"});
  ASSERT_TRUE(rig.station->WaitForExit(20s)) << rig.Console();
  EXPECT_NE(rig.station->Stderr().find("The demo requires Realsense camera with RGB sensor\n"),
            std::string::npos)
      << rig.Console();
  EXPECT_NE(rig.station->Stderr().find("ERROR[VISION MODULE] : Can't init."), std::string::npos);
}

// --- The scale --------------------------------------------------------------------------------

// A station weighing 1.25 kg, measured once.
void WeighingStation(Rig& rig) {
  rig.AttachScale();
  rig.Start({"disable_lidar", "disable_automeasure"});
  ASSERT_TRUE(rig.station->WaitForStdout("Calibrating scales with new coeff: 0 on weight 0\n", 10s))
      << rig.Console();
  rig.Scale("weight 1.25");
  rig.SettleScale();
  const json answer = rig.AskJson("MEASURE");
  ASSERT_EQ(answer["W"], 1250.0) << answer << rig.Console();
}

void ScaleFallsSilent(Rig& rig) {
  WeighingStation(rig);
  rig.Scale("silent");
  rig.Scale("weight 2");
  ASSERT_TRUE(rig.scale->WaitForRequests(rig.scale->Requests() + 5, 10s));
  const json answer = rig.AskJson("MEASURE");
  EXPECT_EQ(answer["STATUS"], true) << answer;
  EXPECT_EQ(answer["W"], 1250.0) << answer;  // the last weight stays
  rig.Scale("normal");
  rig.SettleScale();
  EXPECT_EQ(rig.AskJson("MEASURE")["W"], 2000.0) << "the scale's return is not noticed";
}

void ScaleSendsGarbage(Rig& rig) {
  WeighingStation(rig);
  rig.Scale("garbage");
  ASSERT_TRUE(rig.scale->WaitForRequests(rig.scale->Requests() + 30, 20s));
  const json answer = rig.AskJson("MEASURE");
  EXPECT_EQ(answer["STATUS"], true) << answer;
  EXPECT_TRUE(answer["W"].is_number()) << answer;
  rig.Scale("normal");
  rig.Scale("weight 0.5");
  rig.SettleScale();
  EXPECT_EQ(rig.AskJson("MEASURE")["W"], 500.0) << rig.Console();
}

void ScaleDisappears(Rig& rig) {
  WeighingStation(rig);
  rig.scale.reset();  // the pseudo-terminal goes, as an unplugged adapter does
  const json answer = rig.AskJson("MEASURE");
  EXPECT_EQ(answer["STATUS"], true) << answer << rig.Console();
  EXPECT_EQ(answer["W"], 1250.0) << answer;
  ExpectAnswers(rig);
  EXPECT_TRUE(rig.station->Running());
}

// --- Exchange files ---------------------------------------------------------------------------

void ExchangeFolderMissing(Rig& rig) {
  const std::string folder = rig.run.file("later");
  rig.Configure({{"RequestJsonFilePath", folder + "/request.json"},
                 {"ResponseJsonFilePath", folder + "/response.json"},
                 {"ResponseTempJsonFilePath", folder + "/response.json.tmp"},
                 {"AutomesureJsonFilePath", folder + "/automeasure.json"},
                 {"AutomesureTempJsonFilePath", folder + "/automeasure.json.tmp"}});
  rig.Start({"disable_lidar", "disable_scales"});
  ASSERT_TRUE(rig.station->WaitForStdoutCount("ServerJson: AUTOMEASURE.", 5, 10s)) << rig.Console();
  // The folder appears: requests and automeasure results flow.
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileExists(folder + "/automeasure.json"); }, 10s));
  std::remove((folder + "/response.json").c_str());
  WriteFileAtomically(folder + "/request.json", R"({"COMMAND":"PING"})");
  ASSERT_TRUE(WaitUntil([&] { return FileExists(folder + "/response.json"); }, 10s))
      << rig.Console();
  EXPECT_EQ(json::parse(ReadFile(folder + "/response.json"))["STATUS"], true);
}

void ExchangeFolderReadOnly(Rig& rig) {
  const std::string folder = rig.run.file("exchange");
  REQUIRE_MOUNT(rig.MountTmpfs(folder, "1m"));
  // Only the exchange files are on the read-only file system, not the pictures.
  rig.Configure(
      {{"MockPngFile2", rig.run.file("mock2.png")}, {"PhotoPath", rig.run.file("photo.png")}});
  WriteFile(rig.run.request(), R"({"COMMAND":"PING"})");
  REQUIRE_MOUNT(rig.RemountReadOnly(folder));
  rig.Start(kQuiet);
  ASSERT_TRUE(rig.station->WaitForStderr("Error renaming: Read-only file system\n", 10s))
      << rig.Console();
  // The command server has given up; the station itself runs on.
  EXPECT_TRUE(rig.station->Running());
}

void ResponseTempOnAnotherFileSystem(Rig& rig) {
  const std::string other = rig.run.file("other");
  REQUIRE_MOUNT(rig.MountTmpfs(other, "1m"));
  rig.Configure({{"ResponseTempJsonFilePath", other + "/response.json.tmp"}});
  rig.Start(kQuiet);
  WriteFileAtomically(rig.run.request(), R"({"COMMAND":"PING"})");
  ASSERT_TRUE(rig.station->WaitForStderr("Error renaming: Invalid cross-device link\n", 10s))
      << rig.Console();
  EXPECT_FALSE(FileExists(rig.run.response()));
  EXPECT_TRUE(rig.station->Running());
}

void ResponseTempFolderMissing(Rig& rig) {
  rig.Configure({{"ResponseTempJsonFilePath", rig.run.file("missing/response.json.tmp")}});
  rig.Start(kQuiet);
  WriteFileAtomically(rig.run.request(), R"({"COMMAND":"PING"})");
  ASSERT_TRUE(rig.station->WaitForStderr("Error renaming: No such file or directory\n", 10s))
      << rig.Console();
  EXPECT_FALSE(FileExists(rig.run.response()));
  EXPECT_TRUE(rig.station->Running());
}

// A request path that cannot be opened for reading is never answered and never deleted; the
// station goes on polling (a FIFO must not block it) and serves a real request once it is there.
void RequestIsAFifo(Rig& rig) {
  ASSERT_EQ(mkfifo(rig.run.request().c_str(), 0644), 0);
  rig.Start(kQuiet);
  ASSERT_TRUE(rig.station->WaitForStdout("CORE: ", 10s));
  EXPECT_FALSE(WaitUntil([&] { return FileExists(rig.run.response()); }, 1s));
  struct stat info {};
  ASSERT_EQ(stat(rig.run.request().c_str(), &info), 0) << "the FIFO was deleted";
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(rig.station->Stdout().find("file exists."), std::string::npos) << rig.Console();
  ExpectAnswers(rig);  // replaced by a real request through a rename
}

void RequestWithoutReadPermission(Rig& rig) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root reads any file: the FIFO case covers a request that cannot be opened";
  }
  WriteFile(rig.run.request(), R"({"COMMAND":"PING"})");
  ASSERT_EQ(chmod(rig.run.request().c_str(), 0), 0);
  rig.Start(kQuiet);
  EXPECT_FALSE(WaitUntil([&] { return FileExists(rig.run.response()); }, 1s));
  EXPECT_TRUE(FileExists(rig.run.request()));
  ExpectAnswers(rig);
}

void RequestOverSizeLimit(Rig& rig) {
  rig.Start(kQuiet);
  // Sparse: 8 GiB that take no room, refused unread by their size.
  const int fd = open(rig.run.file("exchange/big.tmp").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 8LL << 30), 0);
  close(fd);
  ASSERT_EQ(std::rename(rig.run.file("exchange/big.tmp").c_str(), rig.run.request().c_str()), 0);
  ASSERT_TRUE(rig.station->WaitForStdout(
      "Error occurred: request file of 8589934592 bytes exceeds the limit of 1048576 bytes", 10s))
      << rig.Console();
  ASSERT_TRUE(WaitUntil([&] { return !FileExists(rig.run.request()); }, 5s));
  EXPECT_FALSE(FileExists(rig.run.response()));
  // One byte over the limit, made of blanks around a valid request.
  WriteFileAtomically(rig.run.request(),
                      R"({"COMMAND":"PING"})" + std::string(1024 * 1024 + 1 - 18, ' '));
  ASSERT_TRUE(rig.station->WaitForStdout("bytes exceeds the limit of 1048576 bytes", 10s));
  ASSERT_TRUE(rig.station->WaitForStdoutCount("exceeds the limit", 2, 10s)) << rig.Console();
  EXPECT_FALSE(FileExists(rig.run.response()));
  ExpectAnswers(rig);
}

// One request at a time: a replacement written while a MEASURE executes is deleted unread (or, if
// the measurement ended first, answered); the MEASURE's answer is never lost or mixed up.
void RequestReplacedWhileExecuting(Rig& rig) {
  rig.StartOnCamera(Scene(), {"disable_scales", "disable_automeasure"});
  ASSERT_TRUE(rig.station->WaitForStdout("HANDS_CHECKING_TEST1", 30s)) << rig.Console();
  WriteFileAtomically(rig.run.request(), R"({"COMMAND":"MEASURE"})");
  ASSERT_TRUE(rig.station->WaitForStdout("ServerJson: Command is MEASURE.", 10s));
  WriteFileAtomically(rig.run.request(), R"({"COMMAND":"NOPE"})");
  ASSERT_TRUE(WaitUntil([&] { return FileExists(rig.run.response()); }, 20s)) << rig.Console();
  const json first = json::parse(ReadFile(rig.run.response()));
  EXPECT_TRUE(first.contains("X") || first["STATUS"] == false) << first;
  std::remove(rig.run.response().c_str());
  if (first.contains("X")) {
    EXPECT_EQ(first["STATUS"], true) << first;
    // The replacement: gone unread, or answered as its own request.
    ASSERT_TRUE(WaitUntil([&] { return !FileExists(rig.run.request()); }, 10s));
  }
  ExpectAnswers(rig);
}

// A response is never half written: with no room left the old response stays untouched (or none
// appears), pictures fail quietly, and the station answers again once there is room.
void FullDisk(Rig& rig) {
  const std::string folder = rig.run.file("exchange");
  REQUIRE_MOUNT(rig.MountTmpfs(folder, "4m"));
  // Requests come through the run folder: a deleted request must not make room for the response.
  const std::string request = rig.run.file("request.json");
  rig.Configure({{"RequestJsonFilePath", request}});
  WriteFileAtomically(rig.run.file("scene.json"), Scene().dump());
  rig.Start(
      {"disable_scales", "disable_automeasure"},
      {{"DIMCORE_CAMERA_SCENE", rig.run.file("scene.json")}, {"DIMCORE_SNAPSHOT_DIR", folder}});
  ASSERT_TRUE(rig.station->WaitForStdout("HANDS_CHECKING_TEST1", 30s)) << rig.Console();
  // Fill the file system to the last byte.
  {
    const int fd = open(rig.run.file("exchange/filler").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, "x", 1) > 0) {
    }
    close(fd);
  }
  WriteFileAtomically(request, R"({"COMMAND":"MEASURE"})");
  ASSERT_TRUE(WaitUntil([&] { return !FileExists(request); }, 20s)) << rig.Console();
  ASSERT_TRUE(rig.station->WaitForStderr("No space left on device", 10s)) << rig.Console();
  if (FileExists(rig.run.response())) {
    const std::string text = ReadFile(rig.run.response());
    EXPECT_FALSE(json::parse(text, nullptr, false).is_discarded())
        << "a half-written response was published: '" << text << "'";
  }
  EXPECT_TRUE(rig.station->Running()) << rig.Console();
  // Room again: answers flow.
  ASSERT_EQ(std::remove(rig.run.file("exchange/filler").c_str()), 0);
  WriteFileAtomically(request, R"({"COMMAND":"MEASURE"})");
  ASSERT_TRUE(WaitUntil([&] { return FileExists(rig.run.response()); }, 20s)) << rig.Console();
  const json answer = json::parse(ReadFile(rig.run.response()), nullptr, false);
  EXPECT_EQ(answer["STATUS"], true) << answer << rig.Console();
  // The box's longer side (200 mm; off the axis it comes out a few millimetres larger).
  EXPECT_NEAR(answer["Y"].get<double>(), 200.0, 10.0) << answer;
}

void PhotoPathUnwritable(Rig& rig) {
  rig.Configure({{"PhotoPath", rig.run.file("missing/photo.png")}});
  rig.StartOnCamera(Scene(), {"disable_scales", "disable_automeasure"});
  ASSERT_TRUE(rig.station->WaitForStdout("HANDS_CHECKING_TEST1", 30s)) << rig.Console();
  const json answer = rig.AskJson("MEASURE", 20s);
  EXPECT_EQ(answer["STATUS"], true) << answer << rig.Console();
  // The box's longer side (200 mm; off the axis it comes out a few millimetres larger).
  EXPECT_NEAR(answer["Y"].get<double>(), 200.0, 10.0) << answer;
  EXPECT_TRUE(rig.station->Running());
}

// Without a camera the stored picture is moved onto PhotoPath; when that cannot be done the
// vision module says so and the station stops cleanly.
void PhotoPathUnwritableWithoutCamera(Rig& rig) {
  rig.Configure({{"PhotoPath", rig.run.file("missing/photo.png")}});
  rig.Start({"disable_lidar", "disable_scales"});
  ASSERT_TRUE(rig.station->WaitForExit(20s)) << rig.Console();
  EXPECT_NE(rig.station->Stdout().find("Vision: Error in renaming\n"), std::string::npos)
      << rig.Console();
  EXPECT_NE(rig.station->Stdout().find("CORE: APPLICATION EXITING\n"), std::string::npos);
}

// --- Clients ----------------------------------------------------------------------------------

void ClientNeverDeletesAutomeasure(Rig& rig) {
  rig.Start({"disable_lidar", "disable_scales"});
  ASSERT_TRUE(WaitUntil([&] { return FileExists(rig.run.automeasure()); }, 10s));
  const std::string first = ReadFile(rig.run.automeasure());
  ASSERT_TRUE(rig.station->WaitForStdoutCount("File created!: CONTENT:", 20, 30s));
  EXPECT_EQ(ReadFile(rig.run.automeasure()), first);
  // Requests are still served, and the next result comes once the client takes the old one.
  ExpectAnswers(rig);
  ASSERT_EQ(std::remove(rig.run.automeasure().c_str()), 0);
  EXPECT_TRUE(WaitUntil([&] { return FileExists(rig.run.automeasure()); }, 10s));
}

// As fast as a client can: each request written the moment the previous answer is read. Every one
// is answered, in order: each GET_CONFIGURATION shows the MIN_AREA its SET_CONFIGURATION just set.
void BurstOfRequests(Rig& rig) {
  rig.Start(kQuiet);
  json set = {{"COMMAND", "SET_CONFIGURATION"},
              {"VISUAL_PRESET", 3},
              {"DIGITAL_GAIN", 2},
              {"MIN_DEPTH", 0.29},
              {"MAX_DEPTH", 16},
              {"MIN_AREA", 100},
              {"MAX_AREA", 200000},
              {"FOW_WIDTH", 65},
              {"FOW_HEIGHT", 40},
              {"REGION_WIDTH", 680},
              {"REGION_HEIGHT", 550},
              {"REGION_OFFSET_X", 0},
              {"REGION_OFFSET_Y", 40},
              {"DRAW_SIZE", true}};
  for (int i = 0; i < 25; ++i) {
    set["MIN_AREA"] = 100 + i;
    const std::string setAnswer = rig.Ask(set.dump());
    ASSERT_FALSE(setAnswer.empty()) << "request " << 2 * i << " unanswered\n" << rig.Console();
    EXPECT_EQ(json::parse(setAnswer)["STATUS"], true) << setAnswer;
    const json got = rig.AskJson("GET_CONFIGURATION");
    ASSERT_TRUE(got.is_object()) << "request " << 2 * i + 1 << " unanswered";
    EXPECT_EQ(got["MIN_AREA"], 100.0 + i) << got;
  }
  EXPECT_EQ(testsupport::CountOccurrences(rig.station->Stdout(), "ServerJson: Create file."), 50u);
}

INSTANTIATE_TEST_SUITE_P(
    Station, Fault,
    ::testing::Values(
        FaultCase{"CameraStallsMidRun",
                  "the MEASURE under way is answered STATUS false with SERVER_ERROR_NO_LIDAR; the "
                  "camera error is on stderr; the station stops cleanly (exit 0, no power-off)",
                  CameraStallsMidRun},
        FaultCase{"SceneWithoutColour",
                  "\"The demo requires Realsense camera with RGB sensor\", \"Can't init.\", clean "
                  "stop",
                  SceneWithoutColour},
        FaultCase{"ScaleFallsSilent",
                  "answers go on with the last weight; the scale's return is picked up",
                  ScaleFallsSilent},
        FaultCase{"ScaleSendsGarbage",
                  "answers go on (STATUS true, W a number); whole frames again give the right "
                  "weight",
                  ScaleSendsGarbage},
        FaultCase{"ScaleDisappears",
                  "answers go on with the last weight; the station keeps running", ScaleDisappears},
        FaultCase{"ExchangeFolderMissing",
                  "the station runs on; once the folder exists, requests and automeasure flow",
                  ExchangeFolderMissing},
        FaultCase{"ExchangeFolderReadOnly",
                  "\"Error renaming: Read-only file system\"; the command server ends, the "
                  "station runs on",
                  ExchangeFolderReadOnly},
        FaultCase{"ResponseTempOnAnotherFileSystem",
                  "\"Error renaming: Invalid cross-device link\"; no response; the command server "
                  "ends, the station runs on",
                  ResponseTempOnAnotherFileSystem},
        FaultCase{"ResponseTempFolderMissing",
                  "\"Error renaming: No such file or directory\"; the command server ends, the "
                  "station runs on",
                  ResponseTempFolderMissing},
        FaultCase{"RequestIsAFifo",
                  "never answered, never deleted, polling not blocked; a real request is served",
                  RequestIsAFifo},
        FaultCase{"RequestWithoutReadPermission",
                  "never answered, never deleted; a readable request is served",
                  RequestWithoutReadPermission},
        FaultCase{"RequestOverSizeLimit",
                  "deleted unread with \"Error occurred: request file of N bytes exceeds the "
                  "limit\", no response; the next request is answered",
                  RequestOverSizeLimit},
        FaultCase{"RequestReplacedWhileExecuting",
                  "the MEASURE is answered; the replacement is deleted unread or answered; the "
                  "station answers the next request",
                  RequestReplacedWhileExecuting},
        FaultCase{"FullDisk",
                  "no half-written response ever published; \"No space left on device\" on "
                  "stderr; answers again once there is room",
                  FullDisk},
        FaultCase{"PhotoPathUnwritable", "the MEASURE is answered normally without the photo",
                  PhotoPathUnwritable},
        FaultCase{"PhotoPathUnwritableWithoutCamera",
                  "\"Vision: Error in renaming\", the station stops cleanly",
                  PhotoPathUnwritableWithoutCamera},
        FaultCase{"ClientNeverDeletesAutomeasure",
                  "the first result stays untouched; requests are served; the next result comes "
                  "once it is taken",
                  ClientNeverDeletesAutomeasure},
        FaultCase{"BurstOfRequests", "50 requests back to back, each answered, in order",
                  BurstOfRequests}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
