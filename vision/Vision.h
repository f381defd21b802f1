#pragma once

#include <string>

#include "core/Configuration.h"
#include "core/CoreParams.h"
#include "core/ErrorParser.h"
#include "core/Measurement.h"

namespace visionmod {

// The depth-camera module. Run() is the frame loop on the main thread.
class Vision {
 public:
  Vision();
  int Run(bool disable_lidar);

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

 private:
  int RunMock();
  int RunCamera();
};

}  // namespace visionmod
