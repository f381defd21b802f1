#pragma once

#include "core/Measurement.h"

namespace scalesmod {

// The scales module: answers weight and zeroing requests through the shared handshake flags.
class Scales2 {
 public:
  Scales2();
  int Run(bool disable_scales);

  Measurement* measurement;
};

}  // namespace scalesmod
