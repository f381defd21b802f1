#pragma once

#include <memory>

#include "camera/Backend.h"

namespace dimcam {

// True when this build includes the librealsense2 backend.
bool RealSenseBuiltIn();
// The librealsense2 backend, or nullptr when this build does not include it.
std::shared_ptr<Backend> MakeRealSenseBackend();

}  // namespace dimcam
