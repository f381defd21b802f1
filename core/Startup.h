#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "core/Configuration.h"
#include "core/CoreParams.h"

namespace core {

// The file the station reads at start-up, relative to its working directory.
inline constexpr const char* kConfigFilePath = "./configs/appconfig.toml";

// Reads the "jsonfiler" table: the nine paths into params (one guarded step: false after printing
// "CORE: Failed to parse toml file!"), then the optional region offset (a second guarded step that
// never fails the start-up) into params and configuration, then the optional table "measurement"
// (params->MeasureMethod; anything unusable is reported in one line and leaves "contour").
bool ReadConfiguration(const std::string& path, CoreParams* params, Configuration* configuration,
                       std::ostream& out);
// The same from text already in memory (used by the tests and the fuzzer).
bool ReadConfigurationText(const std::string& text, CoreParams* params,
                           Configuration* configuration, std::ostream& out);

// True when text is valid UTF-8 without control characters other than tab, line feed and carriage
// return: the only bytes a TOML document may hold.
bool IsTomlText(const std::string& text);

// The deepest nesting of arrays and inline tables outside strings and comments; texts nested deeper
// than kMaxTomlNesting are refused like any unreadable file.
size_t TomlNestingDepth(const std::string& text);
inline constexpr size_t kMaxTomlNesting = 64;

// Applies an offset read as text to the parameters, as the start-up does: stof semantics, then
// truncation to int. Offsets that are not finite or do not fit an int are refused like any other
// offset out of range. Returns whether the parameters took the pair.
bool ApplyRegionOffset(float x, float y, Configuration* configuration);

struct CommandLine {
  bool disable_lidar = false;
  bool disable_scales = false;
};

// Echoes every word with its index and interprets the three mode words.
CommandLine ParseCommandLine(int argc, const char* const* argv, CoreParams* params,
                             std::ostream& out);

}  // namespace core
