#pragma once

#include <string>

#include "core/Configuration.h"
#include "core/Measurement.h"

namespace servermod {

// The file-based JSON command server. Start() is the body of its own thread.
class ServerJson {
 public:
  ServerJson();
  ServerJson(ServerJson&&) = default;
  ServerJson& operator=(ServerJson&&) = default;

  int Start();

  std::string RX;
  std::string TX;
  std::string TX_TEMP;
  std::string CORE;
  std::string CORE_TEMP;
  std::string SERVER = "ServerJson: ";
  Measurement* measurement;
  Configuration* configuration;
  ConfigurationStruct configurationStruct{};
  int attemptCount = 1000;
  int maxAttempt = 0;
};

}  // namespace servermod
