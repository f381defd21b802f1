#include "camera/Device.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <utility>

#include "camera/OptionTable.h"
#include "camera/RealSense.h"
#include "camera/Simulated.h"

namespace dimcam {

// ---- Sensor / Device / Context ----

namespace {

template <class H>
const H& Checked(const std::shared_ptr<H>& handler, const char* function) {
  if (!handler) throw WrongCallSequenceError("empty handle", function, "");
  return *handler;
}

}  // namespace

std::vector<StreamProfile> Sensor::get_stream_profiles() const {
  return Checked(handler_, "get_stream_profiles").Profiles();
}
bool Sensor::supports(Option option) const {
  return Checked(handler_, "supports").SupportsOption(option);
}
OptionRange Sensor::get_option_range(Option option) const {
  return Checked(handler_, "get_option_range").GetOptionRange(option);
}
float Sensor::get_option(Option option) const {
  return Checked(handler_, "get_option").GetOption(option);
}
void Sensor::set_option(Option option, float value) const {
  Checked(handler_, "set_option");
  handler_->SetOption(option, value);
}
bool Sensor::supports(CameraInfo info) const {
  return handler_ != nullptr && info == CameraInfo::Name;
}
std::string Sensor::get_info(CameraInfo info) const {
  const SensorHandler& h = Checked(handler_, "get_info");
  if (info != CameraInfo::Name) {
    throw Error(std::string("sensor does not report ") + ToString(info), "get_info",
                std::string("info:") + ToString(info));
  }
  return h.Name();
}

std::vector<Sensor> Device::query_sensors() const {
  Checked(handler_, "query_sensors");
  std::vector<Sensor> sensors;
  for (auto& s : handler_->Sensors()) sensors.emplace_back(s);
  return sensors;
}
bool Device::supports(CameraInfo info) const {
  return Checked(handler_, "supports").SupportsInfo(info);
}
std::string Device::get_info(CameraInfo info) const {
  return Checked(handler_, "get_info").GetInfo(info);
}

Context::Context() : backend_(MakeDefaultBackend()) {}

Context::Context(std::shared_ptr<Backend> backend) : backend_(std::move(backend)) {
  if (!backend_) backend_ = MakeEmptyBackend();
}

std::vector<Device> Context::query_devices() const {
  std::vector<Device> devices;
  for (auto& d : backend_->QueryDevices()) devices.emplace_back(d);
  return devices;
}

// ---- Config ----

void Config::enable_stream(StreamType type, int index, int width, int height, Format format,
                           int fps) {
  disable_stream(type, index);
  requests_.push_back(StreamRequest{type, index, width, height, format, fps});
}
void Config::enable_stream(StreamType type, int width, int height, Format format, int fps) {
  enable_stream(type, -1, width, height, format, fps);
}
void Config::enable_stream(StreamType type, int index) {
  enable_stream(type, index, 0, 0, Format::Any, 0);
}
void Config::enable_stream(StreamType type, Format format, int fps) {
  enable_stream(type, -1, 0, 0, format, fps);
}
void Config::disable_stream(StreamType type, int index) {
  requests_.erase(std::remove_if(requests_.begin(), requests_.end(),
                                 [&](const StreamRequest& r) {
                                   return r.type == type &&
                                          (index <= 0 || r.index <= 0 || r.index == index);
                                 }),
                  requests_.end());
}
void Config::disable_all_streams() { requests_.clear(); }
void Config::enable_device(const std::string& serial) { serial_ = serial; }

StreamProfile PipelineProfile::get_stream(StreamType type, int index) const {
  for (const StreamProfile& p : streams_) {
    if (p.stream_type() == type && (index < 0 || p.stream_index() == index)) return p;
  }
  throw Error(std::string("the pipeline streams no ") + ToString(type), "get_stream",
              std::string("stream:") + ToString(type) + ", index:" + std::to_string(index));
}

// ---- Pipeline ----

namespace {

bool Matches(const Config::StreamRequest& r, const StreamProfile& p) {
  return (r.type == StreamType::Any || p.stream_type() == r.type) &&
         (r.index <= 0 || p.stream_index() == r.index) && (r.width <= 0 || p.width() == r.width) &&
         (r.height <= 0 || p.height() == r.height) &&
         (r.format == Format::Any || p.format() == r.format) && (r.fps <= 0 || p.fps() == r.fps);
}

std::string Describe(const Config::StreamRequest& r) {
  std::ostringstream s;
  s << ToString(r.type);
  if (r.index > 0) s << " " << r.index;
  s << " " << (r.width > 0 ? std::to_string(r.width) : "any") << "x"
    << (r.height > 0 ? std::to_string(r.height) : "any") << " " << ToString(r.format) << " "
    << (r.fps > 0 ? std::to_string(r.fps) + "fps" : "any fps");
  return s.str();
}

std::string Describe(const Config& config) {
  std::string text;
  if (!config.device_serial().empty()) text = "serial:" + config.device_serial();
  for (const auto& r : config.requests()) text += (text.empty() ? "" : ", ") + Describe(r);
  return text.empty() ? "defaults" : text;
}

// The profiles one device would start for this configuration; false when it cannot satisfy it.
bool Resolve(const Device& device, const Config& config, std::vector<StreamProfile>* chosen) {
  std::vector<StreamProfile> all;
  std::vector<StreamProfile> defaults;
  for (const Sensor& s : device.query_sensors()) {
    bool sensorHasDefault = false;
    const std::vector<StreamProfile> profiles = s.get_stream_profiles();
    for (const StreamProfile& p : profiles) {
      all.push_back(p);
      if (p.is_default()) {
        defaults.push_back(p);
        sensorHasDefault = true;
      }
    }
    if (!sensorHasDefault && !profiles.empty()) defaults.push_back(profiles.front());
  }
  chosen->clear();
  if (config.requests().empty()) {
    *chosen = defaults;
    return !chosen->empty();
  }
  for (const Config::StreamRequest& r : config.requests()) {
    const StreamProfile* pick = nullptr;
    for (const StreamProfile& p : all) {
      if (!Matches(r, p)) continue;
      if (pick == nullptr || (p.is_default() && !pick->is_default())) pick = &p;
    }
    if (pick == nullptr) return false;
    chosen->push_back(*pick);
  }
  return true;
}

}  // namespace

struct Pipeline::State {
  explicit State(Context c) : context(std::move(c)) {}
  Context context;
  std::mutex mutex;
  std::shared_ptr<StreamHandler> stream;
  PipelineProfile active;

