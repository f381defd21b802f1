// Bytes as the request file -> parse (with the size limit) -> dispatch on a command server whose
// module waits are answered at once -> response document.
//
// Every input must end in a response or a clean refusal (a parse error, the size limit, a value of
// the wrong type), never in a crash or a hang, and the measurement parameters are never left half
// applied: afterwards they are either the old record or a new one that passes every range check,
// and a new one only when the response says "STATUS" true.
//
// An input whose first byte is 0xFF is padded with blanks to just under or just over the size
// limit (the second byte chooses which), so the limit is exercised without megabyte inputs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>

#include "core/Configuration.h"
#include "core/CoreParams.h"
#include "core/Measurement.h"
#include "server/ExchangeFiles.h"
#include "server/ServerJson2.h"

namespace {

using nlohmann::json;

// A record every range check accepts, restored before each input so runs repeat exactly.
ConfigurationStruct Baseline() {
  ConfigurationStruct s = DefaultConfiguration();
  s.MAX_AREA = 200000.0f;
  return s;
}

bool Same(const ConfigurationStruct& a, const ConfigurationStruct& b) {
  return a.VISUAL_PRESET == b.VISUAL_PRESET && a.DIGITAL_GAIN == b.DIGITAL_GAIN &&
         std::memcmp(&a.MIN_DEPTH, &b.MIN_DEPTH, sizeof(float)) == 0 &&
         std::memcmp(&a.MAX_DEPTH, &b.MAX_DEPTH, sizeof(float)) == 0 &&
         std::memcmp(&a.MIN_AREA, &b.MIN_AREA, sizeof(float)) == 0 &&
         std::memcmp(&a.MAX_AREA, &b.MAX_AREA, sizeof(float)) == 0 &&
         std::memcmp(&a.FOW_WIDTH, &b.FOW_WIDTH, sizeof(float)) == 0 &&
         std::memcmp(&a.FOW_HEIGHT, &b.FOW_HEIGHT, sizeof(float)) == 0 &&
         std::memcmp(&a.REGION_WIDTH, &b.REGION_WIDTH, sizeof(float)) == 0 &&
         std::memcmp(&a.REGION_HEIGHT, &b.REGION_HEIGHT, sizeof(float)) == 0 &&
         a.REGION_OFFSET_X == b.REGION_OFFSET_X && a.REGION_OFFSET_Y == b.REGION_OFFSET_Y &&
         a.DRAW_SIZE == b.DRAW_SIZE;
}

[[noreturn]] void Fail(const char* what) {
  std::cerr << "fuzz_request: " << what << "\n";
  std::abort();
}

struct Harness {
  servermod::ServerJson server;
  std::ostringstream console;
  std::ostringstream errors;
  int pauses = 0;

  Harness() {
    server.console = &console;
    server.errors = &errors;
    // The modules answer during the first pause of every wait. A wait that pauses more than a
    // few times means a condition that can never hold: a hang in the station.
    Measurement* m = server.measurement;
    server.waitPause = [this, m] {
      if (++pauses > 8) Fail("a wait did not end although every module answered");
      m->x = 400.0f;
      m->y = 250.0f;
      m->z = 120.0f;
      m->weight = 1250.0f;
      m->is_measured.store(true, std::memory_order_release);
      m->is_scaled.store(true, std::memory_order_release);
      m->is_calibrated.store(true, std::memory_order_release);
      m->is_scales_calibrated.store(true, std::memory_order_release);
    };
  }
};

Harness& TheHarness() {
  static Harness* harness = new Harness;  // never destroyed: the fuzzer may exit from anywhere
  return *harness;
}

std::string Bytes(const uint8_t* data, size_t size) {
  if (size >= 2 && data[0] == 0xFF) {
    // Just under (second byte below 128) or just over the limit.
    std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const size_t total = servermod::kMaxRequestBytes - 128 + data[1];
    if (bytes.size() < total) bytes.append(total - bytes.size(), ' ');
    return bytes;
  }
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness& h = TheHarness();
  Configuration* configuration = h.server.configuration;
  CoreParams* coreParams = CoreParams::getInstance();
  if (!configuration->SetAll(Baseline())) Fail("the baseline record is refused");
  const ConfigurationStruct before = configuration->GetAll();
  coreParams->APPLICATION_STOP_REQUEST = false;
  coreParams->SHUTDOWN_REQUEST = false;
  h.console.str("");
  h.pauses = 0;
  h.server.errorFlg = false;

  const std::string bytes = Bytes(data, size);
  json request;
  try {
    request = servermod::ParseRequest(bytes);
  } catch (const json::exception&) {
    // Not JSON, or a number beyond a double (out_of_range): refused like any unreadable request.
    if (bytes.size() > servermod::kMaxRequestBytes) Fail("an oversized request was parsed");
    return 0;
  } catch (const std::length_error&) {
    if (bytes.size() <= servermod::kMaxRequestBytes) Fail("a request within the limit refused");
    return 0;  // refused: too large
  }
  if (bytes.size() > servermod::kMaxRequestBytes) Fail("an oversized request was parsed");

  json response = json::object();
  servermod::ServerJson::DispatchResult result{};
  bool refused = false;
  try {
    result = h.server.Dispatch(request, response);
  } catch (const json::exception&) {
    refused = true;  // a value of the wrong type: the request fails without a response
  }

  const ConfigurationStruct after = configuration->GetAll();
  const bool changed = !Same(before, after);
  if (changed && !configuration->SetAll(after)) Fail("parameters half applied or out of range");

  if (refused) {
    if (changed) Fail("a refused request changed the parameters");
    return 0;
  }
  if (result == servermod::ServerJson::DispatchResult::StopLoop) {
    if (!coreParams->APPLICATION_STOP_REQUEST || !coreParams->SHUTDOWN_REQUEST) {
      Fail("a stop that set no stop flags");
    }
    if (request.at("COMMAND") != "APPLICATION_STOP") Fail("the loop stopped on another command");
    if (changed) Fail("a stop changed the parameters");
    return 0;
  }
  if (coreParams->APPLICATION_STOP_REQUEST) Fail("stop flag set by a command that is answered");

  const bool isGetConfiguration = request.is_object() && request.contains("COMMAND") &&
                                  request.at("COMMAND") == "GET_CONFIGURATION";
  if (!isGetConfiguration && (!response.contains("STATUS") || !response["STATUS"].is_boolean())) {
    Fail("a response without STATUS");
  }
  if (changed && response["STATUS"] != true) Fail("parameters changed but STATUS is not true");

  h.server.AddErrorFlags(response);
  const std::string line = servermod::DocumentLine(response);
  if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) {
    Fail("the response is not one line");
  }
  if (json::parse(line) != response) Fail("the response does not read back as written");
  return 0;
}
