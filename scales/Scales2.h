#pragma once

#include "core/Measurement.h"

namespace scalesmod {

// The scales module: answers weight and zeroing requests through the shared handshake flags. Run is
// the body of the scales thread; with a scale it keeps a weighing worker on port 24 (the device
// named by DIMCORE_SCALES_DEVICE when that is set).
class Scales2 {
 public:
  Scales2();
  int Run(bool disable_scales);

  Measurement* measurement;
};

}  // namespace scalesmod
