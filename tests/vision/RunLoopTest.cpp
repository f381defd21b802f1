#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>

#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"
#include "tests/vision/VisionTestSupport.h"
#include "vision/Vision.h"

namespace {

using namespace std::chrono_literals;
using testsupport::CountOccurrences;
using testsupport::WaitUntil;
using visiontest::Box;
using visiontest::Platform;
using visiontest::UseConfiguration;

// What the described camera shows next: a scene, or a failure instead of a frame.
class Stage {
 public:
  void Show(const dimcam::Scene& scene) {
    std::lock_guard<std::mutex> lock(mutex_);
    scene_ = scene;
    blank_ = false;
  }
  // Frames without any depth.
  void Blank() {
    std::lock_guard<std::mutex> lock(mutex_);
    blank_ = true;
  }
  void FailWith(std::function<void()> thrower) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_ = std::move(thrower);
  }
  dimcam::FrameSet Next(unsigned long long number) {
    dimcam::Scene scene;
    std::function<void()> fail;
    bool blank = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      scene = scene_;
      fail = fail_;
      blank = blank_;
    }
    frames_++;
    if (fail) fail();
    if (blank) scene.platform_distance_mm = 65535;  // beyond the 16 m reach: no depth at all
    return dimcam::RenderFrameSet(scene, visiontest::kWidth, visiontest::kHeight, number);
  }
  int frames() const { return frames_; }

 private:
  std::mutex mutex_;
  dimcam::Scene scene_;
  bool blank_ = false;
  std::function<void()> fail_;
  std::atomic<int> frames_{0};
};

// The frame loop in camera mode on a described camera whose frames the test stages, on a thread of
// its own, with stdin at end of input (the operator pause after an error returns at once) and
// console output captured.
class RunLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UseConfiguration());
    m->is_calibrated = false;
    m->is_measured = false;
    core->APPLICATION_STOP_REQUEST = false;
    setenv("DIMCORE_SNAPSHOT_DIR", dir.path().c_str(), 1);
    core->PhotoPath = dir.file("photo.png");
    savedStdin = dup(0);
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    close(devNull);
    clearerr(stdin);
  }
  void TearDown() override {
    Stop();
    dup2(savedStdin, 0);
    close(savedStdin);
    clearerr(stdin);
    core->APPLICATION_STOP_REQUEST = false;
    unsetenv("DIMCORE_SNAPSHOT_DIR");
  }

  void Start(std::vector<dimcam::DeviceDescription> devices = {}) {
    if (devices.empty()) {
      dimcam::DeviceDescription camera =
          dimcam::DescribeCamera("RUN-1", {dimcam::StreamType::Depth, dimcam::StreamType::Color});
      camera.frames = [this](const std::vector<dimcam::StreamProfile>&, unsigned long long n) {
        return stage.Next(n);
      };
      devices.push_back(std::move(camera));
    }
    backend = std::make_unique<dimcam::ScopedBackendFactory>(
        dimcam::MakeListedBackend(std::move(devices)));
    vision = std::make_unique<visionmod::Vision>();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    capturing = true;
    result = std::async(std::launch::async, [this] { return vision->Run(false); });
  }
  bool Ended(std::chrono::milliseconds timeout = 10s) {
    return result.wait_for(testsupport::Scaled(timeout)) == std::future_status::ready;
  }
  // Stops the loop (when still running) and collects its output and result.
  int Stop() {
    if (!capturing) return returned;
    core->APPLICATION_STOP_REQUEST = true;
    if (!Ended()) {
      ADD_FAILURE() << "the loop did not stop; ending it through a camera failure";
      stage.FailWith([] { throw std::runtime_error("test gave up waiting"); });
    }
    returned = result.get();
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    capturing = false;
    return returned;
  }
  bool WaitFlag(std::atomic<bool>& flag) {
    return WaitUntil([&] { return flag.load(); }, 10s);
  }

  testsupport::TempDir dir;
  Measurement* m = Measurement::getInstance();
  CoreParams* core = CoreParams::getInstance();
  Stage stage;
  std::unique_ptr<dimcam::ScopedBackendFactory> backend;
  std::unique_ptr<visionmod::Vision> vision;
  std::future<int> result;
  bool capturing = false;
  int returned = -1;
  int savedStdin = -1;
  std::string out;
  std::string err;
};

TEST_F(RunLoop, StartUpCalibratesThenMeasuresOnceUnasked) {
  stage.Show(Platform());
  Start();
  ASSERT_TRUE(WaitFlag(m->is_measured));
  EXPECT_TRUE(m->is_calibrated);
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Configuration::getInstance()->GetDepth().second, 1000.0f);
  EXPECT_EQ(vision->thrFilter.get_option(dimcam::Option::MaxDistance), 0.97f);
  EXPECT_EQ(out,
            "Vision: Set MAX_DIST1 = 16\n"
            "Vision: Calibrate 1 \n\n"
            "Vision: Set MAX_DIST2 = 0.97\n"
            "Max distance fixed in 1000.000000 mm\n\n"
            "Vision: Calibrate 2 \n\n");
  // Nothing on the platform: zeros, all three reported empty.
  EXPECT_EQ(m->x, 0);
  EXPECT_TRUE(m->MEASURE_ERROR_EMPTY_X);
  EXPECT_TRUE(m->MEASURE_ERROR_EMPTY_Y);
  EXPECT_TRUE(m->MEASURE_ERROR_EMPTY_Z);
  EXPECT_TRUE(testsupport::FileExists(dir.file("ColorImage.png")));
  EXPECT_TRUE(testsupport::FileExists(dir.file("photo.png")));
  EXPECT_EQ(err, "");
}

