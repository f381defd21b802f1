#pragma once

// Device discovery and streaming: Context -> Device -> Sensor, and Pipeline started with a Config.

#include <memory>
#include <string>
#include <vector>

#include "camera/Backend.h"
#include "camera/Frame.h"
#include "camera/Processing.h"
#include "camera/Types.h"

namespace dimcam {

class Sensor {
 public:
  Sensor() = default;
  explicit Sensor(std::shared_ptr<SensorHandler> handler) : handler_(std::move(handler)) {}
  explicit operator bool() const { return handler_ != nullptr; }

  std::vector<StreamProfile> get_stream_profiles() const;
  bool supports(Option option) const;
  OptionRange get_option_range(Option option) const;
  float get_option(Option option) const;
  // Throws Error for an option the sensor lacks, InvalidValueError for a value out of range.
  void set_option(Option option, float value) const;
  // Sensors report their Name only.
  bool supports(CameraInfo info) const;
  std::string get_info(CameraInfo info) const;

 private:
  std::shared_ptr<SensorHandler> handler_;
};

class Device {
 public:
  Device() = default;
  explicit Device(std::shared_ptr<DeviceHandler> handler) : handler_(std::move(handler)) {}
  explicit operator bool() const { return handler_ != nullptr; }

  std::vector<Sensor> query_sensors() const;
  bool supports(CameraInfo info) const;
  // Throws Error when the device does not report that information.
  std::string get_info(CameraInfo info) const;

  const std::shared_ptr<DeviceHandler>& handler() const { return handler_; }

 private:
  std::shared_ptr<DeviceHandler> handler_;
};

// The connection to the cameras. Context() takes the process-default backend (see Backend.h).
class Context {
 public:
  Context();
  explicit Context(std::shared_ptr<Backend> backend);

  std::vector<Device> query_devices() const;
  const std::shared_ptr<Backend>& backend() const { return backend_; }

 private:
  std::shared_ptr<Backend> backend_;
};

// What a pipeline is to stream. Zero (or Format::Any, index -1) means "any".
class Config {
 public:
  struct StreamRequest {
    StreamType type = StreamType::Any;
    int index = -1;
    int width = 0;
    int height = 0;
    Format format = Format::Any;
    int fps = 0;
  };

  void enable_stream(StreamType type, int index, int width, int height, Format format = Format::Any,
                     int fps = 0);
  void enable_stream(StreamType type, int width, int height, Format format = Format::Any,
                     int fps = 0);
  void enable_stream(StreamType type, int index = -1);
  void enable_stream(StreamType type, Format format, int fps = 0);
  void disable_stream(StreamType type, int index = -1);
  void disable_all_streams();
  // Binds the pipeline to the device with this serial number.
  void enable_device(const std::string& serial);

  const std::vector<StreamRequest>& requests() const { return requests_; }
  const std::string& device_serial() const { return serial_; }

 private:
  std::vector<StreamRequest> requests_;
  std::string serial_;
};

// The device and stream profiles a pipeline runs with.
class PipelineProfile {
 public:
  PipelineProfile() = default;
  PipelineProfile(Device device, std::vector<StreamProfile> streams)
      : device_(std::move(device)), streams_(std::move(streams)) {}
  explicit operator bool() const { return static_cast<bool>(device_); }

  Device get_device() const { return device_; }
  const std::vector<StreamProfile>& get_streams() const { return streams_; }
  // The started profile of that stream; throws Error when the pipeline has none.
  StreamProfile get_stream(StreamType type, int index = -1) const;

 private:
  Device device_;
  std::vector<StreamProfile> streams_;
};

// Streams from one device. start() picks the first device (the one with the configured serial,
// when one is given) that can satisfy every request; a request that leaves something open takes the
// device's default profile for it. Destroying the pipeline (or stop()) ends the streaming.
class Pipeline {
 public:
  Pipeline();  // on a fresh Context
  explicit Pipeline(Context context);

  PipelineProfile start();  // the device's default streams
  PipelineProfile start(const Config& config);
  void stop();
  // The next frame set; throws Error when none arrives within timeout_ms, and
  // WrongCallSequenceError before start().
  FrameSet wait_for_frames(unsigned int timeout_ms = 15000) const;
  bool poll_for_frames(FrameSet* out) const;
  bool try_wait_for_frames(FrameSet* out, unsigned int timeout_ms = 15000) const;
  PipelineProfile get_active_profile() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace dimcam
