#include <gtest/gtest.h>

#include <thread>

#include "core/CoreParams.h"
#include "core/Measurement.h"
#include "scales/Scales2.h"
#include "tests/scales/SimulatedScale.h"
#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"

namespace {

using scaletest::SimulatedScale;
using namespace std::chrono_literals;

void ResetSharedRecords() {
  Measurement* m = Measurement::getInstance();
  m->is_scaled = false;
  m->is_scales_calibrated = false;
  m->weight = 0;
  m->MEASURE_ERROR_EMPTY_W = false;
  m->SERVER_ERROR_NO_SCALES = false;
  CoreParams::getInstance()->APPLICATION_STOP_REQUEST = false;
}

// The scales loop on a thread of its own, as the station runs it, against the simulated scale.
// The test plays the command server's part of the handshakes.
class ScalesLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedRecords();
    ASSERT_TRUE(scale.opened());
  }
  void Start(bool disable_scales = false) {
    ::testing::internal::CaptureStdout();
    capturing = true;
    loop =
        std::thread([this, disable_scales] { result = scalesmod::Scales2().Run(disable_scales); });
  }
  void TearDown() override {
    CoreParams::getInstance()->APPLICATION_STOP_REQUEST = true;
    if (loop.joinable()) loop.join();
    if (capturing) ::testing::internal::GetCapturedStdout();
    ResetSharedRecords();
  }
  std::string Console() {
    const std::string out = ::testing::internal::GetCapturedStdout();
    ::testing::internal::CaptureStdout();
    return out;
  }
  // Starts with an empty scale and waits until the loop has answered its start-up handshakes and
  // the worker has zeroed the empty scale.
  void StartZeroedEmpty() {
    Start();
    ASSERT_TRUE(
        testsupport::WaitUntil([&] { return m->is_scaled && m->is_scales_calibrated; }, 5s));
    ASSERT_TRUE(scale.Settle());
  }
  // One weight request, as the command server makes it.
  float Weigh() {
    EXPECT_TRUE(scale.Settle());
    m->is_scaled.store(false, std::memory_order_release);
    EXPECT_TRUE(
        testsupport::WaitUntil([&] { return m->is_scaled.load(std::memory_order_acquire); }, 5s));
    return m->weight;
  }
  void Calibrate() {
    m->is_scales_calibrated.store(false, std::memory_order_release);
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] { return m->is_scales_calibrated.load(std::memory_order_acquire); }, 5s));
  }

  Measurement* m = Measurement::getInstance();
  SimulatedScale scale;
  std::thread loop;
  int result = -1;
  bool capturing = false;
};

struct Load {
  const char* name;
  std::vector<const char*> commands;
  float grams;
  bool empty;
};
void PrintTo(const Load& c, std::ostream* os) { *os << c.name; }

class Weighing : public ScalesLoop, public ::testing::WithParamInterface<Load> {};

TEST_P(Weighing, StoresGramsAndTheEmptyFlag) {
  StartZeroedEmpty();
  for (const char* command : GetParam().commands) scale.Do({command});
  EXPECT_FLOAT_EQ(Weigh(), GetParam().grams);
  EXPECT_EQ(m->MEASURE_ERROR_EMPTY_W, GetParam().empty);
  EXPECT_FALSE(m->SERVER_ERROR_NO_SCALES);
}

INSTANTIATE_TEST_SUITE_P(
    Loads, Weighing,
    ::testing::Values(Load{"EmptyScale", {}, 0.0f, true},
                      Load{"OnePointTwoFiveKilograms", {"weight 1.25"}, 1250.0f, false},
                      Load{"HalfAGramIsEmpty", {"code 1", "weight 0.0005"}, 0.0f, true},
                      Load{"ExactlyOneGram", {"weight 0.001"}, 1.0f, false},
                      Load{"TenthOfGramSteps", {"code 1", "weight 0.0123"}, 12.3f, false},
                      Load{"TenGramSteps", {"code 4", "weight 12.34"}, 12340.0f, false},
                      Load{"NegativeIsEmpty", {"weight -0.2"}, 0.0f, true},
                      Load{"UnstableIsEmpty", {"weight 3", "unstable"}, 0.0f, true},
                      Load{"SilentKeepsTheLastFrame", {"silent", "weight 3"}, 0.0f, true}),
    [](const ::testing::TestParamInfo<Load>& i) { return i.param.name; });

