#include "camera/Processing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "camera/OptionTable.h"

namespace dimcam {

namespace {

[[noreturn]] void Unsupported(Option option, const char* function) {
  throw Error(std::string("option ") + ToString(option) + " is not supported by this block",
              function, std::string("option:") + ToString(option));
}

// A frame of the same size and stream as `like`, in `format`, with its own zeroed buffer.
Frame NewFrameLike(const Frame& like, Format format, float units) {
  const StreamProfile p = like.get_profile();
  const VideoStreamProfile vp(p);
  const StreamProfile profile(p.stream_type(), p.stream_index(), format, p.fps(),
                              vp.get_intrinsics(), false, p.unique_id());
  return MakeBlankFrame(profile, FrameInfo{like.get_frame_number(), like.get_timestamp()}, units);
}

}  // namespace

// ---- ThresholdFilter ----

ThresholdFilter::ThresholdFilter(float min_dist, float max_dist) : min_(0.1f), max_(4.0f) {
  set_option(Option::MinDistance, min_dist);
  set_option(Option::MaxDistance, max_dist);
}

bool ThresholdFilter::supports(Option option) const {
  return option == Option::MinDistance || option == Option::MaxDistance;
}

OptionRange ThresholdFilter::get_option_range(Option option) const {
  if (option == Option::MinDistance) return {0.0f, 16.0f, 0.1f, 0.1f};
  if (option == Option::MaxDistance) return {0.0f, 16.0f, 0.1f, 4.0f};
  Unsupported(option, "threshold_filter::get_option_range");
}

float ThresholdFilter::get_option(Option option) const {
  if (option == Option::MinDistance) return min_;
  if (option == Option::MaxDistance) return max_;
  Unsupported(option, "threshold_filter::get_option");
}

void ThresholdFilter::set_option(Option option, float value) {
  CheckOptionValue(option, value, get_option_range(option), "threshold_filter::set_option");
  (option == Option::MinDistance ? min_ : max_) = value;
}

Frame ThresholdFilter::process(const Frame& frame) const {
  const DepthFrame depth(frame);
  if (!depth || depth.get_units() <= 0) return frame;
  // Bounds in depth units, both inclusive. A hundredth of a unit of tolerance keeps a value lying
  // exactly on a bound (1170 units of 1 mm against 1.17 m) inside despite float rounding.
  const double units = depth.get_units();
  const double lo = std::ceil(static_cast<double>(min_) / units - 1e-2);
  const double hi = std::floor(static_cast<double>(max_) / units + 1e-2);
  const bool nothingPasses = lo > 65535.0 || hi < 0.0 || lo > hi;
  const auto low = static_cast<std::uint16_t>(nothingPasses ? 0.0 : std::max(lo, 0.0));
  const auto high = static_cast<std::uint16_t>(nothingPasses ? 0.0 : std::min(hi, 65535.0));

  Frame out = NewFrameLike(frame, Format::Z16, depth.get_units());
  if (nothingPasses) return out;
  const int w = depth.get_width();
  const int h = depth.get_height();
  const auto* src = static_cast<const std::uint8_t*>(depth.get_data());
  auto* dst = static_cast<std::uint8_t*>(out.get_writable_data());
  for (int y = 0; y < h; ++y) {
    const auto* s = reinterpret_cast<const std::uint16_t*>(src + static_cast<std::size_t>(y) *
                                                                     depth.get_stride_in_bytes());
    auto* d = reinterpret_cast<std::uint16_t*>(dst + static_cast<std::size_t>(y) *
                                                         out.get_stride_in_bytes());
    for (int x = 0; x < w; ++x) {
      const std::uint16_t v = s[x];
      d[x] = (v >= low && v <= high) ? v : 0;
    }
  }
  return out;
}

// ---- Colorizer ----

namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

std::uint8_t Byte(double v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

// f in [0, 1] -> a colour that is never black.
Rgb MapColor(int scheme, double f) {
  f = std::clamp(f, 0.0, 1.0);
  switch (static_cast<ColorScheme>(scheme)) {
    case ColorScheme::Jet:
      // Dark blue, blue, cyan, yellow, red, dark red.
      return {Byte(1.5 - std::abs(4 * f - 3)), Byte(1.5 - std::abs(4 * f - 2)),
              Byte(1.5 - std::abs(4 * f - 1))};
    case ColorScheme::Classic: {
      // Blue, cyan, green, yellow, red.
      const double t = f * 4;
      if (t < 1) return {0, Byte(t), 255};
      if (t < 2) return {0, 255, Byte(2 - t)};
      if (t < 3) return {Byte(t - 2), 255, 0};
      return {255, Byte(4 - t), 0};
    }
    case ColorScheme::WhiteToBlack: {
      const std::uint8_t g = Byte(1.0 - f * (1.0 - 24.0 / 255.0));
      return {g, g, g};
    }
    case ColorScheme::BlackToWhite: {
      const std::uint8_t g = Byte(24.0 / 255.0 + f * (1.0 - 24.0 / 255.0));
      return {g, g, g};
    }
    case ColorScheme::Count:
      break;
  }
  return {255, 255, 255};
}

}  // namespace

Colorizer::Colorizer() = default;

Colorizer::Colorizer(float color_scheme) { set_option(Option::ColorScheme, color_scheme); }

bool Colorizer::supports(Option option) const {
  return option == Option::ColorScheme || option == Option::HistogramEqualizationEnabled ||
         option == Option::MinDistance || option == Option::MaxDistance;
}

OptionRange Colorizer::get_option_range(Option option) const {
  switch (option) {
    case Option::ColorScheme:
      return {0.0f, static_cast<float>(static_cast<int>(ColorScheme::Count) - 1), 1.0f, 0.0f};
    case Option::HistogramEqualizationEnabled:
      return {0.0f, 1.0f, 1.0f, 1.0f};
    case Option::MinDistance:
      return {0.0f, 16.0f, 0.1f, 0.0f};
    case Option::MaxDistance:
      return {0.0f, 16.0f, 0.1f, 6.0f};
    default:
      Unsupported(option, "colorizer::get_option_range");
  }
}

float Colorizer::get_option(Option option) const {
  switch (option) {
    case Option::ColorScheme:
      return static_cast<float>(scheme_);
    case Option::HistogramEqualizationEnabled:
      return equalize_ ? 1.0f : 0.0f;
    case Option::MinDistance:
      return minDist_;
    case Option::MaxDistance:
      return maxDist_;
    default:
      Unsupported(option, "colorizer::get_option");
  }
}

void Colorizer::set_option(Option option, float value) {
  CheckOptionValue(option, value, get_option_range(option), "colorizer::set_option");
  switch (option) {
    case Option::ColorScheme:
      scheme_ = static_cast<int>(std::lround(value));
      break;
    case Option::HistogramEqualizationEnabled:
      equalize_ = value >= 0.5f;
      break;
    case Option::MinDistance:
      minDist_ = value;
      break;
    case Option::MaxDistance:
      maxDist_ = value;
      break;
    default:
      Unsupported(option, "colorizer::set_option");
  }
}

VideoFrame Colorizer::colorize(const Frame& frame) const {
  const DepthFrame depth(frame);
  if (!depth) return VideoFrame();
  const int w = depth.get_width();
  const int h = depth.get_height();
  const auto* src = static_cast<const std::uint8_t*>(depth.get_data());
  const int srcStride = depth.get_stride_in_bytes();
  auto row = [&](int y) {
    return reinterpret_cast<const std::uint16_t*>(src + static_cast<std::size_t>(y) * srcStride);
  };

  // Colour per depth value, for the values present.
  std::vector<std::uint32_t> count(65536, 0);
  for (int y = 0; y < h; ++y) {
    const std::uint16_t* s = row(y);
    for (int x = 0; x < w; ++x) ++count[s[x]];
  }
  std::vector<Rgb> lut(65536, Rgb{0, 0, 0});
  const std::uint64_t total = static_cast<std::uint64_t>(w) * h - count[0];
  if (equalize_) {
    // Each value takes the middle of its rank among all pixels with depth, so the colours spread
    // evenly over the depths actually present.
    std::uint64_t below = 0;
    for (int v = 1; v < 65536; ++v) {
      if (count[v] == 0) continue;
      const double f = (static_cast<double>(below) + count[v] / 2.0) / static_cast<double>(total);
      lut[v] = MapColor(scheme_, f);
      below += count[v];
    }
  } else {
    const double units = depth.get_units();
    const double span = std::max(1e-6, static_cast<double>(maxDist_) - minDist_);
    for (int v = 1; v < 65536; ++v) {
      if (count[v] == 0) continue;
      lut[v] = MapColor(scheme_, (v * units - minDist_) / span);
    }
  }

  Frame out = NewFrameLike(frame, Format::RGB8, 0.0f);
  auto* dst = static_cast<std::uint8_t*>(out.get_writable_data());
  const int dstStride = out.get_stride_in_bytes();
  for (int y = 0; y < h; ++y) {
    const std::uint16_t* s = row(y);
    std::uint8_t* d = dst + static_cast<std::size_t>(y) * dstStride;
    for (int x = 0; x < w; ++x) {
      const Rgb c = lut[s[x]];
      d[3 * x] = c.r;
      d[3 * x + 1] = c.g;
      d[3 * x + 2] = c.b;
    }
  }
  return VideoFrame(out);
}

Frame Colorizer::process(const Frame& frame) const {
  if (DepthFrame(frame)) return colorize(frame);
  return frame;
}

// ---- Align ----

Align::Align(StreamType align_to) : to_(align_to) {}

namespace {

// Resamples `frame` onto the pixels of `target` for two streams that share one viewpoint (the
// same optical centre and axes): each target pixel looks along the same ray as some source pixel.
Frame ResampleSharedViewpoint(const Frame& frame, const Intrinsics& target) {
  const StreamProfile p = frame.get_profile();
  const Intrinsics src = VideoStreamProfile(p).get_intrinsics();
  const StreamProfile profile(p.stream_type(), p.stream_index(), p.format(), p.fps(), target, false,
                              p.unique_id());
  const DepthFrame asDepth(frame);
  Frame out = MakeBlankFrame(profile, FrameInfo{frame.get_frame_number(), frame.get_timestamp()},
                             asDepth ? asDepth.get_units() : 0.001f);
  const int bpp = frame.get_bytes_per_pixel();
  const auto* in = static_cast<const std::uint8_t*>(frame.get_data());
  auto* dst = static_cast<std::uint8_t*>(out.get_writable_data());
  for (int v = 0; v < target.height; ++v) {
    for (int u = 0; u < target.width; ++u) {
      const float pixel[2] = {static_cast<float>(u), static_cast<float>(v)};
      float point[3];
      DeprojectPixelToPoint(point, target, pixel, 1.0f);
      float sp[2];
      ProjectPointToPixel(sp, src, point);
      const long su = std::lround(sp[0]);
      const long sv = std::lround(sp[1]);
      if (!(su >= 0 && sv >= 0 && su < src.width && sv < src.height)) continue;
      std::memcpy(dst + (static_cast<std::size_t>(v) * target.width + u) * bpp,
                  in + static_cast<std::size_t>(sv) * frame.get_stride_in_bytes() + su * bpp,
                  static_cast<std::size_t>(bpp));
    }
  }
  return out;
}

}  // namespace

FrameSet Align::process(const FrameSet& frames) const {
  if (!frames) return frames;
  if (frames.aligner()) return frames.aligner()(frames, to_);
  const Frame target = frames.first_or_default(to_);
  if (!target) return frames;
  const Intrinsics targetIntrinsics = VideoStreamProfile(target.get_profile()).get_intrinsics();
  std::vector<Frame> out;
  bool changed = false;
  for (const Frame& f : frames) {
    const VideoStreamProfile vp(f.get_profile());
    if (f == target || !vp || vp.get_intrinsics() == targetIntrinsics) {
      out.push_back(f);
    } else {
      out.push_back(ResampleSharedViewpoint(f, targetIntrinsics));
      changed = true;
    }
  }
  return changed ? FrameSet(std::move(out)) : frames;
}

}  // namespace dimcam
