#include "server/ConfigurationJson.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace servermod {
namespace {

using nlohmann::json;

// The value as a double, accepting booleans as 1 and 0 the way the request format always has.
double NumberOf(const json& value) {
  switch (value.type()) {
    case json::value_t::boolean:
      return value.get<bool>() ? 1.0 : 0.0;
    case json::value_t::number_integer:
      return static_cast<double>(value.get<std::int64_t>());
    case json::value_t::number_unsigned:
      return static_cast<double>(value.get<std::uint64_t>());
    case json::value_t::number_float:
      return value.get<double>();
    default:
      return value.get<double>();  // throws "type must be number, but is ..."
  }
}

}  // namespace

int ParameterToInt(const json& value) {
  const double whole = std::trunc(NumberOf(value));
  if (whole >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  if (whole <= static_cast<double>(std::numeric_limits<int>::min())) {
    return std::numeric_limits<int>::min();
  }
  return static_cast<int>(whole);
}

float ParameterToFloat(const json& value) {
  const double number = NumberOf(value);
  // Converting a double beyond the float range is undefined; such a value is out of every range.
  if (number > static_cast<double>(std::numeric_limits<float>::max())) {
    return std::numeric_limits<float>::infinity();
  }
  if (number < -static_cast<double>(std::numeric_limits<float>::max())) {
    return -std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(number);
}

bool ParameterToBool(const json& value) { return value.get<bool>(); }

void ConvertParameters(const json& request, ConfigurationStruct& target) {
  target.VISUAL_PRESET = ParameterToInt(request.at("VISUAL_PRESET"));
  target.DIGITAL_GAIN = ParameterToInt(request.at("DIGITAL_GAIN"));
  target.MIN_DEPTH = ParameterToFloat(request.at("MIN_DEPTH"));
  target.MAX_DEPTH = ParameterToFloat(request.at("MAX_DEPTH"));
  target.MIN_AREA = ParameterToFloat(request.at("MIN_AREA"));
  target.MAX_AREA = ParameterToFloat(request.at("MAX_AREA"));
  target.FOW_WIDTH = ParameterToFloat(request.at("FOW_WIDTH"));
  target.FOW_HEIGHT = ParameterToFloat(request.at("FOW_HEIGHT"));
  target.REGION_WIDTH = ParameterToFloat(request.at("REGION_WIDTH"));
  target.REGION_HEIGHT = ParameterToFloat(request.at("REGION_HEIGHT"));
  target.REGION_OFFSET_X = ParameterToInt(request.at("REGION_OFFSET_X"));
  target.REGION_OFFSET_Y = ParameterToInt(request.at("REGION_OFFSET_Y"));
  target.DRAW_SIZE = ParameterToBool(request.at("DRAW_SIZE"));
}

void WriteParameters(const ConfigurationStruct& config, json& doc) {
  doc["VISUAL_PRESET"] = config.VISUAL_PRESET;
  doc["DIGITAL_GAIN"] = config.DIGITAL_GAIN;
  doc["MIN_DEPTH"] = static_cast<double>(config.MIN_DEPTH);
  doc["MAX_DEPTH"] = static_cast<double>(config.MAX_DEPTH);
  doc["MIN_AREA"] = static_cast<double>(config.MIN_AREA);
  doc["MAX_AREA"] = static_cast<double>(config.MAX_AREA);
  doc["FOW_WIDTH"] = static_cast<double>(config.FOW_WIDTH);
  doc["FOW_HEIGHT"] = static_cast<double>(config.FOW_HEIGHT);
  doc["REGION_WIDTH"] = static_cast<double>(config.REGION_WIDTH);
  doc["REGION_HEIGHT"] = static_cast<double>(config.REGION_HEIGHT);
  doc["REGION_OFFSET_X"] = config.REGION_OFFSET_X;
  doc["REGION_OFFSET_Y"] = config.REGION_OFFSET_Y;
  doc["DRAW_SIZE"] = config.DRAW_SIZE;
}

}  // namespace servermod
