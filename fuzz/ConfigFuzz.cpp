// Bytes as configs/appconfig.toml -> the start-up reading: either the configuration is taken, or
// exactly the one failure line is printed. Nothing may crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/Configuration.h"
#include "core/CoreParams.h"
#include "core/Startup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::ostringstream out;
  Configuration* configuration = Configuration::getInstance();
  configuration->SetRegionOffset({0, 40});
  const bool ok = core::ReadConfigurationText(text, CoreParams::getInstance(), configuration, out);
  const std::string printed = out.str();
  if (!ok) {
    if (printed != "CORE: Failed to parse toml file!\n") std::abort();
    return 0;
  }
  const bool found = printed.rfind("CORE: 22Region Offset found X=", 0) == 0;
  const bool missing = printed == "CORE: Region Offset not found in toml file, use default!\n";
  if (!found && !missing) std::abort();
  const auto offset = configuration->GetRegionOffset();
  if (offset.first < -10000 || offset.first > 10000 || offset.second < -10000 ||
      offset.second > 10000) {
    std::abort();
  }
  return 0;
}
