#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <sstream>
#include <string>

#include "scales/WeightningData.h"
#include "tests/scales/SimulatedScale.h"
#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"
#include "tools/scale-sim/ScaleSim.h"

namespace {

using namespace std::chrono_literals;
using scaletest::SimulatedScale;

struct Encoding {
  const char* name;
  double kilograms;
  int code;
  bool stable;
  const char* frame;
  double decoded;  // kilograms read back from the frame
};
void PrintTo(const Encoding& c, std::ostream* os) { *os << c.name; }

class Frames : public ::testing::TestWithParam<Encoding> {};

// The frame the simulator sends, and that the station's decoder reads it back as the same weight.
TEST_P(Frames, EncodedAndDecodedBack) {
  const Encoding& c = GetParam();
  const scalesim::Frame frame = scalesim::EncodeFrame(c.kilograms, c.code, c.stable);
  EXPECT_EQ(scalesim::Hex(frame.data(), frame.size()), c.frame);
  WeightningData data;
  data.parse(frame.data());
  std::ostringstream ignored;
  EXPECT_NEAR(data.getRealWeight(ignored), c.decoded, 1e-6 * (1 + std::fabs(c.decoded)));
}

INSTANTIATE_TEST_SUITE_P(
    Weights, Frames,
    ::testing::Values(Encoding{"Empty", 0, 0, true, "c0 00 00 00 00", 0},
                      Encoding{"OnePointTwoFiveKg", 1.25, 0, true, "a0 00 e2 04 00", 1.25},
                      Encoding{"Unstable", 1.25, 0, false, "20 00 e2 04 00", 0},
                      Encoding{"NegativeTensOfGrams", -100, 4, true, "a0 04 10 27 80", -100},
                      Encoding{"TenthsOfGrams", 0.0005, 1, true, "a0 01 05 00 00", 0.0005},
                      Encoding{"NoDivisor", 5, 2, true, "a0 02 05 00 00", 5},
                      Encoding{"RoundedToTheStep", 1.2344, 4, true, "a0 04 7b 00 00", 1.23},
                      Encoding{"Largest", 8388.607, 0, true, "a0 00 ff ff 7f", 8388.607},
                      Encoding{"ClampedWhenTooHeavy", 9000, 0, true, "a0 00 ff ff 7f", 8388.607}),
    [](const ::testing::TestParamInfo<Encoding>& i) { return i.param.name; });

TEST(Commands, RefusedWithAReason) {
  scalesim::ScaleSimulator sim;
  for (const char* line :
       {"weight", "weight abc", "weight nan", "weight 9000", "code 256", "code -1", "short 0",
        "short 6", "split 0", "raw zz", "raw 100", "stable now", "dance"}) {
    EXPECT_EQ(sim.Execute(line).rfind("error: ", 0), 0u) << line;
  }
  EXPECT_EQ(sim.State().weightKg, 0);
  EXPECT_EQ(sim.State().mode, scalesim::AnswerMode::kWhole);
}

TEST(Commands, ChangeTheState) {
  scalesim::ScaleSimulator sim;
  EXPECT_EQ(sim.Execute("weight 1.25"),
            "ok: weight 1.25 kg (1250 steps), code 0 (1000 steps per kg), stable, answering; "
            "frame a0 00 e2 04 00");
  sim.Execute("CODE 4");
  sim.Execute("unstable");
  sim.Execute("short 3");
  const scalesim::ScaleState state = sim.State();
  EXPECT_EQ(state.code, 4);
  EXPECT_FALSE(state.stable);
  EXPECT_EQ(state.mode, scalesim::AnswerMode::kShort);
  EXPECT_EQ(state.shortLength, 3);
  bool quit = false;
  EXPECT_EQ(sim.Execute("quit", &quit), "bye");
  EXPECT_TRUE(quit);
  EXPECT_EQ(sim.Execute("   "), "");
  EXPECT_NE(sim.Execute("help").find("weight KG"), std::string::npos);
}

// A client on the device side, as the station is.
class DeviceSide : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scale.opened());
    fd = open(scale.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override {
    if (fd >= 0) close(fd);
  }
  // Sends one request and collects what arrives until the answer is complete.
  std::string Ask(size_t expected) {
    const uint64_t before = scale.sim().Requests();
    EXPECT_EQ(write(fd, "J", 1), 1);
    EXPECT_TRUE(scale.WaitForRequests(before + 1));
    std::string bytes;
    testsupport::WaitUntil(
        [&] {
          unsigned char buffer[64];
          const ssize_t n = read(fd, buffer, sizeof buffer);
          if (n > 0) bytes += scalesim::Hex(buffer, static_cast<size_t>(n)) + " ";
          return bytes.size() >= expected * 3;
        },
        2s, 2ms);
    if (!bytes.empty()) bytes.pop_back();
    return bytes;
  }
  SimulatedScale scale;
  int fd = -1;
};

TEST_F(DeviceSide, AnswersEachRequestByteOnly) {
  scale.Do({"weight 1.25"});
  EXPECT_EQ(write(fd, "xyz", 3), 3);  // not requests
  EXPECT_EQ(Ask(5), "a0 00 e2 04 00");
  EXPECT_EQ(scale.sim().Requests(), 1u);
}

TEST_F(DeviceSide, AnswerModes) {
  scale.Do({"weight 1.25", "short 3"});
  EXPECT_EQ(Ask(3), "a0 00 e2");
  scale.Do({"split 20"});
  EXPECT_EQ(Ask(5), "a0 00 e2 04 00");
  scale.Do({"raw 01 02", "normal"});
  EXPECT_EQ(Ask(2), "01 02");
  EXPECT_EQ(Ask(5), "a0 00 e2 04 00");
  scale.Do({"silent"});
  EXPECT_EQ(Ask(1), "");
}

// The simulator as a program: the device path first, a link to it, commands through a FIFO.
TEST(Program, DevicePathLinkAndControlFifo) {
  testsupport::TempDir dir;
  const std::string link = dir.file("ttySCALES0");
  const std::string control = dir.file("scale.cmd");
  testsupport::StationProcess sim(dir.path(), {"--link", link, "--control", control}, {},
                                  DIMCORE_SCALE_SIM);
  ASSERT_TRUE(sim.WaitForStdout("\n", 5s));
  const std::string device = sim.Stdout().substr(0, sim.Stdout().find('\n'));
  EXPECT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(device, target);

  testsupport::WriteFile(control, "weight 2.5\n");
  EXPECT_TRUE(sim.WaitForStdout("ok: weight 2.5 kg (2500 steps)", 5s)) << sim.Stdout();
  testsupport::WriteFile(control, "quit\n");
  ASSERT_TRUE(sim.WaitForExit(5s));
  EXPECT_EQ(sim.ExitStatus(), 0);
  struct stat info {};
  EXPECT_NE(lstat(link.c_str(), &info), 0) << "link removed";
  EXPECT_NE(lstat(control.c_str(), &info), 0) << "FIFO removed";
}

TEST(Program, RefusesToReplaceAFile) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.file("precious"), "keep me");
  testsupport::StationProcess sim(dir.path(), {"--link", dir.file("precious")}, {},
                                  DIMCORE_SCALE_SIM);
  ASSERT_TRUE(sim.WaitForExit(5s));
  EXPECT_EQ(sim.ExitStatus(), 1);
  EXPECT_EQ(testsupport::ReadFile(dir.file("precious")), "keep me");
}

}  // namespace