  std::shared_ptr<StreamHandler> Stream(const char* function) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!stream) {
      throw WrongCallSequenceError(std::string(function) + " cannot be called before start()",
                                   function, "");
    }
    return stream;
  }
};

Pipeline::Pipeline() : Pipeline(Context()) {}

Pipeline::Pipeline(Context context) : state_(std::make_shared<State>(std::move(context))) {}

PipelineProfile Pipeline::start() { return start(Config()); }

PipelineProfile Pipeline::start(const Config& config) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->stream) {
    throw WrongCallSequenceError("start() cannot be called before stop()", "start",
                                 Describe(config));
  }
  const std::vector<Device> devices = state_->context.query_devices();
  if (devices.empty()) throw Error("No device connected", "start", Describe(config));
  bool serialSeen = config.device_serial().empty();
  for (const Device& device : devices) {
    if (!config.device_serial().empty()) {
      if (!device.supports(CameraInfo::SerialNumber) ||
          device.get_info(CameraInfo::SerialNumber) != config.device_serial()) {
        continue;
      }
      serialSeen = true;
    }
    std::vector<StreamProfile> chosen;
    if (!Resolve(device, config, &chosen)) continue;
    state_->stream = device.handler()->Start(chosen);
    state_->active = PipelineProfile(device, chosen);
    return state_->active;
  }
  if (!serialSeen) {
    throw Error("No device connected with serial number " + config.device_serial(), "start",
                Describe(config));
  }
  throw Error("Couldn't resolve requests", "start", Describe(config));
}

void Pipeline::stop() {
  std::shared_ptr<StreamHandler> stream;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->stream)
      throw WrongCallSequenceError("stop() cannot be called before start()", "stop", "");
    stream = std::move(state_->stream);
    state_->active = PipelineProfile();
  }
}

FrameSet Pipeline::wait_for_frames(unsigned int timeout_ms) const {
  return state_->Stream("wait_for_frames")->WaitForFrames(timeout_ms);
}

bool Pipeline::poll_for_frames(FrameSet* out) const {
  return state_->Stream("poll_for_frames")->PollForFrames(out);
}

bool Pipeline::try_wait_for_frames(FrameSet* out, unsigned int timeout_ms) const {
  const std::shared_ptr<StreamHandler> stream = state_->Stream("try_wait_for_frames");
  try {
    *out = stream->WaitForFrames(timeout_ms);
    return true;
  } catch (const Error&) {
    return false;
  }
}

