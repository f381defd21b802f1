#include "camera/OptionTable.h"

#include <utility>

namespace dimcam {
namespace {

std::string Arguments(Option option, float value) {
  return std::string("option:") + ToString(option) + ", value:" + std::to_string(value);
}

}  // namespace

void CheckOptionValue(Option option, float value, const OptionRange& range, const char* function) {
  if (!(value >= range.min && value <= range.max)) {
    throw InvalidValueError(std::string("value ") + std::to_string(value) + " of option " +
                                ToString(option) + " is outside " + std::to_string(range.min) +
                                ".." + std::to_string(range.max),
                            function, Arguments(option, value));
  }
}

OptionTable::OptionTable(std::string sensorName, std::map<Option, OptionRange> ranges,
                         std::set<Option> fixed)
    : sensorName_(std::move(sensorName)), ranges_(std::move(ranges)), fixed_(std::move(fixed)) {
  for (const auto& [option, range] : ranges_) values_[option] = range.def;
}

OptionRange OptionTable::Range(Option option) const {
  const auto it = ranges_.find(option);
  if (it == ranges_.end()) {
    throw Error("sensor " + sensorName_ + " has no option " + ToString(option), "get_option_range",
                std::string("option:") + ToString(option));
  }
  return it->second;
}

float OptionTable::Get(Option option) const {
  Range(option);
  std::lock_guard<std::mutex> lock(mutex_);
  return values_.at(option);
}

void OptionTable::Set(Option option, float value) {
  const OptionRange range = Range(option);
  CheckOptionValue(option, value, range, "set_option");
  if (fixed_.count(option) > 0 && value != range.def) {
    throw InvalidValueError(
        std::string("option ") + ToString(option) + " is fixed at " + std::to_string(range.def),
        "set_option", Arguments(option, value));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  values_[option] = value;
}

}  // namespace dimcam
