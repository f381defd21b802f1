// A scene document is either refused with std::invalid_argument or rendered without fault.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera/Processing.h"
#include "camera/Simulated.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dimcam::Scene scene;
  try {
    scene = dimcam::ParseScene(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::invalid_argument&) {
    return 0;
  }
  const dimcam::FrameSet frames = dimcam::RenderFrameSet(scene, 64, 36, size);
  if (const dimcam::DepthFrame depth = frames.get_depth_frame()) {
    dimcam::Colorizer().colorize(dimcam::ThresholdFilter(0.0f, 16.0f).process(depth));
  }
  return 0;
}
