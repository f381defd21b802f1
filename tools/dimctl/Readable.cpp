#include "tools/dimctl/Readable.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace dimctl {
namespace {

using nlohmann::json;

enum class Kind { Int, Float, Bool };

struct Parameter {
  const char* name;
  Kind kind;
  double low;
  double high;
  const char* meaning;
};

// The station's parameters and the ranges it accepts (used only to explain a refusal; the station
// decides).
const Parameter kParameters[] = {
    {"VISUAL_PRESET", Kind::Int, 0, 6, "camera visual preset"},
    {"DIGITAL_GAIN", Kind::Int, 0, 2, "kept and reported only"},
    {"MIN_DEPTH", Kind::Float, 0, 200000, "near limit of the depth filter, m"},
    {"MAX_DEPTH", Kind::Float, 0, 200000,
     "far limit (m) or, once calibrated, platform distance (mm)"},
    {"MIN_AREA", Kind::Float, 10, 200000, "smallest box outline, square pixels"},
    {"MAX_AREA", Kind::Float, 10, 200000, "largest box outline, square pixels"},
    {"FOW_WIDTH", Kind::Float, 0, 2000, "horizontal field of view, degrees"},
    {"FOW_HEIGHT", Kind::Float, 0, 2000, "vertical field of view, degrees"},
    {"REGION_WIDTH", Kind::Float, 10, 1920, "measuring region width, mm"},
    {"REGION_HEIGHT", Kind::Float, 10, 1080, "measuring region height, mm"},
    {"REGION_OFFSET_X", Kind::Int, -10000, 10000, "region shift to the right, pixels"},
    {"REGION_OFFSET_Y", Kind::Int, -10000, 10000, "region shift downwards, pixels"},
    {"DRAW_SIZE", Kind::Bool, 0, 0, "size labels on the result picture"},
};

struct Flag {
  const char* name;
  const char* meaning;
};

const Flag kErrorFlags[] = {
    {"MEASURE_ERROR_HANDS_DETECTED", "something reaches into the measuring region (hands?)"},
    {"MEASURE_ERROR_EMPTY_X", "the camera found no length (x is 0)"},
    {"MEASURE_ERROR_EMPTY_Y", "the camera found no width (y is 0)"},
    {"MEASURE_ERROR_EMPTY_Z", "the camera found no height (z is 0)"},
    {"MEASURE_ERROR_EMPTY_W", "the scale reads no weight (0 g)"},
    {"SERVER_ERROR_NO_LIDAR", "the camera module did not answer in time"},
    {"SERVER_ERROR_NO_SCALES", "the scale module did not answer in time"},
};

const Parameter* FindParameter(const std::string& name) {
  for (const Parameter& p : kParameters) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string FormatValue(const json& value) {
  if (value.is_number_float()) return FormatNumber(value.get<double>());
  if (value.is_null()) return "not a number";
  return value.dump();
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string ErrorLines(const json& doc) {
  std::string lines;
  for (const Flag& flag : kErrorFlags) {
    const auto member = doc.find(flag.name);
    if (member != doc.end() && *member == true) {
      lines += std::string("  error: ") + flag.name + ": " + flag.meaning + "\n";
    }
  }
  return lines;
}

std::string Quantity(const json& doc, const char* key, const char* unit, const char* note) {
  const auto member = doc.find(key);
  const std::string value = member == doc.end() ? "missing" : FormatValue(*member) + " " + unit;
  return std::string(key) + "  " + Padded(value, 14) + note + "\n";
}

}  // namespace

std::string RequestFor(Command command) {
  switch (command) {
    case Command::Ping:
      return "{\"COMMAND\":\"PING\"}\n";
    case Command::Measure:
      return "{\"COMMAND\":\"MEASURE\"}\n";
    case Command::Calibrate:
      return "{\"COMMAND\":\"CALIBRATE\"}\n";
    case Command::GetConfig:
      return "{\"COMMAND\":\"GET_CONFIGURATION\"}\n";
    case Command::Stop:
      return "{\"COMMAND\":\"APPLICATION_STOP\"}\n";
    default:
      return "";
  }
}

int ExitCodeFor(const Result& result) {
  switch (result.outcome) {
    case Outcome::Answered: {
      const json doc = json::parse(result.line, nullptr, false);
      if (doc.is_discarded() || !doc.is_object()) return kExitNoAnswer;
      const auto status = doc.find("STATUS");
      if (status == doc.end()) return kExitOk;  // GET_CONFIGURATION carries no STATUS
      return *status == true ? kExitOk : kExitRefused;
    }
    case Outcome::Taken:
      return kExitOk;
    case Outcome::Vanished:
    case Outcome::TimedOut:
      return kExitNoAnswer;
    case Outcome::Interrupted:
      return kExitInterrupted;
    case Outcome::Busy:
    case Outcome::Failed:
      return kExitNotSent;
  }
  return kExitNoAnswer;
}

std::string Describe(Command command, const std::string& responseLine) {
  const json doc = json::parse(responseLine, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    return "The station's answer is not a readable document: " + responseLine;
  }
  const auto statusMember = doc.find("STATUS");
  const bool hasStatus = statusMember != doc.end();
  const bool ok = hasStatus && *statusMember == true;
  std::string text;
  switch (command) {
    case Command::Ping:
      text = ok ? "The station is answering.\n" : "The station answered PING with STATUS false.\n";
      break;
    case Command::Measure:
    case Command::Watch:
      text = Quantity(doc, "X", "mm", "shorter side") + Quantity(doc, "Y", "mm", "longer side") +
             Quantity(doc, "Z", "mm", "height") + Quantity(doc, "W", "g", "weight");
      text += ok ? "Measured.\n"
                 : "Not measured: a module did not answer in time; the values are the last ones "
                   "it gave.\n";
      break;
    case Command::Calibrate:
      text = ok ? "Calibrated.\n"
                : "Calibration failed: the camera or the scale module did not answer in time "
                  "(a station without a scale never confirms a calibration).\n";
      break;
    case Command::GetConfig:
      for (const Parameter& p : kParameters) {
        const auto member = doc.find(p.name);
        const std::string value = member == doc.end() ? "missing" : FormatValue(*member);
        text += Padded(p.name, 17) + Padded(value, 12) + p.meaning + "\n";
      }
      break;
    case Command::SetConfig:
      text = ok ? "Configuration applied.\n" : "Configuration refused; nothing was changed.\n";
      break;
    case Command::Stop:
    case Command::Send:
      text = "STATUS " + (hasStatus ? statusMember->dump() : std::string("absent")) + "\n";
      break;
  }
  return text + ErrorLines(doc);
}

std::string ExplainNoAnswer(const Result& result, const StationPaths& paths,
                            const Options& options) {
  switch (result.outcome) {
    case Outcome::Vanished:
      return "The station deleted the request without answering: it could not read or use the "
             "document (its console shows \"Error occurred: \" and the reason).\n";
    case Outcome::TimedOut:
      if (!result.withdrawn) {
        return "No response within " + FormatNumber(options.timeout.count() / 1000.0) +
               " s. The station has taken the request and is still executing it; its response "
               "will come later (the next dimctl discards it).\n";
      }
      return "No response within " + FormatNumber(options.timeout.count() / 1000.0) +
             " s; the request was withdrawn. Is the station running in " + paths.workdir + "?\n";
    case Outcome::Interrupted:
      return result.withdrawn ? "Interrupted; the request was withdrawn.\n"
                              : "Interrupted; the station is still executing the request.\n";
    case Outcome::Busy:
      return "Another request is already waiting at " + paths.request +
             "; nothing was sent. (If no station is serving it, it is left over: remove it "
             "before the station starts, or the station will execute it.)\n";
    case Outcome::Failed:
      return result.detail + "\n";
    case Outcome::Answered:
    case Outcome::Taken:
      break;
  }
  return "";
}

std::string FormatNumber(double value) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    char whole[32];
    std::snprintf(whole, sizeof whole, "%.0f", value);
    return whole;
  }
  const float single = static_cast<float>(value);
  char text[32];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    if (std::strtof(text, nullptr) == single) break;
  }
  return text;
}

