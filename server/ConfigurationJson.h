#pragma once

#include <array>
#include <nlohmann/json.hpp>

#include "core/Configuration.h"

namespace servermod {

// The thirteen parameter members in the order of the presence checks, the echo and the
// conversions of SET_CONFIGURATION.
inline constexpr std::array<const char*, 13> kParameterNames = {
    "VISUAL_PRESET",   "DIGITAL_GAIN",    "MIN_DEPTH",  "MAX_DEPTH",    "MIN_AREA",
    "MAX_AREA",        "FOW_WIDTH",       "FOW_HEIGHT", "REGION_WIDTH", "REGION_HEIGHT",
    "REGION_OFFSET_X", "REGION_OFFSET_Y", "DRAW_SIZE"};

// Request values. Int and float parameters take any JSON number, and true/false as 1/0; an int
// given with a fraction is truncated toward zero. Values beyond the target type saturate (to the
// int limits, or to an infinity), so the range checks refuse them instead of the conversion
// wrapping them into range. Anything else throws the library's type_error.
int ParameterToInt(const nlohmann::json& value);
float ParameterToFloat(const nlohmann::json& value);
// Only a JSON boolean; anything else throws the library's type_error.
bool ParameterToBool(const nlohmann::json& value);

// Converts the thirteen members of a request into target, in table order. A failing conversion
// throws and leaves the fields converted before it in target.
void ConvertParameters(const nlohmann::json& request, ConfigurationStruct& target);

// Writes the thirteen parameters into doc: ints as integers, floats widened to double, DRAW_SIZE
// as a boolean.
void WriteParameters(const ConfigurationStruct& config, nlohmann::json& doc);

}  // namespace servermod
