#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>

#include "camera/Camera.h"
#include "tests/camera/Capture.h"
#include "tests/support/TempDir.h"

namespace {

using cameratest::Capture;
using dimcam::Format;
using dimcam::StreamType;
using testsupport::TempDir;
using testsupport::WriteFileAtomically;

const char* kBox = R"({"boxes": [{"size_mm": [400, 300, 200]}]})";
const char* kEmpty = R"({"boxes": []})";

class SimulatedCamera : public ::testing::Test {
 protected:
  std::string Scene() const { return dir_.file("scene.json"); }
  void Write(const std::string& json) const { WriteFileAtomically(Scene(), json); }

  // Depth and colour at 1280x720, 30 fps (the quickest pacing).
  dimcam::Pipeline Start(const std::shared_ptr<dimcam::Backend>& backend) const {
    dimcam::Pipeline pipe{dimcam::Context(backend)};
    dimcam::Config cfg;
    cfg.enable_stream(StreamType::Depth, 1280, 720, Format::Z16, 30);
    cfg.enable_stream(StreamType::Color, -1);
    pipe.start(cfg);
    return pipe;
  }
  static float CentreDistance(const dimcam::Pipeline& pipe) {
    return pipe.wait_for_frames(2000).get_depth_frame().get_distance(640, 360);
  }

  TempDir dir_;
};

TEST_F(SimulatedCamera, OneDeviceWithTheScenesStreams) {
  Write(R"({"streams": ["depth"]})");
  const auto devices = dimcam::Context(dimcam::MakeSimulatedBackend(Scene())).query_devices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].get_info(dimcam::CameraInfo::SerialNumber), "SIM-0001");
  const auto sensors = devices[0].query_sensors();
  ASSERT_EQ(sensors.size(), 1u);
  for (const auto& p : sensors[0].get_stream_profiles()) {
    EXPECT_EQ(p.stream_type(), StreamType::Depth);
  }
  EXPECT_TRUE(sensors[0].supports(dimcam::Option::VisualPreset));
}

TEST_F(SimulatedCamera, ProfilesCarryTheIntrinsicsOfTheFieldOfView) {
  Write(R"({"fov_deg": [70, 45]})");
  const auto devices = dimcam::Context(dimcam::MakeSimulatedBackend(Scene())).query_devices();
  ASSERT_EQ(devices.size(), 1u);
  bool found = false;
  for (const auto& sensor : devices[0].query_sensors()) {
    for (const auto& p : sensor.get_stream_profiles()) {
      if (p.stream_type() != StreamType::Depth || p.width() != 1280 || p.fps() != 6) continue;
      found = true;
      EXPECT_EQ(p.format(), Format::Z16);
      EXPECT_EQ(dimcam::VideoStreamProfile(p).get_intrinsics(),
                dimcam::PinholeIntrinsics(1280, 720, 70, 45));
    }
  }
  EXPECT_TRUE(found) << "depth 1280x720 at 6 fps is offered";
}

TEST_F(SimulatedCamera, MissingSceneIsACameraThatIsNotThere) {
  Capture err(std::cerr);
  const auto backend = dimcam::MakeSimulatedBackend(Scene());
  EXPECT_TRUE(dimcam::Context(backend).query_devices().empty());
  EXPECT_TRUE(dimcam::Context(backend).query_devices().empty());
  EXPECT_EQ(err.str(), "Simulated camera: cannot use the scene file \"" + Scene() +
                           "\": cannot open the file\n")
      << "one line, not one per query";
  Write(kEmpty);
  EXPECT_EQ(dimcam::Context(backend).query_devices().size(), 1u) << "a scene that appears later";
}

TEST_F(SimulatedCamera, InvalidSceneAtStart) {
  Write(R"({"boxes": {}})");
  Capture err(std::cerr);
  EXPECT_TRUE(dimcam::Context(dimcam::MakeSimulatedBackend(Scene())).query_devices().empty());
  EXPECT_NE(err.str().find("boxes: expected an array"), std::string::npos) << err.str();
}

TEST_F(SimulatedCamera, SceneIsReadAgainWhenItChanges) {
  Write(kEmpty);
  const auto pipe = Start(dimcam::MakeSimulatedBackend(Scene()));
  EXPECT_FLOAT_EQ(CentreDistance(pipe), 1.0f);
  Write(kBox);
  EXPECT_FLOAT_EQ(CentreDistance(pipe), 0.8f) << "a box put on the platform";
  Write(kEmpty);
  EXPECT_FLOAT_EQ(CentreDistance(pipe), 1.0f) << "and taken away";
}

