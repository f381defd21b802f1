#pragma once

// Stream profiles, frames and frame sets. Frames are counted handles: copying one copies no pixels,
// and the pixels live as long as any handle to them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camera/Types.h"

namespace dimcam {

class VideoStreamProfile;

// One stream a sensor can deliver: kind, index, pixel format, rate and (for images) size and
// intrinsics.
class StreamProfile {
 public:
  StreamProfile() = default;  // empty: operator bool is false
  StreamProfile(StreamType type, int index, Format format, int fps, const Intrinsics& intrinsics,
                bool isDefault = false, int uniqueId = 0);

  explicit operator bool() const { return type_ != StreamType::Any; }
  StreamType stream_type() const { return type_; }
  int stream_index() const { return index_; }
  Format format() const { return format_; }
  int fps() const { return fps_; }
  int unique_id() const { return uniqueId_; }
  bool is_default() const { return isDefault_; }
  std::string stream_name() const;
  // Image size; 0 for streams without images.
  int width() const { return intrinsics_.width; }
  int height() const { return intrinsics_.height; }
  bool is_video() const { return intrinsics_.width > 0 && intrinsics_.height > 0; }

  template <class T>
  bool is() const {
    return static_cast<bool>(T(*this));
  }
  template <class T>
  T as() const {
    return T(*this);
  }

  // Same stream, format, rate and size (the unique id is not compared).
  bool operator==(const StreamProfile& other) const;
  bool operator!=(const StreamProfile& other) const { return !(*this == other); }

 protected:
  StreamType type_ = StreamType::Any;
  int index_ = 0;
  Format format_ = Format::Any;
  int fps_ = 0;
  int uniqueId_ = 0;
  bool isDefault_ = false;
  Intrinsics intrinsics_;
};

// A profile of an image stream. Made from a profile without images it is empty.
class VideoStreamProfile : public StreamProfile {
 public:
  VideoStreamProfile() = default;
  explicit VideoStreamProfile(const StreamProfile& profile);
  const Intrinsics& get_intrinsics() const { return intrinsics_; }
};

// What a frame handle points to. Backends fill it; everybody else uses the handles.
struct FrameData {
  StreamProfile profile;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row
  int bytesPerPixel = 0;
  float units = 0;  // metres per depth unit (depth frames)
  unsigned long long number = 0;
  double timestampMs = 0;
  std::uint8_t* pixels = nullptr;
  std::size_t size = 0;         // bytes at pixels
  std::shared_ptr<void> owner;  // keeps pixels alive
};

class Frame {
 public:
  Frame() = default;
  explicit Frame(std::shared_ptr<const FrameData> data) : data_(std::move(data)) {}

  explicit operator bool() const { return data_ != nullptr; }
  // The frame's own pixels, row by row (get_stride_in_bytes() apart). The buffer is writable
  // through get_writable_data(): every handle to this frame sees such changes.
  const void* get_data() const { return data_ ? data_->pixels : nullptr; }
  void* get_writable_data() const { return data_ ? data_->pixels : nullptr; }
  int get_data_size() const { return data_ ? static_cast<int>(data_->size) : 0; }
  int get_width() const { return data_ ? data_->width : 0; }
  int get_height() const { return data_ ? data_->height : 0; }
  int get_stride_in_bytes() const { return data_ ? data_->stride : 0; }
  int get_bytes_per_pixel() const { return data_ ? data_->bytesPerPixel : 0; }
  int get_bits_per_pixel() const { return get_bytes_per_pixel() * 8; }
  StreamProfile get_profile() const { return data_ ? data_->profile : StreamProfile(); }
  unsigned long long get_frame_number() const { return data_ ? data_->number : 0; }
  double get_timestamp() const { return data_ ? data_->timestampMs : 0; }

  template <class T>
  bool is() const {
    return static_cast<bool>(T(*this));
  }
  template <class T>
  T as() const {
    return T(*this);
  }

