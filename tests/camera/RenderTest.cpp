#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "camera/Simulated.h"

namespace {

using dimcam::Scene;
using dimcam::SceneBox;

constexpr int kW = 1280;
constexpr int kH = 720;

SceneBox Box(float l, float w, float h, float cx = 0, float cy = 0, float yaw = 0,
             float elevation = 0) {
  return SceneBox{{l, w, h}, {cx, cy}, yaw, elevation};
}

Scene WithBoxes(std::vector<SceneBox> boxes) {
  Scene s;
  s.boxes = std::move(boxes);
  return s;
}

struct Rendered {
  dimcam::Intrinsics in;
  std::vector<std::uint16_t> depth;
  std::vector<std::uint8_t> rgb;
  std::uint16_t At(int u, int v) const { return depth[static_cast<std::size_t>(v) * kW + u]; }
  // Depth at the pixel where a point of the scene (millimetres) is seen.
  std::uint16_t Under(float x, float y, float z) const {
    const float p[3] = {x, y, z};
    float px[2];
    dimcam::ProjectPointToPixel(px, in, p);
    return At(static_cast<int>(std::lround(px[0])), static_cast<int>(std::lround(px[1])));
  }
  const std::uint8_t* Color(int u, int v) const {
    return &rgb[3 * (static_cast<std::size_t>(v) * kW + u)];
  }
};

Rendered Render(const Scene& scene, unsigned long long frame = 1) {
  Rendered r;
  r.in = dimcam::PinholeIntrinsics(kW, kH, scene.fov_deg[0], scene.fov_deg[1]);
  r.depth.resize(static_cast<std::size_t>(kW) * kH);
  r.rgb.resize(static_cast<std::size_t>(kW) * kH * 3);
  dimcam::SceneRenderer(r.in).Render(scene, frame, r.depth.data(), r.rgb.data());
  return r;
}

long CountDepth(const Rendered& r, std::uint16_t value) {
  return std::count(r.depth.begin(), r.depth.end(), value);
}

TEST(Render, EmptyPlatformIsFlat) {
  const Rendered r = Render(Scene());
  EXPECT_EQ(CountDepth(r, 1000), static_cast<long>(kW) * kH)
      << "depth is the distance along the axis, the same for the whole plane";
}

// A box 400 x 300 x 200 under the camera: its top at 800 mm covers (400 fx / 800) x (300 fy / 800)
// pixels, and it hides its walls.
TEST(Render, FootprintAndDepthOfABox) {
  const Rendered r = Render(WithBoxes({Box(400, 300, 200)}));
  EXPECT_EQ(r.At(640, 360), 800);
  EXPECT_EQ(r.At(0, 0), 1000);
  const double expected = (400.0 * r.in.fx / 800.0) * (300.0 * r.in.fy / 800.0);
  EXPECT_NEAR(CountDepth(r, 800), expected, expected * 0.01);
  long walls = 0;
  for (std::uint16_t d : r.depth) walls += (d > 800 && d < 1000);
  EXPECT_EQ(walls, 0) << "under the camera the side walls stay hidden";
  // Plausible colours: cardboard top, grey platform.
  const std::uint8_t* top = r.Color(640, 360);
  const std::uint8_t* floor = r.Color(0, 0);
  EXPECT_GT(top[0], top[2] + 40) << "cardboard is brownish";
  EXPECT_LT(std::abs(floor[0] - floor[2]), 20) << "the platform is grey";
}

// Every top-face pixel, deprojected at its rendered depth, lies on the top face; and the extreme
// top-face points along the box's diagonals are its corners.
TEST(Render, DeprojectionGivesBackTheBoxCorners) {
  const SceneBox box = Box(400, 300, 200, 100, 20, 30);
  const Rendered r = Render(WithBoxes({box}));
  const double yaw = 30 * M_PI / 180;
  const double c = std::cos(yaw), s = std::sin(yaw);
  const double corners[4][2] = {{200, 150}, {-200, 150}, {-200, -150}, {200, -150}};
  double best[4] = {-1e9, -1e9, -1e9, -1e9};
  double found[4][2] = {};
  long topPixels = 0;
  for (int v = 0; v < kH; ++v) {
    for (int u = 0; u < kW; ++u) {
      if (r.At(u, v) != 800) continue;
      ++topPixels;
      const float pixel[2] = {static_cast<float>(u), static_cast<float>(v)};
      float p[3];
      dimcam::DeprojectPixelToPoint(p, r.in, pixel, r.At(u, v));
      // Box frame.
      const double lx = c * (p[0] - 100) + s * (p[1] - 20);
      const double ly = -s * (p[0] - 100) + c * (p[1] - 20);
      ASSERT_LE(std::abs(lx), 200.5) << "pixel " << u << "," << v;
      ASSERT_LE(std::abs(ly), 150.5) << "pixel " << u << "," << v;
      for (int k = 0; k < 4; ++k) {
        const double score = lx * corners[k][0] / 200 + ly * corners[k][1] / 150;
        if (score > best[k]) {
          best[k] = score;
          found[k][0] = lx;
          found[k][1] = ly;
        }
      }
    }
  }
  ASSERT_GT(topPixels, 1000);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(found[k][0], corners[k][0], 2.0) << "corner " << k;
    EXPECT_NEAR(found[k][1], corners[k][1], 2.0) << "corner " << k;
  }
}