TEST_F(SimulatedCamera, InvalidChangeKeepsTheLastGoodScene) {
  Write(kBox);
  const auto pipe = Start(dimcam::MakeSimulatedBackend(Scene()));
  EXPECT_FLOAT_EQ(CentreDistance(pipe), 0.8f);
  Capture err(std::cerr);
  Write(R"({"boxes": [{"size_mm": [400, 300]}]})");
  EXPECT_FLOAT_EQ(CentreDistance(pipe), 0.8f);
  EXPECT_FLOAT_EQ(CentreDistance(pipe), 0.8f);
  EXPECT_EQ(err.str(), "Simulated camera: the scene file \"" + Scene() +
                           "\" changed but cannot be used (boxes[0].size_mm: expected an array of "
                           "3 numbers); keeping the last good scene\n");
  Write(kEmpty);
  EXPECT_FLOAT_EQ(CentreDistance(pipe), 1.0f) << "a good change is taken again";
}

TEST_F(SimulatedCamera, StallAfterFramesIsATimeout) {
  Write(R"({"stall_after_frames": 2})");
  const auto pipe = Start(dimcam::MakeSimulatedBackend(Scene()));
  pipe.wait_for_frames(2000);
  pipe.wait_for_frames(2000);
  try {
    pipe.wait_for_frames(30);
    FAIL() << "a third frame arrived";
  } catch (const dimcam::Error& e) {
    EXPECT_EQ(e.get_failed_function(), "wait_for_frames");
    EXPECT_EQ(e.get_failed_args(), "timeout_ms:30");
    EXPECT_STREQ(e.what(), "Frame didn't arrive within 30");
  }
  dimcam::FrameSet frames;
  EXPECT_FALSE(pipe.poll_for_frames(&frames));
}

TEST_F(SimulatedCamera, UnpluggedWhileRunning) {
  Write(kEmpty);
  const auto pipe = Start(dimcam::MakeSimulatedBackend(Scene()));
  pipe.wait_for_frames(2000);
  Write(R"({"stall_after_frames": 1})");
  EXPECT_THROW(pipe.wait_for_frames(30), dimcam::Error);
}

// Frames come at the stream's rate: never sooner than one period apart (only a lower bound is
// checked; a slow machine can only be later).
TEST_F(SimulatedCamera, FramesArePaced) {
  Write(kEmpty);
  const auto pipe = Start(dimcam::MakeSimulatedBackend(Scene()));
  const auto t0 = std::chrono::steady_clock::now();
  unsigned long long last = pipe.wait_for_frames(2000).get_frame_number();
  for (int i = 0; i < 3; ++i) {
    const auto f = pipe.wait_for_frames(2000);
    EXPECT_GT(f.get_frame_number(), last);
    last = f.get_frame_number();
  }
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(3 * 1000 / 30 - 5));
}

TEST_F(SimulatedCamera, WithoutColourTheColourRequestCannotBeResolved) {
  Write(R"({"streams": ["depth"]})");
  dimcam::Pipeline pipe{dimcam::Context(dimcam::MakeSimulatedBackend(Scene()))};
  dimcam::Config cfg;
  cfg.enable_stream(StreamType::Depth, 1280, 720, Format::Z16, 6);
  cfg.enable_stream(StreamType::Color, -1);
  EXPECT_THROW(pipe.start(cfg), dimcam::Error);
}

TEST_F(SimulatedCamera, ColourOfAnotherSizeIsAlignedOntoDepth) {
  Write(kBox);
  dimcam::Pipeline pipe{dimcam::Context(dimcam::MakeSimulatedBackend(Scene()))};
  dimcam::Config cfg;
  cfg.enable_stream(StreamType::Depth, 1280, 720, Format::Z16, 30);
  cfg.enable_stream(StreamType::Color, 640, 360, Format::BGR8, 30);
  pipe.start(cfg);
  const dimcam::FrameSet raw = pipe.wait_for_frames(2000);
  EXPECT_EQ(raw.get_color_frame().get_width(), 640);
  const dimcam::FrameSet aligned = dimcam::Align(StreamType::Depth).process(raw);
  const dimcam::VideoFrame color = aligned.get_color_frame();
  ASSERT_EQ(color.get_width(), 1280);
  ASSERT_EQ(color.get_height(), 720);
  EXPECT_EQ(color.get_profile().format(), Format::BGR8);
  const auto* px = static_cast<const std::uint8_t*>(color.get_data());
  const auto* centre = px + 3 * (360 * 1280 + 640);
  EXPECT_GT(centre[2], centre[0] + 40) << "cardboard (BGR: red last) under the centre";
}

}  // namespace