Assignment ParseAssignment(const std::string& word) {
  const size_t equals = word.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw std::invalid_argument("expected KEY=VALUE, got \"" + word + "\"");
  }
  const std::string key = Upper(word.substr(0, equals));
  const std::string text = word.substr(equals + 1);
  const Parameter* p = FindParameter(key);
  if (p == nullptr) {
    std::string names;
    for (const Parameter& q : kParameters) names += std::string(" ") + q.name;
    throw std::invalid_argument("unknown parameter " + key + "; the parameters are:" + names);
  }
  if (p->kind == Kind::Bool) {
    const std::string v = Upper(text);
    if (v == "TRUE" || v == "1" || v == "YES" || v == "ON") return {key, true};
    if (v == "FALSE" || v == "0" || v == "NO" || v == "OFF") return {key, false};
    throw std::invalid_argument(key + " takes true or false, got \"" + text + "\"");
  }
  const char* begin = text.c_str();
  char* end = nullptr;
  if (p->kind == Kind::Int) {
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE) {
      throw std::invalid_argument(key + " takes a whole number, got \"" + text + "\"");
    }
    return {key, v};
  }
  const double v = std::strtod(begin, &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v)) {
    throw std::invalid_argument(key + " takes a number, got \"" + text + "\"");
  }
  return {key, v};
}

json BuildSetConfiguration(const json& base, const std::vector<Assignment>& assignments,
                           bool keepOtherMembers) {
  json request = json::object();
  if (keepOtherMembers && base.is_object()) {
    request = base;
  } else if (base.is_object()) {
    for (const Parameter& p : kParameters) {
      const auto member = base.find(p.name);
      if (member != base.end()) request[p.name] = *member;
    }
  }
  for (const Assignment& a : assignments) request[a.key] = a.value;
  request["COMMAND"] = "SET_CONFIGURATION";
  return request;
}

std::vector<std::string> RefusalHints(const json& request) {
  std::vector<std::string> hints;
  for (const Parameter& p : kParameters) {
    const auto member = request.find(p.name);
    if (member == request.end()) {
      hints.push_back(std::string(p.name) + " is missing");
      continue;
    }
    if (p.kind == Kind::Bool || !member->is_number()) continue;
    double v = member->get<double>();
    // The station compares ints after truncation and floats in single precision.
    if (p.kind == Kind::Int) {
      v = std::trunc(v);
    } else if (std::fabs(v) <= FLT_MAX) {
      v = static_cast<double>(static_cast<float>(v));
    }
    if (!(v >= p.low && v <= p.high)) {
      hints.push_back(std::string(p.name) + " = " + FormatValue(*member) + " is outside " +
                      FormatNumber(p.low) + " to " + FormatNumber(p.high));
    }
  }
  return hints;
}

}  // namespace dimctl
