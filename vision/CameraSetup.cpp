// Opening the camera: finding a device with depth and colour, starting the stream pipeline and
// applying the visual preset and the depth range.
#include <cxxabi.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "vision/Vision.h"

namespace visionmod {

bool device_with_streams(std::vector<dimcam::StreamType> stream_requests, std::string& out_serial) {
  dimcam::Context ctx;
  const std::vector<dimcam::Device> devices = ctx.query_devices();
  std::vector<dimcam::StreamType> unavailable_streams = stream_requests;
  for (const dimcam::Device& dev : devices) {
    std::map<dimcam::StreamType, bool> found_streams;
    for (const dimcam::StreamType type : stream_requests) {
      found_streams[type] = false;
      for (const dimcam::Sensor& sensor : dev.query_sensors()) {
        for (const dimcam::StreamProfile& profile : sensor.get_stream_profiles()) {
          if (profile.stream_type() != type) continue;
          found_streams[type] = true;
          unavailable_streams.erase(
              std::remove(unavailable_streams.begin(), unavailable_streams.end(), type),
              unavailable_streams.end());
          if (dev.supports(dimcam::CameraInfo::SerialNumber)) {
            out_serial = dev.get_info(dimcam::CameraInfo::SerialNumber);
          }
        }
      }
    }
    const bool all_found = std::all_of(found_streams.begin(), found_streams.end(),
                                       [](const auto& entry) { return entry.second; });
    if (all_found) {
      // A winner without a serial must not inherit the serial of an earlier device that lacked a
      // stream: the pipeline would be bound to that device and fail to start.
      if (!dev.supports(dimcam::CameraInfo::SerialNumber)) out_serial.clear();
      return true;
    }
  }
  std::string missing;
  for (const dimcam::StreamType type : unavailable_streams) {
    if (type == dimcam::StreamType::Depth) {
      missing += "The demo requires Realsense camera with DEPTH sensor\n";
    } else if (type == dimcam::StreamType::Color) {
      missing += "The demo requires Realsense camera with RGB sensor\n";
    }
  }
  std::cerr << missing << std::flush;
  return false;
}

bool Vision::Init() {
  try {
    if (!device_with_streams({dimcam::StreamType::Color, dimcam::StreamType::Depth}, serial)) {
      return false;
    }
    if (!serial.empty()) cfg.enable_device(serial);
    cfg.enable_stream(dimcam::StreamType::Depth, lidarResolutionWidth, lidarResolutionHeight,
                      dimcam::Format::Z16, 6);
    cfg.enable_stream(dimcam::StreamType::Color, -1);
    const dimcam::PipelineProfile profile = pipe.start(cfg);
    const dimcam::Sensor sensor = profile.get_device().query_sensors().at(0);
    sensor.set_option(dimcam::Option::VisualPreset,
                      static_cast<float>(configuration->GetVisualPreset()));
    thrFilter.set_option(dimcam::Option::MinDistance, configuration->GetDepth().first);
    std::ostringstream line;
    line << VISION << "Set MAX_DIST1 = " << configuration->GetDepth().second << '\n';
    std::cout << line.str() << std::flush;
    thrFilter.set_option(dimcam::Option::MaxDistance, configuration->GetDepth().second);
    return true;
  } catch (...) {
    // The type name as the run-time type information gives it (the compiler's mangled form), which
    // also names exceptions that do not derive from std::exception.
    const std::type_info* type = abi::__cxa_current_exception_type();
    std::clog << std::string(type != nullptr ? type->name() : "null") + "\n" << std::flush;
    return false;
  }
}

// Members go in reverse order of declaration; releasing the pipeline ends the streaming.
Vision::~Vision() = default;

}  // namespace visionmod
