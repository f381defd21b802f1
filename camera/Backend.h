#pragma once

// The backend interface behind Context, Device, Sensor and Pipeline: one implementation per camera
// library (librealsense2), the simulated camera, and devices described as data for tests.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/Frame.h"
#include "camera/Processing.h"
#include "camera/Types.h"

namespace dimcam {

// Delivers the frames of one started device; destroying it stops the streams.
class StreamHandler {
 public:
  virtual ~StreamHandler() = default;
  // The next frame set; waits at most timeout_ms, then throws Error.
  virtual FrameSet WaitForFrames(unsigned int timeout_ms) = 0;
  // The next frame set when one is ready now.
  virtual bool PollForFrames(FrameSet* out) = 0;
};

class SensorHandler {
 public:
  virtual ~SensorHandler() = default;
  virtual std::string Name() const = 0;
  virtual std::vector<StreamProfile> Profiles() const = 0;
  virtual bool SupportsOption(Option option) const = 0;
  // The following throw Error for an option the sensor does not have and InvalidValueError for a
  // value outside its range.
  virtual OptionRange GetOptionRange(Option option) const = 0;
  virtual float GetOption(Option option) const = 0;
  virtual void SetOption(Option option, float value) = 0;
};

class DeviceHandler {
 public:
  virtual ~DeviceHandler() = default;
  virtual bool SupportsInfo(CameraInfo info) const = 0;
  // Throws Error for information the device does not report.
  virtual std::string GetInfo(CameraInfo info) const = 0;
  virtual std::vector<std::shared_ptr<SensorHandler>> Sensors() = 0;
  // Starts exactly these profiles (taken from this device's sensors); throws Error when the device
  // cannot deliver them.
  virtual std::unique_ptr<StreamHandler> Start(const std::vector<StreamProfile>& profiles) = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // The devices connected now, in a stable order.
  virtual std::vector<std::shared_ptr<DeviceHandler>> QueryDevices() = 0;
};

// ---- Devices described as data (tests, demos) ----

struct SensorDescription {
  std::string name;
  std::vector<StreamProfile> profiles;
  std::map<Option, OptionRange> options;  // each starts at its default
};

struct DeviceDescription {
  // Information the device reports; leave out SerialNumber for a device without serial.
  std::map<CameraInfo, std::string> info;
  std::vector<SensorDescription> sensors;
  // Frames of a started device, numbered from 1; unset: blank frames of the started profiles.
  std::function<FrameSet(const std::vector<StreamProfile>& started, unsigned long long number)>
      frames;
  // When not empty, Start throws Error with this message (a camera that cannot stream).
  std::string startError;
};

// A camera of the supported family with the given streams (Depth, Color, Infrared): depth Z16 and
// colour RGB8/BGR8 at 1280x720, 848x480 and 640x480, 6/15/30 fps; the colour default is 1280x720
// RGB8 at 30 fps, depth 1280x720 Z16 at 30 fps. The first sensor is the depth sensor (when depth
// is listed) with the option VisualPreset 0..5 (default 0). Empty serial: the device reports none.
DeviceDescription DescribeCamera(const std::string& serial, const std::vector<StreamType>& streams,
                                 float fovXDeg = 65.0f, float fovYDeg = 40.0f);

// A backend whose devices are exactly the given descriptions.
std::shared_ptr<Backend> MakeListedBackend(std::vector<DeviceDescription> devices);
// A backend with no devices.
std::shared_ptr<Backend> MakeEmptyBackend();

// ---- The process-default backend ----

using BackendFactory = std::function<std::shared_ptr<Backend>()>;

// The built-in choice: the simulated camera when DIMCORE_CAMERA_SCENE names a scene file, else
// librealsense2 when built in, else a backend with no devices (never a silent fallback).
std::shared_ptr<Backend> MakeBuiltInBackend();
// A backend from the current process-default factory (what Context() uses).
std::shared_ptr<Backend> MakeDefaultBackend();
// Replaces the process-default factory; an empty factory restores the built-in choice.
void SetDefaultBackendFactory(BackendFactory factory);

// Sets the process-default factory for its lifetime and restores the previous one afterwards.
class ScopedBackendFactory {
 public:
  explicit ScopedBackendFactory(BackendFactory factory);
  // Every Context made meanwhile uses this one backend.
  explicit ScopedBackendFactory(std::shared_ptr<Backend> backend);
  ~ScopedBackendFactory();
  ScopedBackendFactory(const ScopedBackendFactory&) = delete;
  ScopedBackendFactory& operator=(const ScopedBackendFactory&) = delete;

 private:
  BackendFactory previous_;
};

}  // namespace dimcam
