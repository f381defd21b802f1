// The librealsense2 backend: a thin adapter from the library's public C++ API (release 2.50 and
// later) to the camera layer. Frames are wrapped, not copied: each of our frames holds the
// library's frame alive.
#include <cstddef>
#include <cstdint>
#include <librealsense2/rs.hpp>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "camera/RealSense.h"

namespace dimcam {

namespace {

// Turns the library's errors into ours, keeping the failed function, its arguments and the text.
template <class F>
auto Call(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const rs2::invalid_value_error& e) {
    throw InvalidValueError(e.what(), e.get_failed_function(), e.get_failed_args());
  } catch (const rs2::wrong_api_call_sequence_error& e) {
    throw WrongCallSequenceError(e.what(), e.get_failed_function(), e.get_failed_args());
  } catch (const rs2::camera_disconnected_error& e) {
    throw CameraDisconnectedError(e.what(), e.get_failed_function(), e.get_failed_args());
  } catch (const rs2::error& e) {
    throw Error(e.what(), e.get_failed_function(), e.get_failed_args());
  }
}

rs2_stream ToRs(StreamType t) {
  switch (t) {
    case StreamType::Depth:
      return RS2_STREAM_DEPTH;
    case StreamType::Color:
      return RS2_STREAM_COLOR;
    case StreamType::Infrared:
      return RS2_STREAM_INFRARED;
    default:
      return RS2_STREAM_ANY;
  }
}

StreamType FromRs(rs2_stream s) {
  switch (s) {
    case RS2_STREAM_DEPTH:
      return StreamType::Depth;
    case RS2_STREAM_COLOR:
      return StreamType::Color;
    case RS2_STREAM_INFRARED:
      return StreamType::Infrared;
    default:
      return StreamType::Any;  // streams the layer does not handle
  }
}

const std::pair<Format, rs2_format> kFormats[] = {
    {Format::Z16, RS2_FORMAT_Z16},     {Format::RGB8, RS2_FORMAT_RGB8},
    {Format::BGR8, RS2_FORMAT_BGR8},   {Format::RGBA8, RS2_FORMAT_RGBA8},
    {Format::BGRA8, RS2_FORMAT_BGRA8}, {Format::Y8, RS2_FORMAT_Y8},
    {Format::Y16, RS2_FORMAT_Y16},     {Format::YUYV, RS2_FORMAT_YUYV}};

rs2_format ToRs(Format f) {
  for (const auto& [ours, theirs] : kFormats) {
    if (ours == f) return theirs;
  }
  return RS2_FORMAT_ANY;
}

Format FromRs(rs2_format f) {
  for (const auto& [ours, theirs] : kFormats) {
    if (theirs == f) return ours;
  }
  return Format::Any;
}

const std::pair<Option, rs2_option> kOptions[] = {
    {Option::VisualPreset, RS2_OPTION_VISUAL_PRESET},
    {Option::MinDistance, RS2_OPTION_MIN_DISTANCE},
    {Option::MaxDistance, RS2_OPTION_MAX_DISTANCE},
    {Option::DepthUnits, RS2_OPTION_DEPTH_UNITS},
    {Option::EmitterEnabled, RS2_OPTION_EMITTER_ENABLED},
    {Option::LaserPower, RS2_OPTION_LASER_POWER},
    {Option::Exposure, RS2_OPTION_EXPOSURE},
    {Option::Gain, RS2_OPTION_GAIN},
    {Option::EnableAutoExposure, RS2_OPTION_ENABLE_AUTO_EXPOSURE},
    {Option::ColorScheme, RS2_OPTION_COLOR_SCHEME},
    {Option::HistogramEqualizationEnabled, RS2_OPTION_HISTOGRAM_EQUALIZATION_ENABLED},
    {Option::FramesQueueSize, RS2_OPTION_FRAMES_QUEUE_SIZE}};

rs2_option ToRs(Option o) {
  for (const auto& [ours, theirs] : kOptions) {
    if (ours == o) return theirs;
  }
  throw Error(std::string("option ") + ToString(o) + " has no librealsense2 counterpart",
              "set_option", std::string("option:") + ToString(o));
}

const std::pair<CameraInfo, rs2_camera_info> kInfos[] = {
    {CameraInfo::Name, RS2_CAMERA_INFO_NAME},
    {CameraInfo::SerialNumber, RS2_CAMERA_INFO_SERIAL_NUMBER},
    {CameraInfo::FirmwareVersion, RS2_CAMERA_INFO_FIRMWARE_VERSION},
    {CameraInfo::PhysicalPort, RS2_CAMERA_INFO_PHYSICAL_PORT},
    {CameraInfo::ProductId, RS2_CAMERA_INFO_PRODUCT_ID},
    {CameraInfo::ProductLine, RS2_CAMERA_INFO_PRODUCT_LINE},
    {CameraInfo::UsbTypeDescriptor, RS2_CAMERA_INFO_USB_TYPE_DESCRIPTOR}};

bool ToRs(CameraInfo i, rs2_camera_info* out) {
  for (const auto& [ours, theirs] : kInfos) {
    if (ours == i) {
      *out = theirs;
      return true;
    }
  }
  return false;
}

DistortionModel FromRs(rs2_distortion d) {
  switch (d) {
    case RS2_DISTORTION_MODIFIED_BROWN_CONRADY:
      return DistortionModel::ModifiedBrownConrady;
    case RS2_DISTORTION_INVERSE_BROWN_CONRADY:
      return DistortionModel::InverseBrownConrady;
    case RS2_DISTORTION_FTHETA:
      return DistortionModel::FThetaFisheye;
    case RS2_DISTORTION_BROWN_CONRADY:
      return DistortionModel::BrownConrady;
    case RS2_DISTORTION_KANNALA_BRANDT4:
      return DistortionModel::KannalaBrandt4;
    default:
      return DistortionModel::None;
  }
}

StreamProfile FromRs(const rs2::stream_profile& p) {
  Intrinsics in;
  if (p.is<rs2::video_stream_profile>()) {
    const auto vp = p.as<rs2::video_stream_profile>();
    in.width = vp.width();
    in.height = vp.height();
    try {
      const rs2_intrinsics ri = vp.get_intrinsics();
      in.ppx = ri.ppx;
      in.ppy = ri.ppy;
      in.fx = ri.fx;
      in.fy = ri.fy;
      in.model = FromRs(ri.model);
      for (int i = 0; i < 5; ++i) in.coeffs[i] = ri.coeffs[i];
    } catch (const rs2::error&) {
      // Some modes carry no calibration; size alone still describes them.
    }
  }
  return StreamProfile(FromRs(p.stream_type()), p.stream_index(), FromRs(p.format()), p.fps(), in,
                       p.is_default(), p.unique_id());
}

class RsSensor : public SensorHandler {
 public:
  explicit RsSensor(rs2::sensor s) : s_(std::move(s)) {}
  std::string Name() const override {
    return Call([&] {
      return std::string(s_.supports(RS2_CAMERA_INFO_NAME) ? s_.get_info(RS2_CAMERA_INFO_NAME)
                                                           : "");
    });
  }
  std::vector<StreamProfile> Profiles() const override {
    return Call([&] {
      std::vector<StreamProfile> out;
      for (const rs2::stream_profile& p : s_.get_stream_profiles()) {
        if (FromRs(p.stream_type()) != StreamType::Any) out.push_back(FromRs(p));
      }
      return out;
    });
  }
  bool SupportsOption(Option o) const override {
    for (const auto& entry : kOptions) {
      if (entry.first == o) return Call([&] { return s_.supports(entry.second); });
    }
    return false;
  }
  OptionRange GetOptionRange(Option o) const override {
    return Call([&] {
      const rs2::option_range r = s_.get_option_range(ToRs(o));
      return OptionRange{r.min, r.max, r.step, r.def};
    });
  }
  float GetOption(Option o) const override {
    return Call([&] { return s_.get_option(ToRs(o)); });
  }
  void SetOption(Option o, float value) override {
    Call([&] { s_.set_option(ToRs(o), value); });
  }

