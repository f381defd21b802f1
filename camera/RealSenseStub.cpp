// Built when librealsense2 is not available: the layer has no librealsense2 backend.
#include "camera/RealSense.h"

namespace dimcam {

bool RealSenseBuiltIn() { return false; }
std::shared_ptr<Backend> MakeRealSenseBackend() { return nullptr; }

}  // namespace dimcam
