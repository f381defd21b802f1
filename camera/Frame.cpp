#include "camera/Frame.h"

#include <utility>

namespace dimcam {

StreamProfile::StreamProfile(StreamType type, int index, Format format, int fps,
                             const Intrinsics& intrinsics, bool isDefault, int uniqueId)
    : type_(type),
      index_(index),
      format_(format),
      fps_(fps),
      uniqueId_(uniqueId),
      isDefault_(isDefault),
      intrinsics_(intrinsics) {}

std::string StreamProfile::stream_name() const {
  std::string name = ToString(type_);
  if (index_ > 0) name += " " + std::to_string(index_);
  return name;
}

bool StreamProfile::operator==(const StreamProfile& other) const {
  return type_ == other.type_ && index_ == other.index_ && format_ == other.format_ &&
         fps_ == other.fps_ && intrinsics_.width == other.intrinsics_.width &&
         intrinsics_.height == other.intrinsics_.height;
}

VideoStreamProfile::VideoStreamProfile(const StreamProfile& profile) {
  if (profile.is_video()) StreamProfile::operator=(profile);
}

VideoFrame::VideoFrame(const Frame& frame) {
  if (frame && frame.get_width() > 0 && frame.get_height() > 0) data_ = frame.data();
}

DepthFrame::DepthFrame(const Frame& frame) {
  if (frame && frame.get_width() > 0 && frame.get_height() > 0 &&
      frame.get_profile().format() == Format::Z16) {
    data_ = frame.data();
  }
}

float DepthFrame::get_distance(int x, int y) const {
  if (!data_) throw WrongCallSequenceError("empty depth frame", "get_distance", "");
  if (x < 0 || y < 0 || x >= data_->width || y >= data_->height) {
    throw InvalidValueError("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                ") is outside the " + std::to_string(data_->width) + "x" +
                                std::to_string(data_->height) + " depth frame",
                            "get_distance", "x:" + std::to_string(x) + ", y:" + std::to_string(y));
  }
  const auto* row = reinterpret_cast<const std::uint16_t*>(
      data_->pixels + static_cast<std::size_t>(y) * data_->stride);
  return static_cast<float>(row[x]) * data_->units;
}

const std::uint16_t* DepthFrame::values() const {
  return data_ ? reinterpret_cast<const std::uint16_t*>(data_->pixels) : nullptr;
}

FrameSet::FrameSet(std::vector<Frame> frames, Aligner aligner)
    : data_(std::make_shared<const Data>(Data{std::move(frames), std::move(aligner)})) {}

Frame FrameSet::operator[](std::size_t i) const {
  if (!data_ || i >= data_->frames.size()) {
    throw InvalidValueError("frame index out of range", "frameset[]", "index:" + std::to_string(i));
  }
  return data_->frames[i];
}

namespace {
const std::vector<Frame>& NoFrames() {
  static const std::vector<Frame> none;
  return none;
}
}  // namespace

std::vector<Frame>::const_iterator FrameSet::begin() const {
  return data_ ? data_->frames.begin() : NoFrames().begin();
}
std::vector<Frame>::const_iterator FrameSet::end() const {
  return data_ ? data_->frames.end() : NoFrames().end();
}

Frame FrameSet::first_or_default(StreamType type, Format format) const {
  for (const Frame& f : *this) {
    const StreamProfile p = f.get_profile();
    if ((type == StreamType::Any || p.stream_type() == type) &&
        (format == Format::Any || p.format() == format)) {
      return f;
    }
  }
  return Frame();
}

Frame FrameSet::first(StreamType type, Format format) const {
  Frame f = first_or_default(type, format);
  if (!f) {
    throw Error(std::string("Frame of requested stream type was not found"), "frameset::first",
                std::string("type:") + ToString(type) + ", format:" + ToString(format));
  }
  return f;
}

DepthFrame FrameSet::get_depth_frame() const {
  return DepthFrame(first_or_default(StreamType::Depth, Format::Z16));
}

VideoFrame FrameSet::get_color_frame() const {
  return VideoFrame(first_or_default(StreamType::Color));
}

VideoFrame FrameSet::get_infrared_frame(int index) const {
  for (const Frame& f : *this) {
    const StreamProfile p = f.get_profile();
    if (p.stream_type() == StreamType::Infrared && (index <= 0 || p.stream_index() == index)) {
      return VideoFrame(f);
    }
  }
  return VideoFrame();
}

unsigned long long FrameSet::get_frame_number() const {
  return size() > 0 ? data_->frames.front().get_frame_number() : 0;
}

