#include "server/ServerJson2.h"

#include <unistd.h>

#include "core/CoreParams.h"

namespace servermod {

ServerJson::ServerJson()
    : measurement(Measurement::getInstance()), configuration(Configuration::getInstance()) {}

int ServerJson::Start() {
  CoreParams* coreParams = CoreParams::getInstance();
  RX = coreParams->RequestJsonFilePath;
  TX = coreParams->ResponseJsonFilePath;
  TX_TEMP = coreParams->ResponseTempJsonFilePath;
  CORE = coreParams->AutomesureJsonFilePath;
  CORE_TEMP = coreParams->AutomesureTempJsonFilePath;
  while (!coreParams->APPLICATION_STOP_REQUEST) {
    usleep(100000);
  }
  return 1;
}

}  // namespace servermod