 private:
  rs2::sensor s_;
};

// Frames of the library as ours; alignment is the library's own.
class RsStream : public StreamHandler {
 public:
  explicit RsStream(rs2::pipeline pipe) : pipe_(std::move(pipe)) {}
  ~RsStream() override {
    try {
      pipe_.stop();
    } catch (const rs2::error&) {
      // Already stopped, or the camera is gone: nothing left to release.
    }
  }
  FrameSet WaitForFrames(unsigned int timeout_ms) override {
    return Call([&] { return Convert(pipe_.wait_for_frames(timeout_ms)); });
  }
  bool PollForFrames(FrameSet* out) override {
    return Call([&] {
      rs2::frameset fs;
      if (!pipe_.poll_for_frames(&fs)) return false;
      *out = Convert(fs);
      return true;
    });
  }

 private:
  struct Aligners {
    std::mutex mutex;
    std::map<StreamType, std::shared_ptr<rs2::align>> byTarget;
    std::shared_ptr<rs2::align> For(StreamType to) {
      std::lock_guard<std::mutex> lock(mutex);
      auto& a = byTarget[to];
      if (!a) a = std::make_shared<rs2::align>(ToRs(to));
      return a;
    }
  };

  FrameSet Convert(const rs2::frameset& fs) { return ConvertWith(fs, aligners_); }