const Aligner& FrameSet::aligner() const {
  static const Aligner none;
  return data_ ? data_->aligner : none;
}

namespace {

void CheckVideoProfile(const StreamProfile& profile, const char* function) {
  if (!profile.is_video() || BytesPerPixel(profile.format()) == 0) {
    throw InvalidValueError("a frame needs a profile with an image size and a fixed pixel format",
                            function, "profile:" + profile.stream_name());
  }
}

template <class T>
Frame OwnBuffer(const StreamProfile& profile, std::vector<T> buffer, FrameInfo info, float units,
                const char* function) {
  CheckVideoProfile(profile, function);
  const int bpp = BytesPerPixel(profile.format());
  const std::size_t bytes = static_cast<std::size_t>(profile.width()) * profile.height() * bpp;
  if (buffer.size() * sizeof(T) != bytes) {
    throw InvalidValueError("buffer of " + std::to_string(buffer.size() * sizeof(T)) +
                                " bytes for a frame of " + std::to_string(bytes),
                            function, "profile:" + profile.stream_name());
  }
  auto owner = std::make_shared<std::vector<T>>(std::move(buffer));
  auto data = std::make_shared<FrameData>();
  data->profile = profile;
  data->width = profile.width();
  data->height = profile.height();
  data->bytesPerPixel = bpp;
  data->stride = profile.width() * bpp;
  data->units = units;
  data->number = info.number;
  data->timestampMs = info.timestampMs;
  data->pixels = reinterpret_cast<std::uint8_t*>(owner->data());
  data->size = bytes;
  data->owner = owner;
  return Frame(std::move(data));
}

}  // namespace

DepthFrame MakeDepthFrame(const StreamProfile& profile, std::vector<std::uint16_t> values,
                          float units, FrameInfo info) {
  if (profile.format() != Format::Z16) {
    throw InvalidValueError("a depth frame needs a Z16 profile", "MakeDepthFrame",
                            std::string("format:") + ToString(profile.format()));
  }
  return DepthFrame(OwnBuffer(profile, std::move(values), info, units, "MakeDepthFrame"));
}

DepthFrame MakeDepthFrame(const Intrinsics& intrinsics, std::vector<std::uint16_t> values,
                          float units, FrameInfo info) {
  return MakeDepthFrame(StreamProfile(StreamType::Depth, 0, Format::Z16, 30, intrinsics),
                        std::move(values), units, info);
}

VideoFrame MakeVideoFrame(const StreamProfile& profile, std::vector<std::uint8_t> bytes,
                          FrameInfo info) {
  return VideoFrame(OwnBuffer(profile, std::move(bytes), info, 0.0f, "MakeVideoFrame"));
}

VideoFrame MakeColorFrame(const Intrinsics& intrinsics, std::vector<std::uint8_t> pixels,
                          Format format, FrameInfo info) {
  return MakeVideoFrame(StreamProfile(StreamType::Color, 0, format, 30, intrinsics),
                        std::move(pixels), info);
}

Frame WrapFrame(const StreamProfile& profile, void* pixels, int stride, std::shared_ptr<void> owner,
                FrameInfo info, float units) {
  CheckVideoProfile(profile, "WrapFrame");
  const int bpp = BytesPerPixel(profile.format());
  if (pixels == nullptr || stride < profile.width() * bpp) {
    throw InvalidValueError("no pixels, or rows shorter than the image", "WrapFrame",
                            "stride:" + std::to_string(stride));
  }
  auto data = std::make_shared<FrameData>();
  data->profile = profile;
  data->width = profile.width();
  data->height = profile.height();
  data->bytesPerPixel = bpp;
  data->stride = stride;
  data->units = profile.format() == Format::Z16 ? units : 0.0f;
  data->number = info.number;
  data->timestampMs = info.timestampMs;
  data->pixels = static_cast<std::uint8_t*>(pixels);
  data->size = static_cast<std::size_t>(stride) * profile.height();
  data->owner = std::move(owner);
  return Frame(std::move(data));
}

Frame MakeBlankFrame(const StreamProfile& profile, FrameInfo info, float units) {
  CheckVideoProfile(profile, "MakeBlankFrame");
  const std::size_t bytes = static_cast<std::size_t>(profile.width()) * profile.height() *
                            BytesPerPixel(profile.format());
  return OwnBuffer(profile, std::vector<std::uint8_t>(bytes, 0), info,
                   profile.format() == Format::Z16 ? units : 0.0f, "MakeBlankFrame");
}

}  // namespace dimcam
