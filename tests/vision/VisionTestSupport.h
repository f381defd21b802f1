#pragma once

#include "core/Configuration.h"

namespace visiontest {

// The parameters a test starts from: the built-in defaults, except MAX_AREA, whose default lies
// outside the range a setter accepts and so could not be restored once a test had changed it.
inline ConfigurationStruct BaselineConfiguration() {
  ConfigurationStruct c = DefaultConfiguration();
  c.MAX_AREA = 200000;
  return c;
}

// Applies the baseline, changed by `edit`, to the process-wide parameters.
template <typename Edit>
bool UseConfiguration(Edit edit) {
  ConfigurationStruct c = BaselineConfiguration();
  edit(c);
  return Configuration::getInstance()->SetAll(c);
}
inline bool UseConfiguration() {
  return UseConfiguration([](ConfigurationStruct&) {});
}

}  // namespace visiontest
