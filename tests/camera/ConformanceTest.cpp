// One suite against the camera layer's interface, run on every backend that can be reached here:
// the simulated camera, a camera described as data, and librealsense2 when it is built in and a
// camera is attached (skipped otherwise).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "camera/Camera.h"
#include "tests/camera/Capture.h"
#include "tests/support/TempDir.h"

namespace {

using dimcam::Format;
using dimcam::StreamType;

struct BackendCase {
  const char* name;
  // Makes the backend; returns nullptr with a reason to skip.
  std::function<std::shared_ptr<dimcam::Backend>(const testsupport::TempDir&, std::string*)> make;
};
void PrintTo(const BackendCase& c, std::ostream* os) { *os << c.name; }

class Conformance : public ::testing::TestWithParam<BackendCase> {
 protected:
  void SetUp() override {
    std::string reason;
    backend_ = GetParam().make(dir_, &reason);
    if (!backend_) GTEST_SKIP() << reason;
    devices_ = dimcam::Context(backend_).query_devices();
    if (devices_.empty()) GTEST_SKIP() << "no camera attached";
  }

  // What the station asks for: depth 1280x720 Z16 at 6 fps and colour at the device's default.
  dimcam::PipelineProfile StartStation(dimcam::Pipeline& pipe) {
    dimcam::Config cfg;
    if (devices_[0].supports(dimcam::CameraInfo::SerialNumber)) {
      cfg.enable_device(devices_[0].get_info(dimcam::CameraInfo::SerialNumber));
    }
    cfg.enable_stream(StreamType::Depth, 1280, 720, Format::Z16, 6);
    cfg.enable_stream(StreamType::Color, -1);
    return pipe.start(cfg);
  }

