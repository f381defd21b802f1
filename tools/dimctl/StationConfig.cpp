#include "tools/dimctl/StationConfig.h"

#include <filesystem>
#include <stdexcept>
#include <toml.hpp>

namespace dimctl {

namespace fs = std::filesystem;

StationPaths LoadStationPaths(const std::string& configPath) {
  if (!fs::exists(configPath)) {
    throw std::runtime_error("no station configuration at " + configPath +
                             " (run dimctl in the station's folder, or give --config PATH)");
  }
  toml::value data;
  try {
    data = toml::parse(configPath);
  } catch (const std::exception& e) {
    throw std::runtime_error("cannot read " + configPath + ": " + e.what());
  }
  const fs::path configDir = fs::absolute(fs::path(configPath)).parent_path();
  const fs::path workdir = configDir.parent_path();
  auto path = [&](const char* key) {
    std::string value;
    try {
      value = toml::find<std::string>(data, "jsonfiler", key);
    } catch (const std::exception&) {
      throw std::runtime_error(configPath + ": [jsonfiler] has no text value " + key);
    }
    if (value.empty()) throw std::runtime_error(configPath + ": " + key + " is empty");
    const fs::path p(value);
    return (p.is_absolute() ? p : workdir / p).lexically_normal().string();
  };
  StationPaths paths;
  paths.request = path("RequestJsonFilePath");
  paths.response = path("ResponseJsonFilePath");
  paths.automeasure = path("AutomesureJsonFilePath");
  paths.workdir = workdir.lexically_normal().string();
  return paths;
}

}  // namespace dimctl
