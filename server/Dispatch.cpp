// What a request may ask: the dispatch and the commands that need no other module.
#include <nlohmann/json.hpp>
#include <string>

#include "core/CoreParams.h"
#include "server/ConfigurationJson.h"
#include "server/ServerJson2.h"

namespace servermod {

ServerJson::DispatchResult ServerJson::Dispatch(const nlohmann::json& jf_in,
                                                nlohmann::json& jf_out) {
  if (!jf_in.is_object() || !jf_in.contains("COMMAND")) {
    Say("Correct json not found.");
    jf_out["STATUS"] = false;
    return DispatchResult::Respond;
  }
  // Exact, case-sensitive comparison; a COMMAND that is not a string matches nothing.
  const nlohmann::json& command = jf_in.at("COMMAND");
  if (command == "SET_CONFIGURATION") {
    SET_CONFIGURATION(jf_in, jf_out);
  } else if (command == "GET_CONFIGURATION") {
    GET_CONFIGURATION(jf_out);
  } else if (command == "APPLICATION_STOP") {
    APPLICATION_STOP();
    return DispatchResult::StopLoop;
  } else if (command == "PING") {
    PING(jf_out);
  } else if (command == "MEASURE") {
    MEASURE(jf_out);
  } else if (command == "CALIBRATE") {
    CALIBRATE(jf_out);
  } else {
    Say("Correct json command not found.");
    jf_out["STATUS"] = false;
  }
  return DispatchResult::Respond;
}

void ServerJson::SET_CONFIGURATION(const nlohmann::json& jf_in, nlohmann::json& jf_out) {
  Say("Command is SET_CONFIGURATION.");
  bool status = true;
  for (const char* name : kParameterNames) {
    if (!jf_in.contains(name)) {
      status = false;
      break;
    }
  }
  Line(std::string("Test:") + " Status = " + (status ? "1" : "0"));
  if (!status) {
    jf_out["STATUS"] = false;
    return;
  }
  std::string echo = "Test: 11\n";
  for (const char* name : kParameterNames) {
    echo += std::string("Test:") + " " + name + " = " + jf_in.at(name).dump() + "\n";
  }
  *console << echo;
  // A value of the wrong type throws here: the request fails and nothing is applied.
  ConvertParameters(jf_in, configurationStruct);
  jf_out["STATUS"] = configuration->SetAll(configurationStruct);
}

void ServerJson::GET_CONFIGURATION(nlohmann::json& jf_out) {
  Say("Command is GET_CONFIGURATION.");
  WriteParameters(configuration->GetAll(), jf_out);
}

void ServerJson::APPLICATION_STOP() {
  Say("Command is STOP.");
  CoreParams* coreParams = CoreParams::getInstance();
  coreParams->APPLICATION_STOP_REQUEST = true;
  coreParams->SHUTDOWN_REQUEST = true;
}

void ServerJson::PING(nlohmann::json& jf_out) {
  Say("Command is PING.");
  jf_out["STATUS"] = true;
}

}  // namespace servermod