TEST_F(ScalesLoop, AnswersBothHandshakesRightAfterStart) {
  scale.Do({"weight 0.5"});
  Start();
  EXPECT_TRUE(testsupport::WaitUntil([&] { return m->is_scaled && m->is_scales_calibrated; }, 5s));
  // The load present at start-up becomes the zero.
  EXPECT_FLOAT_EQ(Weigh(), 0.0f);
  EXPECT_TRUE(m->MEASURE_ERROR_EMPTY_W);
}

TEST_F(ScalesLoop, CalibrateReZeroes) {
  StartZeroedEmpty();
  scale.Do({"weight 1.25"});
  EXPECT_FLOAT_EQ(Weigh(), 1250.0f);
  Calibrate();
  ASSERT_TRUE(scale.Settle());
  EXPECT_FLOAT_EQ(Weigh(), 0.0f);
  EXPECT_TRUE(m->MEASURE_ERROR_EMPTY_W);
  scale.Do({"weight 2"});
  EXPECT_FLOAT_EQ(Weigh(), 750.0f);
  EXPECT_FALSE(m->MEASURE_ERROR_EMPTY_W);
}

// The answer does not wait for the zeroing: that happens at the next stable frame.
TEST_F(ScalesLoop, CalibrateAnsweredAtOnceWhileUnstable) {
  StartZeroedEmpty();
  scale.Do({"weight 1", "unstable"});
  ASSERT_TRUE(scale.Settle());
  Calibrate();
  EXPECT_FLOAT_EQ(Weigh(), 0.0f);
  scale.Do({"stable"});
  ASSERT_TRUE(scale.Settle());
  ASSERT_TRUE(scale.Settle());
  EXPECT_FLOAT_EQ(Weigh(), 0.0f) << "zeroed on the first stable frame";
  scale.Do({"weight 1.5"});
  EXPECT_FLOAT_EQ(Weigh(), 500.0f);
}

TEST_F(ScalesLoop, ConsoleLinesOfAWeighing) {
  StartZeroedEmpty();
  scale.Do({"weight 1.25"});
  ASSERT_TRUE(scale.Settle());
  Console();
  Weigh();
  EXPECT_EQ(Console(),
            "Scales real weight: 1.25 with calibration: 0\n"
            "SCALES2: RealWeight = Scales real weight: 1.25 with calibration: 0\n"
            "1.25\n");
  scale.Do({"unstable"});
  Weigh();
  EXPECT_EQ(Console(), "SCALES2: RealWeight = 0\n");
}

TEST_F(ScalesLoop, StopFlagEndsTheLoopAndFreesThePort) {
  StartZeroedEmpty();
  CoreParams::getInstance()->APPLICATION_STOP_REQUEST = true;
  loop.join();
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(scale.StaysQuiet(300ms)) << "the worker is gone";
}

TEST_F(ScalesLoop, PortThatCannotBeOpenedOnlyDisablesWeighing) {
  testsupport::TempDir dir;
  setenv("DIMCORE_SCALES_DEVICE", dir.file("no-such-tty").c_str(), 1);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(scalesmod::Scales2().Run(false), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Can not open comport\n"
            "SCALES2: Unable to open com port. Scales module can't work. Please restart core.\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "unable to open comport : No such file or directory\n");
  EXPECT_TRUE(m->SERVER_ERROR_NO_SCALES);
  EXPECT_FALSE(CoreParams::getInstance()->APPLICATION_STOP_REQUEST);
  EXPECT_FALSE(m->is_scaled);
  EXPECT_FALSE(m->is_scales_calibrated);
}

// Without a scale: the placeholder weight, zeroing requests left alone, no port opened.
TEST_F(ScalesLoop, DisabledAnswersThePlaceholder) {
  Start(true);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return m->is_scaled.load(); }, 5s));
  EXPECT_FLOAT_EQ(m->weight, 1234567.0f);
  EXPECT_FALSE(m->is_scales_calibrated);
  EXPECT_FALSE(scale.WaitForRequests(1, 300ms));
}

}  // namespace
