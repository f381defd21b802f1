#pragma once

// The options of a sensor that keeps them itself (the described and the simulated cameras): their
// ranges, their current values, and the checks every sensor and processing block makes.

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "camera/Processing.h"
#include "camera/Types.h"

namespace dimcam {

// Throws InvalidValueError, naming `function`, when value lies outside range (NaN included).
void CheckOptionValue(Option option, float value, const OptionRange& range, const char* function);

class OptionTable {
 public:
  // Every option starts at its default; the `fixed` ones accept nothing but their default.
  OptionTable(std::string sensorName, std::map<Option, OptionRange> ranges,
              std::set<Option> fixed = {});

  bool Supports(Option option) const { return ranges_.count(option) > 0; }
  // Throws Error for an option the sensor does not have.
  OptionRange Range(Option option) const;
  float Get(Option option) const;
  // Throws Error for an option the sensor does not have, InvalidValueError for a refused value.
  void Set(Option option, float value);

 private:
  const std::string sensorName_;
  const std::map<Option, OptionRange> ranges_;
  const std::set<Option> fixed_;
  mutable std::mutex mutex_;
  std::map<Option, float> values_;
};

}  // namespace dimcam