  const std::shared_ptr<const FrameData>& data() const { return data_; }
  // Two handles to the same frame.
  bool operator==(const Frame& other) const { return data_ == other.data_; }
  bool operator!=(const Frame& other) const { return data_ != other.data_; }

 protected:
  std::shared_ptr<const FrameData> data_;
};

// A frame with an image (every frame with a size). Made from another kind of frame it is empty.
class VideoFrame : public Frame {
 public:
  VideoFrame() = default;
  explicit VideoFrame(const Frame& frame);
};

// A depth image of 16-bit values; value * get_units() is the distance in metres along the optical
// axis, 0 where there is no depth. Made from another kind of frame it is empty.
class DepthFrame : public VideoFrame {
 public:
  DepthFrame() = default;
  explicit DepthFrame(const Frame& frame);
  // Metres at column x, row y; throws InvalidValueError outside the image.
  float get_distance(int x, int y) const;
  float get_units() const { return data_ ? data_->units : 0.0f; }
  const std::uint16_t* values() const;
};

class FrameSet;
// Turns a frame set into one whose frames share the viewpoint and size of the stream `to`
// (a backend with its own alignment gives one to its frame sets).
using Aligner = std::function<FrameSet(const FrameSet& frames, StreamType to)>;

// Frames of several streams taken together.
class FrameSet {
 public:
  FrameSet() = default;
  explicit FrameSet(std::vector<Frame> frames, Aligner aligner = nullptr);

  explicit operator bool() const { return data_ != nullptr && !data_->frames.empty(); }
  std::size_t size() const { return data_ ? data_->frames.size() : 0; }
  Frame operator[](std::size_t i) const;
  std::vector<Frame>::const_iterator begin() const;
  std::vector<Frame>::const_iterator end() const;

  // The first frame of that stream (and format), or an empty frame.
  Frame first_or_default(StreamType type, Format format = Format::Any) const;
  // As first_or_default, but throws Error when there is none.
  Frame first(StreamType type, Format format = Format::Any) const;
  DepthFrame get_depth_frame() const;
  VideoFrame get_color_frame() const;
  VideoFrame get_infrared_frame(int index = 0) const;
  unsigned long long get_frame_number() const;

  const Aligner& aligner() const;

 private:
  struct Data {
    std::vector<Frame> frames;
    Aligner aligner;
  };
  std::shared_ptr<const Data> data_;
};

// Frames from pixel buffers, for backends and tests. Sizes come from the profile's intrinsics; a
// buffer of the wrong size throws InvalidValueError.
struct FrameInfo {
  unsigned long long number = 0;
  double timestampMs = 0;
};
DepthFrame MakeDepthFrame(const StreamProfile& profile, std::vector<std::uint16_t> values,
                          float units = 0.001f, FrameInfo info = {});
// A depth stream (index 0, Z16, 30 fps) with these intrinsics.
DepthFrame MakeDepthFrame(const Intrinsics& intrinsics, std::vector<std::uint16_t> values,
                          float units = 0.001f, FrameInfo info = {});
VideoFrame MakeVideoFrame(const StreamProfile& profile, std::vector<std::uint8_t> bytes,
                          FrameInfo info = {});
// A colour stream (index 0, 30 fps) with these intrinsics; 3 bytes per pixel.
VideoFrame MakeColorFrame(const Intrinsics& intrinsics, std::vector<std::uint8_t> pixels,
                          Format format = Format::RGB8, FrameInfo info = {});
// Wraps pixels someone else owns (no copy); `owner` keeps them alive.
Frame WrapFrame(const StreamProfile& profile, void* pixels, int stride, std::shared_ptr<void> owner,
                FrameInfo info = {}, float units = 0.001f);
// A frame of the profile's size with every byte 0 (no depth / black).
Frame MakeBlankFrame(const StreamProfile& profile, FrameInfo info = {}, float units = 0.001f);

}  // namespace dimcam
