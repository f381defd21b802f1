#pragma once

#include <string>

namespace dimctl {

// The exchange files of one station, as absolute or working-folder-relative paths usable from the
// client's own working folder.
struct StationPaths {
  std::string request;
  std::string response;
  std::string automeasure;
  std::string workdir;  // the station's working folder: the parent of the config's folder
};

// Reads the "jsonfiler" table of the station's appconfig.toml. Relative paths in it are relative
// to the station's working folder, which is the folder that holds configs/ (the parent of the
// folder the file is in). Throws std::runtime_error with a message fit for the user.
StationPaths LoadStationPaths(const std::string& configPath);

// The default configuration path: configs/appconfig.toml in the current folder.
inline constexpr const char* kDefaultConfigPath = "configs/appconfig.toml";

}  // namespace dimctl
