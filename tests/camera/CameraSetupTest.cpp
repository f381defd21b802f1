// The vision module's camera set-up (Init, device_with_streams) against cameras described as data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "camera/Camera.h"
#include "core/Configuration.h"
#include "tests/camera/Capture.h"
#include "tests/support/TempDir.h"
#include "vision/Vision.h"

namespace {

using cameratest::Capture;
using dimcam::DeviceDescription;
using dimcam::StreamType;

const std::string kNeedsRgb = "The demo requires Realsense camera with RGB sensor\n";
const std::string kNeedsDepth = "The demo requires Realsense camera with DEPTH sensor\n";
const StreamType kBoth[] = {StreamType::Depth, StreamType::Color};

DeviceDescription Camera(const std::string& serial, std::vector<StreamType> streams) {
  return dimcam::DescribeCamera(serial, streams);
}

// A camera whose depth sensor offers no 6 fps mode.
DeviceDescription WithoutSixFps(const std::string& serial) {
  DeviceDescription d = Camera(serial, {StreamType::Depth, StreamType::Color});
  auto& profiles = d.sensors.at(0).profiles;
  profiles.erase(std::remove_if(profiles.begin(), profiles.end(),
                                [](const dimcam::StreamProfile& p) { return p.fps() == 6; }),
                 profiles.end());
  return d;
}

struct SetupCase {
  const char* name;
  std::function<std::vector<DeviceDescription>()> devices;
  // device_with_streams({colour, depth}, serial)
  bool found;
  std::string serial;
  std::string missingLines;  // its standard error
  // Init
  bool init;
  std::string initLog;      // Init's standard log: the exception's type name
  std::string boundSerial;  // the device the started pipeline runs on
};
void PrintTo(const SetupCase& c, std::ostream* os) { *os << c.name; }

std::string TypeLine(const std::type_info& t) { return std::string(t.name()) + "\n"; }

class CameraSetup : public ::testing::TestWithParam<SetupCase> {};

TEST_P(CameraSetup, FindsTheCameraAndStartsIt) {
  const SetupCase& c = GetParam();
  dimcam::ScopedBackendFactory backend(dimcam::MakeListedBackend(c.devices()));
  {
    Capture err(std::cerr);
    std::string serial = "stale";
    serial.clear();
    EXPECT_EQ(visionmod::device_with_streams({StreamType::Color, StreamType::Depth}, serial),
              c.found);
    if (c.found) {
      EXPECT_EQ(serial, c.serial);
    }
    EXPECT_EQ(err.str(), c.missingLines);
  }

  Capture out(std::cout);
  Capture err(std::cerr);
  Capture log(std::clog);
  visionmod::Vision vision;
  EXPECT_EQ(vision.Init(), c.init);
  EXPECT_EQ(err.str(), c.missingLines);
  EXPECT_EQ(log.str(), c.initLog);
  if (c.found) {
    EXPECT_EQ(vision.serial, c.serial);
  }
  if (!c.init) {
    EXPECT_EQ(out.str(), "");
    return;
  }
  EXPECT_EQ(out.str(), "Vision: Set MAX_DIST1 = 16\n");
  const dimcam::PipelineProfile active = vision.pipe.get_active_profile();
  const dimcam::Device device = active.get_device();
  EXPECT_EQ(device.supports(dimcam::CameraInfo::SerialNumber)
                ? device.get_info(dimcam::CameraInfo::SerialNumber)
                : std::string("<none>"),
            c.boundSerial);
  const dimcam::StreamProfile depth = active.get_stream(StreamType::Depth);
  EXPECT_EQ(depth.width(), 1280);
  EXPECT_EQ(depth.height(), 720);
  EXPECT_EQ(depth.format(), dimcam::Format::Z16);
  EXPECT_EQ(depth.fps(), 6);
  const dimcam::StreamProfile color = active.get_stream(StreamType::Color);
  EXPECT_TRUE(color.is_default()) << "colour at the device's default";
  EXPECT_FLOAT_EQ(device.query_sensors().at(0).get_option(dimcam::Option::VisualPreset), 3);
  EXPECT_FLOAT_EQ(vision.thrFilter.get_option(dimcam::Option::MinDistance), 0.29f);
  EXPECT_FLOAT_EQ(vision.thrFilter.get_option(dimcam::Option::MaxDistance), 16.0f);
  EXPECT_TRUE(vision.pipe.wait_for_frames(1000).get_depth_frame());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CameraSetup,
    ::testing::Values(
        SetupCase{"NoDevice", [] { return std::vector<DeviceDescription>{}; }, false, "",
                  kNeedsRgb + kNeedsDepth, false, "", ""},
        SetupCase{"DepthOnly",
                  [] { return std::vector<DeviceDescription>{Camera("D1", {StreamType::Depth})}; },
                  false, "", kNeedsRgb, false, "", ""},
        SetupCase{"ColourOnly",
                  [] { return std::vector<DeviceDescription>{Camera("C1", {StreamType::Color})}; },
                  false, "", kNeedsDepth, false, "", ""},
        SetupCase{"DepthAndColourOnDifferentDevices",
                  [] {
                    return std::vector<DeviceDescription>{Camera("D1", {StreamType::Depth}),
                                                          Camera("C1", {StreamType::Color})};
                  },
                  false, "", "", false, "", ""},
        SetupCase{"OneCamera",
                  [] {
                    return std::vector<DeviceDescription>{
                        Camera("123", {StreamType::Depth, StreamType::Color})};
                  },
                  true, "123", "", true, "", "123"},
        SetupCase{"SecondOfTwoHasColour",
                  [] {
                    return std::vector<DeviceDescription>{
                        Camera("A", {StreamType::Depth}),
                        Camera("B", {StreamType::Depth, StreamType::Color})};
                  },
                  true, "B", "", true, "", "B"},
        SetupCase{"WithoutSerial",
                  [] {
                    return std::vector<DeviceDescription>{
                        Camera("", {StreamType::Depth, StreamType::Color})};
                  },
                  true, "", "", true, "", "<none>"},
        // The winner has no serial: the serial of the first device, which lacks colour, must not
        // bind the pipeline to that device.
        SetupCase{"WinnerWithoutSerialAfterOneWithSerial",
                  [] {
                    return std::vector<DeviceDescription>{
                        Camera("A", {StreamType::Depth}),
                        Camera("", {StreamType::Depth, StreamType::Color})};
                  },
                  true, "", "", true, "", "<none>"},
        SetupCase{"StreamTheDeviceCannotGive",
                  [] { return std::vector<DeviceDescription>{WithoutSixFps("123")}; }, true, "123",
                  "", false, TypeLine(typeid(dimcam::Error)), ""},
        SetupCase{"CameraThatFailsToStart",
                  [] {
                    DeviceDescription d = Camera("123", {StreamType::Depth, StreamType::Color});
                    d.startError = "Device or resource busy";
                    return std::vector<DeviceDescription>{d};
                  },
                  true, "123", "", false, TypeLine(typeid(dimcam::Error)), ""},
        SetupCase{"FirstSensorWithoutVisualPreset",
                  [] {
                    DeviceDescription d = Camera("123", {StreamType::Depth, StreamType::Color});
                    std::swap(d.sensors[0], d.sensors[1]);  // colour sensor first
                    return std::vector<DeviceDescription>{d};
                  },
                  true, "123", "", false, TypeLine(typeid(dimcam::Error)), ""}),
    cameratest::CaseName());

// A preset the camera refuses: the run-time type of the refusal is printed.
TEST(CameraSetupPreset, RefusedPresetFailsInit) {
  Configuration* configuration = Configuration::getInstance();
  const int saved = configuration->GetVisualPreset();
  ASSERT_TRUE(configuration->SetVisualPreset(6));  // accepted by the parameters, not by the camera
  dimcam::ScopedBackendFactory backend(dimcam::MakeListedBackend(
      {dimcam::DescribeCamera("123", {StreamType::Depth, StreamType::Color})}));
  Capture log(std::clog);
  visionmod::Vision vision;
  const bool ok = vision.Init();
  configuration->SetVisualPreset(saved);
  EXPECT_FALSE(ok);
  EXPECT_EQ(log.str(), TypeLine(typeid(dimcam::InvalidValueError)));
}

TEST(CameraSetupStreams, RequestsOfOtherKindsPrintNothing) {
  dimcam::ScopedBackendFactory backend(dimcam::MakeEmptyBackend());
  Capture err(std::cerr);
  std::string serial;
  EXPECT_FALSE(visionmod::device_with_streams({StreamType::Infrared, StreamType::Depth}, serial));
  EXPECT_EQ(err.str(), kNeedsDepth);
}

TEST(CameraSetupStreams, TheSimulatedCameraThroughTheEnvironment) {
  // With no factory set, the built-in choice follows DIMCORE_CAMERA_SCENE.
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.file("scene.json"), R"({"streams": ["depth", "color"]})");
  setenv(dimcam::kSceneEnvironmentVariable, dir.file("scene.json").c_str(), 1);
  std::string serial;
  const bool found = visionmod::device_with_streams({StreamType::Color, StreamType::Depth}, serial);
  unsetenv(dimcam::kSceneEnvironmentVariable);
  EXPECT_TRUE(found);
  EXPECT_EQ(serial, "SIM-0001");
}

}  // namespace
