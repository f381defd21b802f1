#include "tests/e2e/StationExchange.h"

#include <cstdio>

namespace e2e {

using testsupport::FileExists;

const std::vector<std::string> kQuietStation = {"disable_lidar", "disable_scales",
                                                "disable_automeasure"};
const std::vector<std::string> kNoDevices = {"disable_lidar", "disable_scales"};

namespace {
const std::string kNoErrors =
    "\"MEASURE_ERROR_EMPTY_W\":false,\"MEASURE_ERROR_EMPTY_X\":false,"
    "\"MEASURE_ERROR_EMPTY_Y\":false,\"MEASURE_ERROR_EMPTY_Z\":false,"
    "\"MEASURE_ERROR_HANDS_DETECTED\":false,\"SERVER_ERROR_NO_LIDAR\":false,"
    "\"SERVER_ERROR_NO_SCALES\":false";
}

const std::string kPingResponse =
    "{\"MEASURE_ERROR_EMPTY_W\":false,\"MEASURE_ERROR_EMPTY_X\":false,\"MEASURE_ERROR_EMPTY_Y\":"
    "false,\"MEASURE_ERROR_EMPTY_Z\":false,\"MEASURE_ERROR_HANDS_DETECTED\":false,\"SERVER_ERROR_"
    "NO_LIDAR\":false,\"SERVER_ERROR_NO_SCALES\":false,\"STATUS\":true}\n";
const std::string kStatusFalseResponse = "{" + kNoErrors + ",\"STATUS\":false}\n";
const std::string kMeasureResponse =
    "{" + kNoErrors +
    ",\"STATUS\":true,\"W\":1234567.0,\"X\":123000.0,\"Y\":456000.0,\"Z\":789000.0}\n";
const std::string kDefaultConfiguration =
    "{\"DIGITAL_GAIN\":2,\"DRAW_SIZE\":true,\"FOW_HEIGHT\":40.0,\"FOW_WIDTH\":65.0,"
    "\"MAX_AREA\":200000000.0,\"MAX_DEPTH\":16.0,\"MEASURE_ERROR_EMPTY_W\":false,"
    "\"MEASURE_ERROR_EMPTY_X\":false,\"MEASURE_ERROR_EMPTY_Y\":false,"
    "\"MEASURE_ERROR_EMPTY_Z\":false,\"MEASURE_ERROR_HANDS_DETECTED\":false,\"MIN_AREA\":100.0,"
    "\"MIN_DEPTH\":0.28999999165534973,\"REGION_HEIGHT\":550.0,\"REGION_OFFSET_X\":0,"
    "\"REGION_OFFSET_Y\":40,\"REGION_WIDTH\":680.0,\"SERVER_ERROR_NO_LIDAR\":false,"
    "\"SERVER_ERROR_NO_SCALES\":false,\"VISUAL_PRESET\":3}\n";

std::string Ask(const testsupport::RunFolder& run, const std::string& request,
                std::chrono::milliseconds timeout) {
  std::remove(run.response().c_str());
  testsupport::WriteFileAtomically(run.request(), request);
  if (!testsupport::WaitUntil([&] { return FileExists(run.response()); }, timeout)) return "";
  const std::string response = testsupport::ReadFile(run.response());
  std::remove(run.response().c_str());
  return response;
}

bool SendUnanswerable(const testsupport::RunFolder& run, testsupport::StationProcess& station,
                      const std::string& request) {
  const size_t errorsBefore = testsupport::CountOccurrences(station.Stdout(), "Error occurred: ");
  std::remove(run.response().c_str());
  testsupport::WriteFileAtomically(run.request(), request);
  return station.WaitForStdoutCount("Error occurred: ", errorsBefore + 1, 10s) &&
         testsupport::WaitUntil([&] { return !FileExists(run.request()); }, 10s);
}

std::string MissingInOrder(const std::string& text, const std::vector<std::string>& parts) {
  // Other threads may print between any two lines, so each line is looked for on its own.
  std::vector<std::string> lines;
  for (const std::string& part : parts) {
    for (size_t begin = 0; begin < part.size();) {
      const size_t end = part.find('\n', begin);
      const size_t next = end == std::string::npos ? part.size() : end + 1;
      lines.push_back(part.substr(begin, next - begin));
      begin = next;
    }
  }
  size_t at = 0;
  for (const std::string& part : lines) {
    const size_t found = text.find(part, at);
    if (found == std::string::npos) return part;
    at = found + part.size();
  }
  return "";
}

std::string WaitForInOrder(testsupport::StationProcess& station,
                           const std::vector<std::string>& parts,
                           std::chrono::milliseconds timeout) {
  std::string missing;
  testsupport::WaitUntil(
      [&] {
        missing = MissingInOrder(station.Stdout(), parts);
        return missing.empty();
      },
      timeout);
  return missing;
}

std::string WithRequestPath(std::string text, const testsupport::RunFolder& run) {
  const std::string placeholder = "{RX}";
  for (size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at)) {
    text.replace(at, placeholder.size(), run.request());
  }
  return text;
}

}  // namespace e2e
