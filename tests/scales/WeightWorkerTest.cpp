#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "scales/WeightWorker.h"
#include "scales/rs232.h"
#include "tests/scales/SimulatedScale.h"
#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"

namespace {

using scaletest::SimulatedScale;
using namespace std::chrono_literals;

constexpr int kScalesPort = 24;

// A worker polling the simulated scale over a real pseudo-terminal.
class Worker : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scale.opened()); }
  void Start() {
    ::testing::internal::CaptureStdout();
    worker = std::make_unique<WeightWorker>();
    ASSERT_TRUE(worker->init(kScalesPort));
  }
  // The console output so far (worker and decoder lines).
  std::string Console() {
    const std::string out = ::testing::internal::GetCapturedStdout();
    ::testing::internal::CaptureStdout();
    return out;
  }
  void TearDown() override {
    worker.reset();
    ::testing::internal::GetCapturedStdout();
  }
  float Kilograms() {
    std::ostringstream ignored;
    return worker->getWeightningData().getRealWeight(ignored);
  }
  // A loaded machine may delay an answer past the worker's read; the reading then follows a cycle
  // later, so wait for it instead of counting cycles.
  bool ReadsEventually(float kg) {
    return testsupport::WaitUntil(
        [&] {
          return ::testing::internal::CmpHelperFloatingPointEQ<float>("", "", kg, Kilograms());
        },
        5s);
  }
  // Starts on an empty, stable scale and waits until the worker has zeroed it.
  void StartEmptyAndZeroed() {
    Start();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !worker->getCalibrate(); }, 5s));
    ASSERT_FLOAT_EQ(worker->getWeightningData().calibrationDifference(), 0.0f);
  }

  SimulatedScale scale;
  std::unique_ptr<WeightWorker> worker;
};

TEST_F(Worker, BoxOnTheScaleAtStartReadsZero) {
  scale.Do({"weight 2"});
  Start();
  EXPECT_TRUE(worker->getCalibrate()) << "zeroing is pending from the start";
  ASSERT_TRUE(testsupport::WaitUntil([&] { return !worker->getCalibrate(); }, 5s));
  ASSERT_TRUE(scale.Settle());
  EXPECT_FLOAT_EQ(Kilograms(), 0.0f);
  EXPECT_FLOAT_EQ(worker->getWeightningData().calibrationDifference(), 2.0f);
  EXPECT_NE(Console().find("Calibrating scales with new coeff: 2 on weight 2\n"),
            std::string::npos);

  scale.Do({"weight 3.5"});
  ASSERT_TRUE(scale.Settle());
  EXPECT_TRUE(ReadsEventually(1.5f)) << Kilograms();
  // Taking the box off reads as minus its weight until the scale is zeroed empty.
  scale.Do({"weight 0"});
  ASSERT_TRUE(scale.Settle());
  EXPECT_TRUE(ReadsEventually(-2.0f)) << Kilograms();
}

TEST_F(Worker, UnstableScaleReadsZeroAndKeepsZeroingPending) {
  scale.Do({"weight 1", "unstable"});
  Start();
  ASSERT_TRUE(scale.WaitForRequests(4));
  ASSERT_TRUE(scale.Settle());
  EXPECT_FALSE(worker->getWeightningData().WeightningFinished);
  EXPECT_FLOAT_EQ(Kilograms(), 0.0f);
  EXPECT_TRUE(worker->getCalibrate());
  EXPECT_EQ(Console().find("Calibrating"), std::string::npos);

  // The first stable frame is the zero.
  scale.Do({"stable"});
  ASSERT_TRUE(testsupport::WaitUntil([&] { return !worker->getCalibrate(); }, 5s));
  EXPECT_FLOAT_EQ(worker->getWeightningData().calibrationDifference(), 1.0f);
  EXPECT_FLOAT_EQ(Kilograms(), 0.0f);
}

TEST_F(Worker, ZeroingOnRequest) {
  StartEmptyAndZeroed();
  scale.Do({"weight 0.75"});
  ASSERT_TRUE(scale.Settle());
  EXPECT_FLOAT_EQ(Kilograms(), 0.75f);
  worker->setCalibrate(true);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return !worker->getCalibrate(); }, 5s));
  EXPECT_FLOAT_EQ(Kilograms(), 0.0f);
  scale.Do({"weight 1"});
  ASSERT_TRUE(scale.Settle());
  EXPECT_FLOAT_EQ(Kilograms(), 0.25f);
}

