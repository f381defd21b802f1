#include "bench/vision/BenchScenes.h"

#include <stdlib.h>
#include <sys/resource.h>

#include <cstdlib>
#include <stdexcept>

#include "core/Configuration.h"
#include "core/CoreParams.h"

namespace visionbench {

FramePair Render(const dimcam::Scene& scene, int width, int height,
                 unsigned long long frameNumber) {
  const dimcam::FrameSet frames = dimcam::RenderFrameSet(scene, width, height, frameNumber);
  const dimcam::ThresholdFilter filter(0.29f, (scene.platform_distance_mm - 30) / 1000);
  FramePair pair;
  pair.depth = dimcam::DepthFrame(filter.process(frames.get_depth_frame()));
  pair.color = frames.get_color_frame();
  return pair;
}

std::string PrepareStation(float platformMm) {
  static dimcam::ScopedBackendFactory noCamera(dimcam::MakeEmptyBackend());
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base ? base : "/tmp") + "/dimcore-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  const std::string dir = pattern;
  setenv("DIMCORE_SNAPSHOT_DIR", dir.c_str(), 1);
  CoreParams::getInstance()->PhotoPath = dir + "/photo.png";
  Configuration* configuration = Configuration::getInstance();
  configuration->SetDepth({configuration->GetDepth().first, platformMm});
  return dir;
}

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace visionbench
