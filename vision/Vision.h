#pragma once

#include <string>
#include <vector>

#include "camera/Camera.h"
#include "core/Configuration.h"
#include "core/CoreParams.h"
#include "core/ErrorParser.h"
#include "core/Measurement.h"

namespace visionmod {

// The depth-camera module. Run() is the frame loop on the main thread.
class Vision {
 public:
  Vision();
  ~Vision();
  Vision(const Vision&) = delete;
  Vision& operator=(const Vision&) = delete;
  int Run(bool disable_lidar);
  // Finds the camera, starts depth and colour, applies the visual preset and the depth range.
  bool Init();

  ErrorParser errror_parser;
  bool handsCheckingEnabled = true;
  std::string VISION = "Vision: ";
  Measurement* measurement;
  CoreParams* coreParams;
  Configuration* configuration;
  int lidarResolutionWidth = 1280;
  int lidarResolutionHeight = 720;
  double regionWidthInPx = 0;
  double regionHeightInPx = 0;

  dimcam::Pipeline pipe;  // on a fresh context; started by Init
  dimcam::Config cfg;
  std::string serial;
  dimcam::ThresholdFilter thrFilter{0.15f, 4.0f};
  dimcam::Colorizer colorFilter;

 private:
  int RunMock();
  int RunCamera();
};

// True when one connected device offers every requested stream type; out_serial then holds its
// serial number (empty when it reports none). Otherwise prints on standard error which of depth and
// colour no device offers.
bool device_with_streams(std::vector<dimcam::StreamType> stream_requests, std::string& out_serial);

}  // namespace visionmod
