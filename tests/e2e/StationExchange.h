#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/StationProcess.h"

// Helpers of the system tests that talk to the real station through its exchange files.
namespace e2e {

using namespace std::chrono_literals;

// A station without devices that measures only when asked, so its console holds only what the
// requests cause.
extern const std::vector<std::string> kQuietStation;
// A station without devices in automeasure mode.
extern const std::vector<std::string> kNoDevices;

// Responses of a fresh station without devices.
extern const std::string kPingResponse;
extern const std::string kStatusFalseResponse;
extern const std::string kMeasureResponse;
extern const std::string kDefaultConfiguration;

// Sends a request as a client must (stale response removed, request made to appear whole by a
// rename) and returns the response, deleting it; "" when none came within the timeout.
std::string Ask(const testsupport::RunFolder& run, const std::string& request,
                std::chrono::milliseconds timeout = 10s);

// Sends a request the station is expected to drop, and waits until it has: the request file is
// gone and one more "Error occurred: " line is on the console.
bool SendUnanswerable(const testsupport::RunFolder& run, testsupport::StationProcess& station,
                      const std::string& request);

// "" when every line of the parts occurs in text, each after the one before; else the first line
// missing. Lines are matched one by one because other threads may print between them.
std::string MissingInOrder(const std::string& text, const std::vector<std::string>& parts);

// The console is read through a pipe and may lag behind the files: waits until MissingInOrder on
// the station's standard output is "" or the timeout passes, and returns its last result.
std::string WaitForInOrder(testsupport::StationProcess& station,
                           const std::vector<std::string>& parts,
                           std::chrono::milliseconds timeout = 10s);

// Replaces every "{RX}" in text by the request path.
std::string WithRequestPath(std::string text, const testsupport::RunFolder& run);

}  // namespace e2e
