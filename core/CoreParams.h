#pragma once

#include <atomic>
#include <string>

#include "core/Singleton.h"

// How the vision module turns the chosen object into sizes: "contour" places the outline's
// rectangle at the depth of its centre; "footprint" fits the rectangle to the object's points, each
// placed in space at its own depth.
enum class MeasuringMethod { Contour, Footprint };

// What the configuration file says, plus the process-wide stop, power-off and automeasure switches.
// The paths and offsets are written once by the entry point before any module thread starts.
class CoreParams : public Singleton<CoreParams> {
 public:
  static CoreParams* getInstance() {
    static CoreParams instance;
    return &instance;
  }

  std::string RequestJsonFilePath;
  std::string ResponseJsonFilePath;
  std::string AutomesureJsonFilePath;
  std::string RequestTempJsonFilePath;
  std::string ResponseTempJsonFilePath;
  std::string AutomesureTempJsonFilePath;
  std::string MockPngFile;
  std::string MockPngFile2;
  std::string PhotoPath;
  float RegionOffsetX = 0;
  float RegionOffsetY = 0;
  MeasuringMethod MeasureMethod = MeasuringMethod::Contour;
  std::atomic<bool> APPLICATION_STOP_REQUEST{false};
  std::atomic<bool> SHUTDOWN_REQUEST{false};
  std::atomic<bool> Automeasure{true};

 private:
  CoreParams() = default;
};