// Positive yaw turns the box from +x toward +y (clockwise in the image, whose rows grow down).
TEST(Render, TurnedBox) {
  const Rendered r = Render(WithBoxes({Box(600, 100, 200, 0, 0, 30)}));
  const float a = 250 * std::cos(30 * M_PI / 180), b = 250 * std::sin(30 * M_PI / 180);
  EXPECT_EQ(r.Under(a, b, 800), 800);
  EXPECT_EQ(r.Under(-a, -b, 800), 800);
  EXPECT_EQ(r.Under(a, -b, 1000), 1000);
  EXPECT_EQ(r.Under(250, 0, 1000), 1000) << "the unturned long axis is now off the box";
  // A quarter turn equals swapping length and width.
  const Rendered q = Render(WithBoxes({Box(400, 300, 200, 0, 0, 90)}));
  const Rendered w = Render(WithBoxes({Box(300, 400, 200)}));
  long differ = 0;
  for (std::size_t i = 0; i < q.depth.size(); ++i) differ += q.depth[i] != w.depth[i];
  EXPECT_LT(differ, 10);
}

// Off the axis the camera sees the wall that faces the axis, between the top and the platform,
// in the wall's colour; the far wall stays hidden behind the box.
TEST(Render, SideWallVisibleOffAxis) {
  const Rendered r = Render(WithBoxes({Box(300, 300, 200, 400, 0)}));
  // The near wall at x = 250 mm: its foot is seen at x = 250 on the platform line...
  const float pixelTop[3] = {250, 0, 800};
  const float pixelFoot[3] = {250, 0, 1000};
  float top[2], foot[2];
  dimcam::ProjectPointToPixel(top, r.in, pixelTop);
  dimcam::ProjectPointToPixel(foot, r.in, pixelFoot);
  ASSERT_GT(top[0] - foot[0], 40) << "the wall spans many columns";
  int wallPixels = 0;
  for (int u = static_cast<int>(std::ceil(foot[0])) + 1; u < static_cast<int>(top[0]) - 1; ++u) {
    const std::uint16_t d = r.At(u, 360);
    EXPECT_GT(d, 800);
    EXPECT_LT(d, 1000);
    // The ray through column u meets the plane x = 250 at depth 250 / (x/z of the ray).
    const double expected = 250.0 / ((u - r.in.ppx) / r.in.fx);
    EXPECT_NEAR(d, expected, 1.0);
    const std::uint8_t* wall = r.Color(u, 360);
    const std::uint8_t* lid = r.Color(static_cast<int>(top[0]) + 5, 360);
    EXPECT_LT(wall[0], lid[0]) << "walls are darker than the lit top";
    ++wallPixels;
  }
  EXPECT_GT(wallPixels, 40);
  long between = 0;
  for (std::uint16_t d : r.depth) between += (d > 800 && d < 1000);
  EXPECT_GT(between, 40L * 280);
}

