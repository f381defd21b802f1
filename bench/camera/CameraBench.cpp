// Frames per second the simulated camera renders at 1280x720, and milliseconds per frame of the
// threshold filter and the colorizer. The station streams depth at 6 fps; the simulator should
// render at least 30 so that it never holds the camera back.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "camera/Camera.h"

namespace {

constexpr int kW = 1280;
constexpr int kH = 720;

dimcam::Scene BoxesScene(int boxes, float noise, float holes) {
  dimcam::Scene s;
  const float centers[3][2] = {{0, 0}, {-330, 120}, {320, -130}};
  for (int i = 0; i < boxes; ++i) {
    dimcam::SceneBox b;
    b.size_mm[0] = 400 - 80 * i;
    b.size_mm[1] = 300 - 50 * i;
    b.size_mm[2] = 200 + 40 * i;
    b.center_mm[0] = centers[i][0];
    b.center_mm[1] = centers[i][1];
    b.yaw_deg = 30.0f * i + 15;
    s.boxes.push_back(b);
  }
  s.depth_noise_mm = noise;
  s.hole_fraction = holes;
  return s;
}

void PerFrame(benchmark::State& state) {
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Depth and registered colour of one frame, as the simulated camera delivers them.
void BM_RenderDepthAndColour(benchmark::State& state) {
  const dimcam::Scene scene = BoxesScene(static_cast<int>(state.range(0)),
                                         state.range(1) ? 1.0f : 0.0f, state.range(1) ? 0.01f : 0);
  const dimcam::SceneRenderer renderer(dimcam::PinholeIntrinsics(kW, kH, 65, 40));
  std::vector<std::uint16_t> depth(static_cast<std::size_t>(kW) * kH);
  std::vector<std::uint8_t> rgb(depth.size() * 3);
  unsigned long long frame = 0;
  for (auto _ : state) {
    renderer.Render(scene, ++frame, depth.data(), rgb.data());
    benchmark::DoNotOptimize(depth.data());
    benchmark::DoNotOptimize(rgb.data());
  }
  PerFrame(state);
}
BENCHMARK(BM_RenderDepthAndColour)
    ->ArgNames({"boxes", "noise"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Args({1, 1})
    ->Args({3, 1})
    ->Unit(benchmark::kMillisecond);

// The whole frame set as the backend builds it (rendering plus the frame buffers).
void BM_RenderFrameSet(benchmark::State& state) {
  const dimcam::Scene scene = BoxesScene(static_cast<int>(state.range(0)), 1.0f, 0.01f);
  unsigned long long frame = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dimcam::RenderFrameSet(scene, kW, kH, ++frame));
  }
  PerFrame(state);
}
BENCHMARK(BM_RenderFrameSet)->ArgName("boxes")->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

dimcam::DepthFrame NoisyFrame() {
  return dimcam::RenderFrameSet(BoxesScene(3, 1.0f, 0.01f), kW, kH).get_depth_frame();
}

void BM_ThresholdFilter(benchmark::State& state) {
  const dimcam::DepthFrame depth = NoisyFrame();
  const dimcam::ThresholdFilter filter(0.29f, 0.97f);
  for (auto _ : state) benchmark::DoNotOptimize(filter.process(depth));
}
BENCHMARK(BM_ThresholdFilter)->Unit(benchmark::kMillisecond);

void BM_Colorizer(benchmark::State& state) {
  const dimcam::DepthFrame depth = NoisyFrame();
  dimcam::Colorizer colorizer;
  colorizer.set_option(dimcam::Option::HistogramEqualizationEnabled,
                       static_cast<float>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(colorizer.colorize(depth));
}
BENCHMARK(BM_Colorizer)->ArgName("equalize")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
