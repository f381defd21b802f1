// The poll loop of the command server and the life cycle of the request and response files.
#include "server/ServerJson2.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <nlohmann/json.hpp>

#include "core/CoreParams.h"
#include "server/ExchangeFiles.h"

namespace servermod {

namespace {
constexpr useconds_t kPauseMicroseconds = 100000;
}

ServerJson::ServerJson()
    : measurement(Measurement::getInstance()),
      configuration(Configuration::getInstance()),
      console(&std::cout),
      errors(&std::cerr) {}

void ServerJson::LoadPaths() {
  const CoreParams* coreParams = CoreParams::getInstance();
  RX = coreParams->RequestJsonFilePath;
  TX = coreParams->ResponseJsonFilePath;
  TX_TEMP = coreParams->ResponseTempJsonFilePath;
  CORE = coreParams->AutomesureJsonFilePath;
  CORE_TEMP = coreParams->AutomesureTempJsonFilePath;
}

int ServerJson::Start() {
  CoreParams* coreParams = CoreParams::getInstance();
  LoadPaths();
  while (!coreParams->APPLICATION_STOP_REQUEST) {
    std::string failure;
    try {
      const CycleEnd end = PollCycle();
      if (end == CycleEnd::Stopped || end == CycleEnd::ResponseLost) return 1;
      continue;
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown exception";
    }
    // Outside a request's handling nothing is expected to throw: stop the whole station rather
    // than run on without a command server nobody would notice is gone.
    coreParams->APPLICATION_STOP_REQUEST = true;
    *console << (SERVER + RX + " CRITICAL ERROR. MODULE CLOSING.\n" + "Error occurred: " + failure +
                 "\n");
    return 1;
  }
  return 1;
}

ServerJson::CycleEnd ServerJson::PollCycle() {
  measurement->SERVER_ERROR_NO_LIDAR = false;
  measurement->SERVER_ERROR_NO_SCALES = false;
  exist = false;
  errorFlg = false;
  attempt = 0;

  // The probe stays open for the whole cycle; the request is read through it.
  OpenedFile probe(RX);
  if (probe.isOpen()) {
    exist = true;
    Say(RX + " file exists.");
  }

  if (exist) {
    nlohmann::json jf_out = nlohmann::json::object();
    std::string failure;
    bool failed = true;
    try {
      const nlohmann::json jf_in = ParseRequest(probe.ReadRequestBytes());
      if (Dispatch(jf_in, jf_out) == DispatchResult::StopLoop) return CycleEnd::Stopped;
      failed = false;
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown exception";
    }
    if (failed) {
      const bool deleted = std::remove(RX.c_str()) == 0;
      Line("Error occurred: " + failure);
      // The next cycle starts at once; but a request that cannot be deleted would be read again
      // and again without a pause, so then the cycle keeps its pause.
      if (!deleted) usleep(kPauseMicroseconds);
      return CycleEnd::RequestFailed;
    }

    // Deleted only now: a long MEASURE or CALIBRATE keeps the request in place until it ends.
    std::remove(RX.c_str());
    AddErrorFlags(jf_out);
    Say("Create file.");
    if (!PublishResponse(jf_out)) return CycleEnd::ResponseLost;
  }

  if (CoreParams::getInstance()->Automeasure) AutomeasureStep();
  usleep(kPauseMicroseconds);
  return CycleEnd::Slept;
}

void ServerJson::AddErrorFlags(nlohmann::json& doc) const {
  doc["MEASURE_ERROR_HANDS_DETECTED"] = measurement->MEASURE_ERROR_HANDS_DETECTED.load();
  doc["MEASURE_ERROR_EMPTY_X"] = measurement->MEASURE_ERROR_EMPTY_X.load();
  doc["MEASURE_ERROR_EMPTY_Y"] = measurement->MEASURE_ERROR_EMPTY_Y.load();
  doc["MEASURE_ERROR_EMPTY_Z"] = measurement->MEASURE_ERROR_EMPTY_Z.load();
  doc["MEASURE_ERROR_EMPTY_W"] = measurement->MEASURE_ERROR_EMPTY_W.load();
  doc["SERVER_ERROR_NO_LIDAR"] = measurement->SERVER_ERROR_NO_LIDAR.load();
  doc["SERVER_ERROR_NO_SCALES"] = measurement->SERVER_ERROR_NO_SCALES.load();
}

bool ServerJson::PublishResponse(const nlohmann::json& doc) {
  const Publication publication = PublishThroughRename(TX_TEMP, TX, DocumentLine(doc));
  if (publication.writeError != 0) {
    // A full disk: the response is dropped whole, the old one stays, and the server carries on,
    // so that it answers again once there is room. The client sees its request gone unanswered.
    *errors << ("Error writing " + TX_TEMP + ": " + std::strerror(publication.writeError) + "\n");
    return true;
  }
  if (publication.renameError == 0) return true;
  *errors << (std::string("Error renaming: ") + std::strerror(publication.renameError) + "\n");
  return false;
}

void ServerJson::Say(const std::string& text) const { *console << (SERVER + text + "\n"); }

void ServerJson::Line(const std::string& text) const { *console << (text + "\n"); }

}  // namespace servermod
