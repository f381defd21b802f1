#include "core/Startup.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <toml.hpp>

namespace core {
namespace {

// The text in double quotes with quotes, backslashes and control characters escaped, so that a
// value from the file always stays on its one line of the log.
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// The optional table "measurement": the key "method" chooses how boxes are measured. Anything it
// cannot use is reported in one line and leaves the default, "contour"; it never stops the start.
void ReadMeasuringMethod(const toml::value& data, CoreParams* params, std::ostream& out) {
  params->MeasureMethod = MeasuringMethod::Contour;
  if (!data.is_table() || data.as_table().count("measurement") == 0) return;
  const toml::value& table = data.as_table().at("measurement");
  if (!table.is_table()) {
    out << "CORE: \"measurement\" is not a table, measuring method stays \"contour\"\n";
    return;
  }
  if (table.as_table().count("method") == 0) return;
  const toml::value& method = table.as_table().at("method");
  if (!method.is_string()) {
    out << "CORE: measurement.method is not a string, measuring method stays \"contour\"\n";
    return;
  }
  const std::string& name = method.as_string().str;
  if (name == "contour") return;
  if (name == "footprint") {
    params->MeasureMethod = MeasuringMethod::Footprint;
    out << "CORE: Measuring method footprint\n";
    return;
  }
  std::ostringstream line;
  line << "CORE: Unknown measuring method " << Quoted(name)
       << " in measurement.method (\"contour\" or \"footprint\"), measuring method stays "
          "\"contour\"\n";
  out << line.str();
}

bool ReadDocument(const toml::value& data, CoreParams* params, Configuration* configuration,
                  std::ostream& out) {
  const toml::value* jsonfiler = nullptr;
  try {
    const auto& table = toml::find(data, "jsonfiler");
    jsonfiler = &table;
    params->RequestJsonFilePath = toml::find<std::string>(table, "RequestJsonFilePath");
    params->ResponseJsonFilePath = toml::find<std::string>(table, "ResponseJsonFilePath");
    params->RequestTempJsonFilePath = toml::find<std::string>(table, "RequestTempJsonFilePath");
    params->ResponseTempJsonFilePath = toml::find<std::string>(table, "ResponseTempJsonFilePath");
    params->AutomesureTempJsonFilePath =
        toml::find<std::string>(table, "AutomesureTempJsonFilePath");
    params->AutomesureJsonFilePath = toml::find<std::string>(table, "AutomesureJsonFilePath");
    params->MockPngFile = toml::find<std::string>(table, "MockPngFile");
    params->MockPngFile2 = toml::find<std::string>(table, "MockPngFile2");
    params->PhotoPath = toml::find<std::string>(table, "PhotoPath");
  } catch (...) {
    out << "CORE: Failed to parse toml file!\n";
    return false;
  }

  try {
    const std::string textX = toml::find<std::string>(*jsonfiler, "RegionOffsetX");
    const std::string textY = toml::find<std::string>(*jsonfiler, "RegionOffsetY");
    params->RegionOffsetX = std::stof(textX);
    params->RegionOffsetY = std::stof(textY);
    ApplyRegionOffset(params->RegionOffsetX, params->RegionOffsetY, configuration);
    std::ostringstream line;
    line << "CORE: 22Region Offset found X=" << params->RegionOffsetX
         << " Y=" << params->RegionOffsetY << "\n";
    out << line.str();
  } catch (...) {
    out << "CORE: Region Offset not found in toml file, use default!\n";
  }
  ReadMeasuringMethod(data, params, out);
  return true;
}

}  // namespace

bool ApplyRegionOffset(float x, float y, Configuration* configuration) {
  // Converting a float that does not fit an int is undefined; such offsets are out of range anyway.
  auto fits = [](float v) {
    return std::isfinite(v) && static_cast<double>(v) > -2147483649.0 &&
           static_cast<double>(v) < 2147483648.0;
  };
  if (!fits(x) || !fits(y)) return false;
  return configuration->SetRegionOffset({static_cast<int>(x), static_cast<int>(y)});
}

bool IsTomlText(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7f) {
        return false;
      }
      ++i;
      continue;
    }
    // A multi-byte UTF-8 sequence: lead byte, then 1 to 3 continuation bytes, shortest form only,
    // no surrogates, nothing above U+10FFFF.
    size_t length = 0;
    uint32_t code = 0;
    if (byte >= 0xc2 && byte <= 0xdf) {
      length = 2;
      code = byte & 0x1f;
    } else if (byte >= 0xe0 && byte <= 0xef) {
      length = 3;
      code = byte & 0x0f;
    } else if (byte >= 0xf0 && byte <= 0xf4) {
      length = 4;
      code = byte & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = (code << 6) | (next & 0x3f);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))) ||
        (length == 4 && (code < 0x10000 || code > 0x10ffff))) {
      return false;
    }
    i += length;
  }
  return true;
}

