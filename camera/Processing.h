#pragma once

// Frame processing: depth range threshold, depth colouring and alignment of streams.

#include <array>
#include <cstdint>

#include "camera/Frame.h"
#include "camera/Types.h"

namespace dimcam {

// Allowed values of an option and its default.
struct OptionRange {
  float min = 0;
  float max = 0;
  float step = 0;
  float def = 0;
};

// Keeps depth pixels whose distance d satisfies min <= d <= max (metres, both bounds inclusive)
// and sets all others to 0 (no depth). The result is a new frame; the input is left untouched.
// Frames other than depth frames pass through unchanged.
class ThresholdFilter {
 public:
  explicit ThresholdFilter(float min_dist = 0.1f, float max_dist = 4.0f);

  Frame process(const Frame& frame) const;

  bool supports(Option option) const;
  OptionRange get_option_range(Option option) const;
  float get_option(Option option) const;
  // MinDistance / MaxDistance in metres, 0 to 16; anything else throws InvalidValueError.
  void set_option(Option option, float value);

 private:
  float min_;
  float max_;
};

// Colour maps of the colorizer (values of Option::ColorScheme).
enum class ColorScheme : int { Jet = 0, Classic = 1, WhiteToBlack = 2, BlackToWhite = 3, Count };

// Paints a depth frame as an RGB8 picture of the same size: a pixel without depth is black and
// every pixel with depth gets a non-black colour. By default: the Jet colour map (near blue, far
// red) with histogram equalisation, so the colours spread over the depths actually present. With
// equalisation off, MinDistance..MaxDistance (metres) spans the map linearly.
class Colorizer {
 public:
  Colorizer();
  explicit Colorizer(float color_scheme);

  // The coloured picture of a depth frame; an empty frame for anything else.
  VideoFrame colorize(const Frame& depth) const;
  // Colours depth frames; other frames pass through.
  Frame process(const Frame& frame) const;

  bool supports(Option option) const;
  OptionRange get_option_range(Option option) const;
  float get_option(Option option) const;
  // ColorScheme, HistogramEqualizationEnabled (0/1), MinDistance, MaxDistance.
  void set_option(Option option, float value);

 private:
  int scheme_ = 0;
  bool equalize_ = true;
  float minDist_ = 0.0f;
  float maxDist_ = 6.0f;
};

// Brings every image of a frame set onto the viewpoint and size of one stream (colour onto depth
// with Align(StreamType::Depth)). A frame that already shares that viewpoint and size passes
// through as the same handle: the simulated camera's colour is registered to its depth, so
// aligning its frames copies nothing. A backend whose streams do not share a viewpoint gives its
// frame sets their own alignment, which is used here.
class Align {
 public:
  explicit Align(StreamType align_to);
  FrameSet process(const FrameSet& frames) const;

 private:
  StreamType to_;
};

}  // namespace dimcam