PipelineProfile Pipeline::get_active_profile() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->stream) {
    throw WrongCallSequenceError("get_active_profile() cannot be called before start()",
                                 "get_active_profile", "");
  }
  return state_->active;
}

// ---- Devices described as data ----

namespace {

class ListedSensor : public SensorHandler {
 public:
  explicit ListedSensor(const SensorDescription& d)
      : name_(d.name), profiles_(d.profiles), options_(d.name, d.options) {}
  std::string Name() const override { return name_; }
  std::vector<StreamProfile> Profiles() const override { return profiles_; }
  bool SupportsOption(Option option) const override { return options_.Supports(option); }
  OptionRange GetOptionRange(Option option) const override { return options_.Range(option); }
  float GetOption(Option option) const override { return options_.Get(option); }
  void SetOption(Option option, float value) override { options_.Set(option, value); }

 private:
  const std::string name_;
  const std::vector<StreamProfile> profiles_;
  OptionTable options_;
};

class ListedStream : public StreamHandler {
 public:
  ListedStream(std::vector<StreamProfile> profiles, const DeviceDescription& desc)
      : profiles_(std::move(profiles)), frames_(desc.frames) {}
  FrameSet WaitForFrames(unsigned int) override { return Next(); }
  bool PollForFrames(FrameSet* out) override {
    *out = Next();
    return true;
  }

 private:
  FrameSet Next() {
    const unsigned long long number = ++count_;
    if (frames_) return frames_(profiles_, number);
    std::vector<Frame> frames;
    for (const StreamProfile& p : profiles_) {
      if (p.is_video() && BytesPerPixel(p.format()) > 0) {
        frames.push_back(MakeBlankFrame(p, FrameInfo{number, 0.0}));
      }
    }
    return FrameSet(std::move(frames));
  }
  std::vector<StreamProfile> profiles_;
  std::function<FrameSet(const std::vector<StreamProfile>&, unsigned long long)> frames_;
  unsigned long long count_ = 0;
};

class ListedDevice : public DeviceHandler {
 public:
  explicit ListedDevice(DeviceDescription d) : desc_(std::move(d)) {
    for (const auto& s : desc_.sensors) sensors_.push_back(std::make_shared<ListedSensor>(s));
  }
  bool SupportsInfo(CameraInfo info) const override { return desc_.info.count(info) > 0; }
  std::string GetInfo(CameraInfo info) const override {
    auto it = desc_.info.find(info);
    if (it == desc_.info.end()) {
      throw Error(std::string("device does not report ") + ToString(info), "get_info",
                  std::string("info:") + ToString(info));
    }
    return it->second;
  }
  std::vector<std::shared_ptr<SensorHandler>> Sensors() override {
    return {sensors_.begin(), sensors_.end()};
  }
  std::unique_ptr<StreamHandler> Start(const std::vector<StreamProfile>& profiles) override {
    if (!desc_.startError.empty()) throw Error(desc_.startError, "start", "");
    for (const StreamProfile& p : profiles) {
      bool offered = false;
      for (const auto& s : desc_.sensors) {
        offered = offered || std::find(s.profiles.begin(), s.profiles.end(), p) != s.profiles.end();
      }
      if (!offered) {
        throw InvalidValueError("the device does not offer " + p.stream_name() + " " +
                                    std::to_string(p.width()) + "x" + std::to_string(p.height()),
                                "start", "");
      }
    }
    return std::make_unique<ListedStream>(profiles, desc_);
  }

 private:
  DeviceDescription desc_;
  std::vector<std::shared_ptr<ListedSensor>> sensors_;
};

class ListedBackend : public Backend {
 public:
  explicit ListedBackend(std::vector<DeviceDescription> devices) {
    for (auto& d : devices) devices_.push_back(std::make_shared<ListedDevice>(std::move(d)));
  }
  std::vector<std::shared_ptr<DeviceHandler>> QueryDevices() override {
    return {devices_.begin(), devices_.end()};
  }

 private:
  std::vector<std::shared_ptr<ListedDevice>> devices_;
};

}  // namespace