TEST_F(RunLoop, AnswersEachMeasurementRequestWithTheCurrentScene) {
  stage.Show(Platform());
  Start();
  ASSERT_TRUE(WaitFlag(m->is_measured));

  stage.Show(Platform({Box(300, 200, 150, 0, 40)}));
  m->is_measured = false;
  ASSERT_TRUE(WaitFlag(m->is_measured));
  EXPECT_NEAR(std::max(m->x, m->y), 300, 3);
  EXPECT_NEAR(m->z, 150, 1);
  EXPECT_FALSE(m->MEASURE_ERROR_EMPTY_X);
  EXPECT_FALSE(m->MEASURE_ERROR_EMPTY_Z);

  stage.Show(Platform());  // taken off again
  m->is_measured = false;
  ASSERT_TRUE(WaitFlag(m->is_measured));
  EXPECT_EQ(m->z, 0);
  EXPECT_TRUE(m->MEASURE_ERROR_EMPTY_Z);
  EXPECT_EQ(Stop(), 0);
}

TEST_F(RunLoop, CalibrationComesBeforeAMeasurementPendingWithIt) {
  stage.Show(Platform());
  Start();
  ASSERT_TRUE(WaitFlag(m->is_measured));

  // The platform moved to 1200 mm and a box stands off the centre pixel.
  dimcam::Scene lower = Platform({Box(200, 150, 100, 150, 40)});
  lower.platform_distance_mm = 1200;
  stage.Show(lower);
  m->is_calibrated = false;
  m->is_measured = false;
  ASSERT_TRUE(WaitFlag(m->is_measured));
  EXPECT_TRUE(m->is_calibrated);
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Configuration::getInstance()->GetDepth().second, 1200.0f);
  EXPECT_NEAR(m->z, 100, 1) << "measured against the new platform distance";
  const size_t calibrated = out.find("Max distance fixed in 1200.000000 mm");
  const size_t measured = out.rfind("HANDS_CHECKING_TEST1");
  ASSERT_NE(calibrated, std::string::npos) << out;
  ASSERT_NE(measured, std::string::npos) << out;
  EXPECT_LT(calibrated, measured);
}

// A stop request is honoured between calibration attempts: a station whose calibration keeps
// failing still stops.
TEST_F(RunLoop, StopsWhileCalibrationKeepsFailing) {
  stage.Blank();
  Start();
  ASSERT_TRUE(WaitUntil([&] { return stage.frames() >= 3; }, 10s));
  EXPECT_EQ(Stop(), 0);
  EXPECT_FALSE(m->is_calibrated);
  EXPECT_FALSE(m->is_measured);
  EXPECT_GE(CountOccurrences(out, "Vision: Calibrate 1 \n\nVision: Distance <= 0\n"), 3u) << out;
  EXPECT_EQ(CountOccurrences(out, "Calibrate 2"), 0u);
  EXPECT_EQ(Configuration::getInstance()->GetDepth().second, 16.0f) << "MAX_DEPTH unchanged";
}

struct FailureCase {
  const char* name;
  std::function<void()> thrower;
  const char* message;  // standard error
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class RunLoopFailure : public RunLoop, public ::testing::WithParamInterface<FailureCase> {};

// A failure while a measurement is asked for ends the loop with its message and result 2, and
// leaves the request unanswered.
TEST_P(RunLoopFailure, EndsTheLoopWithItsMessage) {
  stage.Show(Platform());
  Start();
  ASSERT_TRUE(WaitFlag(m->is_measured));
  stage.FailWith(GetParam().thrower);
  m->is_measured = false;
  ASSERT_TRUE(Ended());
  EXPECT_EQ(Stop(), 2);
  EXPECT_EQ(err, GetParam().message);
  EXPECT_FALSE(m->is_measured);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunLoopFailure,
    ::testing::Values(FailureCase{"CameraError",
                                  [] {
                                    throw dimcam::Error("Frame didn't arrive within 15000",
                                                        "wait_for_frames", "timeout_ms:15000");
                                  },
                                  "RealSense error calling wait_for_frames(timeout_ms:15000):\n"
                                  "    Frame didn't arrive within 15000\n"},
                      FailureCase{"OtherError",
                                  [] { throw std::runtime_error("something else broke"); },
                                  "something else broke\n"}),
    [](const ::testing::TestParamInfo<FailureCase>& i) { return i.param.name; });

TEST_F(RunLoop, NoCameraReportsCantInit) {
  Start({dimcam::DescribeCamera("DEPTH-ONLY", {dimcam::StreamType::Depth})});
  ASSERT_TRUE(Ended());
  Stop();
  EXPECT_EQ(err,
            "The demo requires Realsense camera with RGB sensor\n"
            "ERROR[VISION MODULE] : Can't init.\n");
  EXPECT_EQ(out, "");
}

}  // namespace