  testsupport::TempDir dir_;
  std::shared_ptr<dimcam::Backend> backend_;
  std::vector<dimcam::Device> devices_;
};

TEST_P(Conformance, DevicesDescribeThemselves) {
  for (const dimcam::Device& d : devices_) {
    EXPECT_TRUE(d.supports(dimcam::CameraInfo::Name));
    EXPECT_FALSE(d.get_info(dimcam::CameraInfo::Name).empty());
    const auto sensors = d.query_sensors();
    ASSERT_FALSE(sensors.empty());
    for (const dimcam::Sensor& s : sensors) {
      EXPECT_FALSE(s.get_info(dimcam::CameraInfo::Name).empty());
      for (const dimcam::StreamProfile& p : s.get_stream_profiles()) {
        EXPECT_GT(p.fps(), 0);
        if (!p.is<dimcam::VideoStreamProfile>()) continue;
        const dimcam::Intrinsics in = p.as<dimcam::VideoStreamProfile>().get_intrinsics();
        EXPECT_EQ(in.width, p.width());
        EXPECT_EQ(in.height, p.height());
        EXPECT_GT(in.fx, 0);
        EXPECT_GT(in.fy, 0);
      }
    }
  }
}

TEST_P(Conformance, StreamsWhatTheStationAsksFor) {
  dimcam::Pipeline pipe{dimcam::Context(backend_)};
  const dimcam::PipelineProfile profile = StartStation(pipe);
  const dimcam::StreamProfile depthProfile = profile.get_stream(StreamType::Depth);
  EXPECT_EQ(depthProfile.format(), Format::Z16);
  EXPECT_EQ(depthProfile.fps(), 6);
  EXPECT_EQ(depthProfile.width(), 1280);
  EXPECT_TRUE(profile.get_stream(StreamType::Color));
  EXPECT_FALSE(profile.get_device().query_sensors().empty());

  const dimcam::FrameSet frames = pipe.wait_for_frames(15000);
  const dimcam::DepthFrame depth = frames.get_depth_frame();
  ASSERT_TRUE(depth);
  EXPECT_EQ(depth.get_width(), 1280);
  EXPECT_EQ(depth.get_height(), 720);
  EXPECT_EQ(depth.get_bytes_per_pixel(), 2);
  EXPECT_GE(depth.get_stride_in_bytes(), 2560);
  EXPECT_FLOAT_EQ(depth.get_units(), 0.001f);
  const float d = depth.get_distance(640, 360);
  EXPECT_GE(d, 0.0f);
  EXPECT_LT(d, 65.536f);
  ASSERT_TRUE(frames.get_color_frame());
  EXPECT_EQ(frames.get_color_frame().get_bytes_per_pixel(), 3);

  // What the vision loop does with a frame pair.
  const dimcam::FrameSet aligned = dimcam::Align(StreamType::Depth).process(frames);
  const dimcam::VideoFrame color = aligned.get_color_frame();
  const dimcam::DepthFrame alignedDepth = aligned.get_depth_frame();
  EXPECT_EQ(color.get_width(), alignedDepth.get_width());
  EXPECT_EQ(color.get_height(), alignedDepth.get_height());
  const dimcam::DepthFrame filtered(dimcam::ThresholdFilter(0.15f, 16.0f).process(alignedDepth));
  ASSERT_TRUE(filtered);
  const dimcam::VideoFrame picture = dimcam::Colorizer().colorize(filtered);
  EXPECT_EQ(picture.get_width(), 1280);
  EXPECT_EQ(picture.get_profile().format(), Format::RGB8);
  const dimcam::Intrinsics in =
      alignedDepth.get_profile().as<dimcam::VideoStreamProfile>().get_intrinsics();
  EXPECT_EQ(in.width, 1280);

  EXPECT_GT(pipe.wait_for_frames(15000).get_frame_number(), frames.get_frame_number());
}

TEST_P(Conformance, VisualPresetOnTheFirstSensor) {
  dimcam::Pipeline pipe{dimcam::Context(backend_)};
  const dimcam::Sensor first = StartStation(pipe).get_device().query_sensors().at(0);
  ASSERT_TRUE(first.supports(dimcam::Option::VisualPreset));
  first.set_option(dimcam::Option::VisualPreset, 3);
  EXPECT_FLOAT_EQ(first.get_option(dimcam::Option::VisualPreset), 3);
  EXPECT_THROW(first.set_option(dimcam::Option::VisualPreset, 1000), dimcam::Error);
}

TEST_P(Conformance, CallsInTheWrongOrder) {
  dimcam::Pipeline pipe{dimcam::Context(backend_)};
  EXPECT_THROW(pipe.wait_for_frames(10), dimcam::WrongCallSequenceError);
  StartStation(pipe);
  EXPECT_THROW(StartStation(pipe), dimcam::WrongCallSequenceError);
  pipe.stop();
  EXPECT_THROW(pipe.wait_for_frames(10), dimcam::WrongCallSequenceError);
  StartStation(pipe);  // and again after a stop
  EXPECT_TRUE(pipe.wait_for_frames(15000));
}

TEST_P(Conformance, UnknownSerialCannotStart) {
  dimcam::Pipeline pipe{dimcam::Context(backend_)};
  dimcam::Config cfg;
  cfg.enable_device("no-such-serial");
  EXPECT_THROW(pipe.start(cfg), dimcam::Error);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, Conformance,
    ::testing::Values(BackendCase{"Simulated",
                                  [](const testsupport::TempDir& dir, std::string*) {
                                    testsupport::WriteFile(
                                        dir.file("scene.json"),
                                        R"({"boxes": [{"size_mm": [400, 300, 200]}]})");
                                    return dimcam::MakeSimulatedBackend(dir.file("scene.json"));
                                  }},
                      BackendCase{"Described",
                                  [](const testsupport::TempDir&, std::string*) {
                                    return dimcam::MakeListedBackend({dimcam::DescribeCamera(
                                        "D-1", {StreamType::Depth, StreamType::Color})});
                                  }},
                      BackendCase{"RealSense",
                                  [](const testsupport::TempDir&, std::string* reason) {
                                    *reason = "built without librealsense2";
                                    return dimcam::MakeRealSenseBackend();
                                  }}),
    cameratest::CaseName());

}  // namespace