struct ShortAnswer {
  const char* name;
  const char* command;
  float kilograms;  // what 1.25 kg (frame a0 00 e2 04 00) then reads
};
void PrintTo(const ShortAnswer& c, std::ostream* os) { *os << c.name; }

class ShortAnswers : public Worker, public ::testing::WithParamInterface<ShortAnswer> {};

// Three or four bytes are decoded (the missing ones as zero); one or two are dropped and the
// last whole frame stays.
TEST_P(ShortAnswers, DecodedFromThreeBytes) {
  StartEmptyAndZeroed();
  // The answer mode first, so that no whole frame of the new weight slips through.
  scale.Do({GetParam().command, "weight 1.25"});
  ASSERT_TRUE(scale.Settle());
  ASSERT_TRUE(scale.Settle());
  EXPECT_TRUE(ReadsEventually(GetParam().kilograms)) << Kilograms();
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortAnswers,
                         ::testing::Values(ShortAnswer{"OneByte", "short 1", 0.0f},
                                           ShortAnswer{"TwoBytes", "short 2", 0.0f},
                                           ShortAnswer{"ThreeBytes", "short 3", 0.226f},
                                           ShortAnswer{"FourBytes", "short 4", 1.25f},
                                           ShortAnswer{"SplitInTwoWrites", "split 5", 1.25f}),
                         [](const ::testing::TestParamInfo<ShortAnswer>& i) {
                           return i.param.name;
                         });

// The worker reads at most five bytes per request. Bytes beyond them (noise, an over-long or late
// answer) are dropped before the next request: kept, they would shift every later frame and the
// station would report a wrong weight for good.
TEST_F(Worker, BytesBeyondTheFifthAreDroppedSoLaterFramesStayAligned) {
  StartEmptyAndZeroed();
  // One answer of nine bytes (a 2.5 kg frame and four stray bytes), then whole 1 kg frames.
  scale.Do({"weight 1", "raw a0 00 c4 09 00 a0 00 c4 09"});
  ASSERT_TRUE(scale.Settle());
  ASSERT_TRUE(scale.Settle());
  EXPECT_TRUE(ReadsEventually(1.0f)) << Kilograms();
}

TEST_F(Worker, SilentScaleKeepsTheStartState) {
  scale.Do({"weight 1", "silent"});
  Start();
  const uint64_t asked = scale.sim().Requests();
  ASSERT_TRUE(scale.WaitForRequests(asked + 4)) << "the worker keeps asking";
  const WeightningData data = worker->getWeightningData();
  EXPECT_FALSE(data.WeightningFinished);
  EXPECT_EQ(data.sourceWeight(), 0);
  EXPECT_FLOAT_EQ(Kilograms(), 0.0f);
  EXPECT_TRUE(worker->getCalibrate());
}

TEST_F(Worker, GarbageOnTheLineIsSurvived) {
  StartEmptyAndZeroed();
  scale.Do({"garbage"});
  ASSERT_TRUE(scale.WaitForRequests(scale.sim().Requests() + 10, 10s));
  worker.reset();  // joins and closes without trouble
  SUCCEED();
}

// The port is closed and unlocked once the worker is gone, and it no longer asks.
TEST_F(Worker, DestructionStopsPollingAndFreesThePort) {
  StartEmptyAndZeroed();
  worker.reset();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RS232_OpenComport(kScalesPort, 4800, "8N1", 0), 0);
  RS232_CloseComport(kScalesPort);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(scale.StaysQuiet(300ms));
}

TEST(WorkerWithoutScale, InitFailsQuietlyAndDestructs) {
  testsupport::TempDir dir;
  setenv("DIMCORE_SCALES_DEVICE", dir.file("missing").c_str(), 1);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  {
    WeightWorker worker;
    EXPECT_FALSE(worker.init(kScalesPort));
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Can not open comport\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "unable to open comport : No such file or directory\n");
  unsetenv("DIMCORE_SCALES_DEVICE");
}

}  // namespace