// A lifted flat box (an arm reaching in) hides the platform under it.
TEST(Render, ElevatedBoxHidesThePlatform) {
  const Rendered r = Render(WithBoxes({Box(800, 100, 50, -400, 0, 0, 300)}));
  EXPECT_EQ(r.Under(-300, 0, 650), 650);
  EXPECT_EQ(r.Under(-300, 200, 1000), 1000);
}

TEST(Render, NearestBoxWins) {
  const Rendered r =
      Render(WithBoxes({Box(400, 400, 100), Box(200, 200, 300), Box(100, 100, 50, 300, 100)}));
  EXPECT_EQ(r.At(640, 360), 700);
  EXPECT_EQ(r.Under(150, 0, 900), 900);
  EXPECT_EQ(r.Under(300, 100, 950), 950);
}

// Noise and holes come from the seed and the frame number only.
TEST(Render, NoiseAndHolesReproducibleFromTheSeed) {
  Scene s = WithBoxes({Box(400, 300, 200)});
  s.depth_noise_mm = 2;
  s.hole_fraction = 0.1f;
  s.seed = 7;
  const Rendered a = Render(s, 3);
  const Rendered b = Render(s, 3);
  EXPECT_EQ(a.depth, b.depth);
  EXPECT_NE(a.depth, Render(s, 4).depth) << "each frame has its own noise";
  s.seed = 8;
  EXPECT_NE(a.depth, Render(s, 3).depth);

  const double holes = static_cast<double>(CountDepth(a, 0)) / a.depth.size();
  EXPECT_NEAR(holes, 0.1, 0.005);
  // Platform pixels at 1 m: standard deviation 2 mm (plus the 1 mm quantisation).
  double sum = 0, sum2 = 0;
  long n = 0;
  for (int v = 0; v < 100; ++v) {
    for (int u = 0; u < kW; ++u) {
      const std::uint16_t d = a.At(u, v);
      if (d == 0) continue;
      sum += d - 1000.0;
      sum2 += (d - 1000.0) * (d - 1000.0);
      ++n;
    }
  }
  const double mean = sum / n;
  EXPECT_NEAR(mean, 0, 0.05);
  EXPECT_NEAR(std::sqrt(sum2 / n - mean * mean), std::sqrt(4 + 1.0 / 12), 0.08);
}

// The noise grows with the square of the distance: at 2 m it is four times larger.
TEST(Render, NoiseGrowsWithDistanceSquared) {
  Scene s;
  s.platform_distance_mm = 2000;
  s.depth_noise_mm = 2;
  const Rendered r = Render(s);
  double sum2 = 0;
  for (std::uint16_t d : r.depth) sum2 += (d - 2000.0) * (d - 2000.0);
  EXPECT_NEAR(std::sqrt(sum2 / r.depth.size()), 8.0, 0.1);
}

TEST(RenderFrameSet, RegisteredDepthAndColourFrames) {
  Scene s = WithBoxes({Box(400, 300, 200)});
  const dimcam::FrameSet set = dimcam::RenderFrameSet(s, 640, 360, 5);
  const dimcam::DepthFrame depth = set.get_depth_frame();
  const dimcam::VideoFrame color = set.get_color_frame();
  ASSERT_TRUE(depth);
  ASSERT_TRUE(color);
  EXPECT_EQ(depth.get_frame_number(), 5u);
  EXPECT_FLOAT_EQ(depth.get_distance(320, 180), 0.8f);
  EXPECT_EQ(dimcam::VideoStreamProfile(depth.get_profile()).get_intrinsics(),
            dimcam::VideoStreamProfile(color.get_profile()).get_intrinsics());
  EXPECT_EQ(color.get_profile().format(), dimcam::Format::RGB8);
  s.streams = {dimcam::StreamType::Depth};
  EXPECT_FALSE(dimcam::RenderFrameSet(s, 640, 360).get_color_frame());
}

}  // namespace