DeviceDescription DescribeCamera(const std::string& serial, const std::vector<StreamType>& streams,
                                 float fovXDeg, float fovYDeg) {
  auto has = [&](StreamType t) {
    return std::find(streams.begin(), streams.end(), t) != streams.end();
  };
  const int sizes[][2] = {{1280, 720}, {848, 480}, {640, 480}};
  const int rates[] = {30, 15, 6};
  DeviceDescription d;
  d.info[CameraInfo::Name] = "Depth Camera D400";
  d.info[CameraInfo::FirmwareVersion] = "5.13.0";
  d.info[CameraInfo::ProductLine] = "D400";
  if (!serial.empty()) d.info[CameraInfo::SerialNumber] = serial;
  int uid = 1;
  if (has(StreamType::Depth) || has(StreamType::Infrared)) {
    SensorDescription s;
    s.name = "Stereo Module";
    for (const auto& size : sizes) {
      const Intrinsics in = PinholeIntrinsics(size[0], size[1], fovXDeg, fovYDeg);
      for (int fps : rates) {
        const bool first = size[0] == 1280 && fps == 30;
        if (has(StreamType::Depth)) {
          s.profiles.emplace_back(StreamType::Depth, 0, Format::Z16, fps, in, first, uid++);
        }
        if (has(StreamType::Infrared)) {
          s.profiles.emplace_back(StreamType::Infrared, 1, Format::Y8, fps, in, first, uid++);
        }
      }
    }
    s.options[Option::VisualPreset] = {0, 5, 1, 0};
    s.options[Option::EmitterEnabled] = {0, 1, 1, 1};
    s.options[Option::LaserPower] = {0, 360, 30, 150};
    d.sensors.push_back(std::move(s));
  }
  if (has(StreamType::Color)) {
    SensorDescription s;
    s.name = "RGB Camera";
    for (const auto& size : sizes) {
      const Intrinsics in = PinholeIntrinsics(size[0], size[1], fovXDeg, fovYDeg);
      for (int fps : rates) {
        const bool first = size[0] == 1280 && fps == 30;
        s.profiles.emplace_back(StreamType::Color, 0, Format::RGB8, fps, in, first, uid++);
        s.profiles.emplace_back(StreamType::Color, 0, Format::BGR8, fps, in, false, uid++);
      }
    }
    s.options[Option::Exposure] = {1, 10000, 1, 156};
    s.options[Option::EnableAutoExposure] = {0, 1, 1, 1};
    d.sensors.push_back(std::move(s));
  }
  return d;
}

std::shared_ptr<Backend> MakeListedBackend(std::vector<DeviceDescription> devices) {
  return std::make_shared<ListedBackend>(std::move(devices));
}

std::shared_ptr<Backend> MakeEmptyBackend() { return MakeListedBackend({}); }

// ---- The process-default backend ----

namespace {

std::mutex& FactoryMutex() {
  static std::mutex m;
  return m;
}
BackendFactory& CurrentFactory() {
  static BackendFactory factory;
  return factory;
}

}  // namespace

std::shared_ptr<Backend> MakeBuiltInBackend() {
  const char* scene = std::getenv(kSceneEnvironmentVariable);
  if (scene != nullptr && scene[0] != '\0') return MakeSimulatedBackend(scene);
  try {
    if (std::shared_ptr<Backend> rs = MakeRealSenseBackend()) return rs;
  } catch (const Error& e) {
    // A camera library that cannot start is a station without cameras, not a crash.
    std::cerr << std::string("Camera library: ") + e.what() + "\n" << std::flush;
  }
  return MakeEmptyBackend();
}

std::shared_ptr<Backend> MakeDefaultBackend() {
  BackendFactory factory;
  {
    std::lock_guard<std::mutex> lock(FactoryMutex());
    factory = CurrentFactory();
  }
  std::shared_ptr<Backend> backend = factory ? factory() : MakeBuiltInBackend();
  return backend ? backend : MakeEmptyBackend();
}

void SetDefaultBackendFactory(BackendFactory factory) {
  std::lock_guard<std::mutex> lock(FactoryMutex());
  CurrentFactory() = std::move(factory);
}

ScopedBackendFactory::ScopedBackendFactory(BackendFactory factory) {
  std::lock_guard<std::mutex> lock(FactoryMutex());
  previous_ = std::move(CurrentFactory());
  CurrentFactory() = std::move(factory);
}

ScopedBackendFactory::ScopedBackendFactory(std::shared_ptr<Backend> backend)
    : ScopedBackendFactory(BackendFactory([backend] { return backend; })) {}

ScopedBackendFactory::~ScopedBackendFactory() {
  std::lock_guard<std::mutex> lock(FactoryMutex());
  CurrentFactory() = std::move(previous_);
}

}  // namespace dimcam