  static FrameSet ConvertWith(const rs2::frameset& fs, const std::shared_ptr<Aligners>& aligners) {
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < fs.size(); ++i) {
      const rs2::frame f = fs[i];
      if (!f.is<rs2::video_frame>()) continue;
      const auto vf = f.as<rs2::video_frame>();
      const StreamProfile profile = FromRs(vf.get_profile());
      if (profile.stream_type() == StreamType::Any || profile.format() == Format::Any) continue;
      const float units = f.is<rs2::depth_frame>() ? f.as<rs2::depth_frame>().get_units() : 0.0f;
      auto owner = std::make_shared<rs2::frame>(f);
      frames.push_back(WrapFrame(profile, const_cast<void*>(vf.get_data()),
                                 vf.get_stride_in_bytes(), owner,
                                 FrameInfo{f.get_frame_number(), f.get_timestamp()}, units));
    }
    rs2::frameset keep = fs;
    Aligner aligner = [keep, aligners](const FrameSet&, StreamType to) {
      return Call([&] {
        const rs2::frameset aligned = aligners->For(to)->process(keep);
        return ConvertWith(aligned, aligners);
      });
    };
    return FrameSet(std::move(frames), std::move(aligner));
  }

  rs2::pipeline pipe_;
  std::shared_ptr<Aligners> aligners_ = std::make_shared<Aligners>();
};

class RsDevice : public DeviceHandler {
 public:
  RsDevice(rs2::context ctx, rs2::device d) : ctx_(std::move(ctx)), d_(std::move(d)) {}
  bool SupportsInfo(CameraInfo i) const override {
    rs2_camera_info info;
    return ToRs(i, &info) && Call([&] { return d_.supports(info); });
  }
  std::string GetInfo(CameraInfo i) const override {
    rs2_camera_info info;
    if (!ToRs(i, &info)) {
      throw Error(std::string("device does not report ") + ToString(i), "get_info", "");
    }
    return Call([&] { return std::string(d_.get_info(info)); });
  }
  std::vector<std::shared_ptr<SensorHandler>> Sensors() override {
    return Call([&] {
      std::vector<std::shared_ptr<SensorHandler>> out;
      for (const rs2::sensor& s : d_.query_sensors()) out.push_back(std::make_shared<RsSensor>(s));
      return out;
    });
  }
  std::unique_ptr<StreamHandler> Start(const std::vector<StreamProfile>& profiles) override {
    return Call([&] {
      rs2::config cfg;
      if (d_.supports(RS2_CAMERA_INFO_SERIAL_NUMBER)) {
        cfg.enable_device(d_.get_info(RS2_CAMERA_INFO_SERIAL_NUMBER));
      }
      for (const StreamProfile& p : profiles) {
        cfg.enable_stream(ToRs(p.stream_type()), p.stream_index(), p.width(), p.height(),
                          ToRs(p.format()), p.fps());
      }
      rs2::pipeline pipe(ctx_);
      pipe.start(cfg);
      return std::unique_ptr<StreamHandler>(std::make_unique<RsStream>(pipe));
    });
  }

 private:
  rs2::context ctx_;
  rs2::device d_;
};

class RsBackend : public Backend {
 public:
  std::vector<std::shared_ptr<DeviceHandler>> QueryDevices() override {
    return Call([&] {
      std::vector<std::shared_ptr<DeviceHandler>> out;
      const rs2::device_list list = ctx_.query_devices();
      for (std::uint32_t i = 0; i < list.size(); ++i) {
        out.push_back(std::make_shared<RsDevice>(ctx_, list[i]));
      }
      return out;
    });
  }

 private:
  rs2::context ctx_;
};

}  // namespace

bool RealSenseBuiltIn() { return true; }

std::shared_ptr<Backend> MakeRealSenseBackend() {
  return Call([] { return std::shared_ptr<Backend>(std::make_shared<RsBackend>()); });
}

}  // namespace dimcam
