#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <set>
#include <vector>

#include "camera/Frame.h"
#include "camera/Processing.h"
#include "tests/camera/Capture.h"

namespace {

using dimcam::DepthFrame;
using dimcam::Format;
using dimcam::Frame;
using dimcam::Option;
using dimcam::StreamType;

dimcam::Intrinsics Size(int w, int h) { return dimcam::PinholeIntrinsics(w, h, 65, 40); }

std::vector<std::uint16_t> Values(const DepthFrame& f) {
  const std::uint16_t* v = f.values();
  return std::vector<std::uint16_t>(v, v + f.get_width() * f.get_height());
}

// ---- frames ----

TEST(Frames, HandlesShareThePixels) {
  const DepthFrame depth = dimcam::MakeDepthFrame(Size(4, 2), {1, 2, 3, 4, 5, 6, 7, 8});
  const Frame copy = depth;  // a handle, not the pixels
  EXPECT_EQ(copy.get_data(), depth.get_data());
  static_cast<std::uint16_t*>(copy.get_writable_data())[1] = 500;
  EXPECT_FLOAT_EQ(depth.get_distance(1, 0), 0.5f);
  EXPECT_EQ(depth.get_stride_in_bytes(), 8);
  EXPECT_EQ(depth.get_bytes_per_pixel(), 2);
  EXPECT_FLOAT_EQ(depth.get_units(), 0.001f);
  EXPECT_FLOAT_EQ(depth.get_distance(3, 1), 0.008f);
  EXPECT_EQ(dimcam::VideoStreamProfile(depth.get_profile()).get_intrinsics(), Size(4, 2));
}

TEST(Frames, DistanceOutsideTheImageIsAnError) {
  const DepthFrame depth = dimcam::MakeDepthFrame(Size(4, 2), std::vector<std::uint16_t>(8, 1));
  EXPECT_THROW(depth.get_distance(4, 0), dimcam::InvalidValueError);
  EXPECT_THROW(depth.get_distance(0, -1), dimcam::InvalidValueError);
}

TEST(Frames, KindsAndFrameSets) {
  const DepthFrame depth = dimcam::MakeDepthFrame(Size(2, 2), {0, 0, 0, 0});
  const dimcam::VideoFrame color =
      dimcam::MakeColorFrame(Size(2, 2), std::vector<std::uint8_t>(12, 7));
  EXPECT_FALSE(DepthFrame(color)) << "a colour frame is no depth frame";
  EXPECT_TRUE(color.is<dimcam::VideoFrame>());
  EXPECT_EQ(color.get_bytes_per_pixel(), 3);
  const dimcam::FrameSet set({depth, color});
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(set.get_depth_frame(), depth);
  EXPECT_EQ(set.get_color_frame(), color);
  EXPECT_FALSE(dimcam::FrameSet({depth}).get_color_frame());
  EXPECT_THROW(dimcam::FrameSet({depth}).first(StreamType::Color), dimcam::Error);
  EXPECT_THROW(dimcam::MakeDepthFrame(Size(2, 2), {1, 2, 3}), dimcam::InvalidValueError);
}

// ---- threshold filter ----

struct ThresholdCase {
  const char* name;
  float min, max;
  std::vector<std::uint16_t> in;
  std::vector<std::uint16_t> out;
};
void PrintTo(const ThresholdCase& c, std::ostream* os) { *os << c.name; }

class Threshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(Threshold, KeepsExactlyTheInclusiveRange) {
  const ThresholdCase& c = GetParam();
  const DepthFrame in = dimcam::MakeDepthFrame(Size(static_cast<int>(c.in.size()), 1), c.in);
  dimcam::ThresholdFilter filter;
  filter.set_option(Option::MinDistance, c.min);
  filter.set_option(Option::MaxDistance, c.max);
  const DepthFrame out(filter.process(in));
  ASSERT_TRUE(out);
  EXPECT_EQ(Values(out), c.out);
  EXPECT_EQ(Values(in), c.in) << "the input frame must stay untouched";
  EXPECT_NE(out.get_data(), in.get_data()) << "the result is a new frame";
  EXPECT_EQ(out.get_profile(), in.get_profile());
  EXPECT_FLOAT_EQ(out.get_units(), in.get_units());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Threshold,
    ::testing::Values(
        ThresholdCase{"InitRange",
                      0.29f,
                      16.0f,
                      {0, 289, 290, 291, 15999, 16000, 16001},
                      {0, 0, 290, 291, 15999, 16000, 0}},
        ThresholdCase{"CalibratedPlatform",
                      0.29f,
                      1.17f,
                      {1000, 1169, 1170, 1171, 1200, 300},
                      {1000, 1169, 1170, 0, 0, 300}},
        ThresholdCase{"LowestCalibration", 0.0f, 0.001f, {0, 1, 2}, {0, 1, 0}},
        ThresholdCase{"SinglePoint", 0.5f, 0.5f, {499, 500, 501}, {0, 500, 0}},
        ThresholdCase{"Crossed", 2.0f, 1.0f, {1000, 1500, 2000}, {0, 0, 0}},
        ThresholdCase{"Defaults", 0.1f, 4.0f, {99, 100, 4000, 4001, 65535}, {0, 100, 4000, 0, 0}}),
    cameratest::CaseName());

TEST(ThresholdFilter, ConstructorRangeAndRefusedValues) {
  dimcam::ThresholdFilter filter(0.15f, 4.0f);
  EXPECT_FLOAT_EQ(filter.get_option(Option::MinDistance), 0.15f);
  EXPECT_FLOAT_EQ(filter.get_option(Option::MaxDistance), 4.0f);
  EXPECT_THROW(filter.set_option(Option::MaxDistance, 16.5f), dimcam::InvalidValueError);
  EXPECT_THROW(filter.set_option(Option::MinDistance, -0.1f), dimcam::InvalidValueError);
  EXPECT_THROW(filter.set_option(Option::VisualPreset, 1), dimcam::Error);
  EXPECT_FLOAT_EQ(filter.get_option(Option::MaxDistance), 4.0f) << "refused values change nothing";
  const dimcam::VideoFrame color = dimcam::MakeColorFrame(Size(1, 1), {1, 2, 3});
  EXPECT_EQ(filter.process(color), color) << "other frames pass through";
}

// ---- colorizer ----

struct Pixel {
  int r, g, b;
  bool Black() const { return r == 0 && g == 0 && b == 0; }
  int Distance(const Pixel& o) const {
    return std::abs(r - o.r) + std::abs(g - o.g) + std::abs(b - o.b);
  }
};

Pixel At(const dimcam::VideoFrame& f, int x) {
  const auto* p = static_cast<const std::uint8_t*>(f.get_data()) + 3 * x;
  return {p[0], p[1], p[2]};
}

struct ColorizerCase {
  const char* name;
  float scheme;
  bool equalize;
};
void PrintTo(const ColorizerCase& c, std::ostream* os) { *os << c.name; }

class ColorizerPaints : public ::testing::TestWithParam<ColorizerCase> {};

TEST_P(ColorizerPaints, NoDepthBlackEveryDepthNotBlack) {
  std::vector<std::uint16_t> values;
  for (int i = 0; i < 64; ++i) values.push_back(static_cast<std::uint16_t>(i * 1024));
  values.push_back(1);
  values.push_back(65535);
  values.push_back(0);
  const DepthFrame depth = dimcam::MakeDepthFrame(Size(static_cast<int>(values.size()), 1), values);
  dimcam::Colorizer colorizer(GetParam().scheme);
  colorizer.set_option(Option::HistogramEqualizationEnabled, GetParam().equalize ? 1.0f : 0.0f);
  const dimcam::VideoFrame out = colorizer.colorize(depth);
  ASSERT_TRUE(out);
  EXPECT_EQ(out.get_profile().format(), Format::RGB8);
  EXPECT_EQ(out.get_width(), depth.get_width());
  EXPECT_EQ(out.get_height(), 1);
  EXPECT_EQ(out.get_bytes_per_pixel(), 3);
  for (std::size_t x = 0; x < values.size(); ++x) {
    EXPECT_EQ(At(out, static_cast<int>(x)).Black(), values[x] == 0) << "value " << values[x];
  }
}

INSTANTIATE_TEST_SUITE_P(Schemes, ColorizerPaints,
                         ::testing::Values(ColorizerCase{"JetEqualized", 0, true},
                                           ColorizerCase{"JetLinear", 0, false},
                                           ColorizerCase{"Classic", 1, true},
                                           ColorizerCase{"WhiteToBlack", 2, false},
                                           ColorizerCase{"BlackToWhite", 3, false}),
                         cameratest::CaseName());

TEST(Colorizer, DefaultsAreJetWithEqualization) {
  const dimcam::Colorizer colorizer;
  EXPECT_FLOAT_EQ(colorizer.get_option(Option::ColorScheme), 0);
  EXPECT_FLOAT_EQ(colorizer.get_option(Option::HistogramEqualizationEnabled), 1);
}

// A box top 10 mm above a platform: linear colouring over 0..6 m gives both nearly the same
// colour; equalisation spreads the depths present over the whole map.
TEST(Colorizer, EqualizationSpreadsTheColours) {
  std::vector<std::uint16_t> values(200, 1000);
  for (int i = 100; i < 200; ++i) values[i] = 1010;
  const DepthFrame depth = dimcam::MakeDepthFrame(Size(200, 1), values);
  dimcam::Colorizer equalized;
  dimcam::Colorizer linear;
  linear.set_option(Option::HistogramEqualizationEnabled, 0);
  const dimcam::VideoFrame e = equalized.colorize(depth);
  const dimcam::VideoFrame l = linear.colorize(depth);
  EXPECT_GT(At(e, 0).Distance(At(e, 150)), 300);
  EXPECT_LT(At(l, 0).Distance(At(l, 150)), 20);
  // Near is blue, far is red.
  EXPECT_GT(At(e, 0).b, At(e, 0).r);
  EXPECT_GT(At(e, 150).r, At(e, 150).b);
}

TEST(Colorizer, NotADepthFrame) {
  const dimcam::Colorizer colorizer;
  const dimcam::VideoFrame color = dimcam::MakeColorFrame(Size(1, 1), {1, 2, 3});
  EXPECT_FALSE(colorizer.colorize(color));
  EXPECT_EQ(colorizer.process(color), color);
}

// ---- align ----

TEST(Align, RegisteredColourPassesThrough) {
  const DepthFrame depth = dimcam::MakeDepthFrame(Size(4, 2), std::vector<std::uint16_t>(8, 900));
  const dimcam::VideoFrame color =
      dimcam::MakeColorFrame(Size(4, 2), std::vector<std::uint8_t>(24, 9));
  const dimcam::FrameSet aligned =
      dimcam::Align(StreamType::Depth).process(dimcam::FrameSet({depth, color}));
  EXPECT_EQ(aligned.get_depth_frame(), depth);
  EXPECT_EQ(aligned.get_color_frame(), color) << "the same frame, no copy";
}

// Colour of another size from the same viewpoint lands on the depth pixels that look along the
// same rays: a 2x larger colour image maps column u of depth onto column 2u of colour.
TEST(Align, SharedViewpointOfAnotherSizeIsResampled) {
  const DepthFrame depth = dimcam::MakeDepthFrame(Size(8, 4), std::vector<std::uint16_t>(32, 900));
  std::vector<std::uint8_t> pixels(16 * 8 * 3);
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 16; ++u) {
      pixels[3 * (v * 16 + u)] = static_cast<std::uint8_t>(u);
      pixels[3 * (v * 16 + u) + 1] = static_cast<std::uint8_t>(v);
    }
  }
  const dimcam::VideoFrame color = dimcam::MakeColorFrame(Size(16, 8), pixels);
  const dimcam::VideoFrame out =
      dimcam::Align(StreamType::Depth).process(dimcam::FrameSet({depth, color})).get_color_frame();
  ASSERT_EQ(out.get_width(), 8);
  ASSERT_EQ(out.get_height(), 4);
  const auto* p = static_cast<const std::uint8_t*>(out.get_data());
  for (int v = 0; v < 4; ++v) {
    for (int u = 0; u < 8; ++u) {
      EXPECT_EQ(p[3 * (v * 8 + u)], 2 * u);
      EXPECT_EQ(p[3 * (v * 8 + u) + 1], 2 * v);
    }
  }
}

}  // namespace