size_t TomlNestingDepth(const std::string& text) {
  size_t depth = 0;
  size_t deepest = 0;
  size_t i = 0;
  auto startsWith = [&](size_t at, const char* token) { return text.compare(at, 3, token) == 0; };
  while (i < text.size()) {
    const char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    if (c == '"' || c == '\'') {
      const bool basic = c == '"';
      const char* triple = basic ? "\"\"\"" : "'''";
      const bool multiLine = startsWith(i, triple);
      i += multiLine ? 3 : 1;
      while (i < text.size()) {
        if (basic && text[i] == '\\') {
          i += 2;
        } else if (multiLine ? startsWith(i, triple) : text[i] == c) {
          i += multiLine ? 3 : 1;
          break;
        } else if (!multiLine && text[i] == '\n') {
          break;
        } else {
          ++i;
        }
      }
      continue;
    }
    if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
    ++i;
  }
  return deepest;
}

bool ReadConfiguration(const std::string& path, CoreParams* params, Configuration* configuration,
                       std::ostream& out) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  if (!file.is_open() || file.bad()) {
    out << "CORE: Failed to parse toml file!\n";
    return false;
  }
  return ReadConfigurationText(content.str(), params, configuration, out);
}

bool ReadConfigurationText(const std::string& text, CoreParams* params,
                           Configuration* configuration, std::ostream& out) {
  toml::value data;
  try {
    // The TOML reader is only given text that TOML allows at all: it misreads some malformed
    // byte sequences past the end of its buffer.
    if (!IsTomlText(text)) throw std::invalid_argument("not TOML text");
    // It also recurses once per nested array or inline table, so deep nesting would overflow
    // the stack; a configuration file has no use for it.
    if (TomlNestingDepth(text) > kMaxTomlNesting) throw std::invalid_argument("nested too deep");
    std::istringstream in(text);
    data = toml::parse(in, "appconfig.toml");
  } catch (...) {
    out << "CORE: Failed to parse toml file!\n";
    return false;
  }
  return ReadDocument(data, params, configuration, out);
}

CommandLine ParseCommandLine(int argc, const char* const* argv, CoreParams* params,
                             std::ostream& out) {
  CommandLine result;
  for (int count = 0; count < argc; ++count) {
    const char* word = argv[count];
    std::ostringstream lines;
    lines << count << " " << word << "\n";
    if (std::strcmp(word, "disable_lidar") == 0) {
      lines << "CORE: Disabling lidar\n";
      result.disable_lidar = true;
    }
    if (std::strcmp(word, "disable_scales") == 0) {
      lines << "CORE: Disabling scales\n";
      result.disable_scales = true;
    }
    if (std::strcmp(word, "disable_automeasure") == 0) {
      lines << "CORE: Mode is default\n";
      params->Automeasure = false;
    } else {
      lines << "CORE: Mode is automeasure\n";
    }
    out << lines.str();
  }
  return result;
}

}  // namespace core
