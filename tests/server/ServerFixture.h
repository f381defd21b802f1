#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "core/CoreParams.h"
#include "core/Measurement.h"
#include "server/ServerJson2.h"
#include "tests/support/TempDir.h"

namespace servertest {

// A command server in-process with its exchange files in a temporary folder, its console captured,
// a small attempt limit and simulated modules that answer (or stay silent) at the waits' pauses.
// The shared records are process singletons: every field a test may touch is reset here.
class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    m->is_scales_calibrated = true;
    m->is_calibrated = true;
    m->is_measured = true;
    m->is_scaled = true;
    m->x = m->y = m->z = m->weight = 0;
    m->MEASURE_ERROR_HANDS_DETECTED = false;
    m->MEASURE_ERROR_EMPTY_X = false;
    m->MEASURE_ERROR_EMPTY_Y = false;
    m->MEASURE_ERROR_EMPTY_Z = false;
    m->MEASURE_ERROR_EMPTY_W = false;
    m->SERVER_ERROR_NO_LIDAR = false;
    m->SERVER_ERROR_NO_SCALES = false;
    params->APPLICATION_STOP_REQUEST = false;
    params->SHUTDOWN_REQUEST = false;
    params->Automeasure = false;
    params->RequestJsonFilePath = dir.file("request.json");
    params->ResponseJsonFilePath = dir.file("response.json");
    params->ResponseTempJsonFilePath = dir.file("response.json.tmp");
    params->AutomesureJsonFilePath = dir.file("automeasure.json");
    params->AutomesureTempJsonFilePath = dir.file("automeasure.json.tmp");

    server.console = &out;
    server.errors = &err;
    server.attemptCount = 3;
    server.waitPause = [this] { Pause(); };
    server.LoadPaths();
  }

  void TearDown() override {
    params->APPLICATION_STOP_REQUEST = false;
    params->SHUTDOWN_REQUEST = false;
  }

  // Called at every pause of a wait: each module answers its pending request once its turn has
  // come (answerFrom counts the pauses of the whole test, starting at 1).
  void Pause() {
    ++pauses;
    if (visionAnswers && pauses >= visionAnswerFrom) {
      if (!m->is_measured) {
        m->x = x;
        m->y = y;
        m->z = z;
        m->is_measured.store(true, std::memory_order_release);
      }
      m->is_calibrated.store(true, std::memory_order_release);
    }
    if (scalesAnswer && pauses >= scalesAnswerFrom) {
      if (!m->is_scaled) {
        m->weight = weight;
        m->is_scaled.store(true, std::memory_order_release);
      }
      m->is_scales_calibrated.store(true, std::memory_order_release);
    }
    if (duringPause) duringPause();
  }

  void WriteRequest(const std::string& text) { testsupport::WriteFileAtomically(server.RX, text); }
  nlohmann::json Response() const {
    return nlohmann::json::parse(testsupport::ReadFile(server.TX));
  }

  testsupport::TempDir dir;
  Measurement* m = Measurement::getInstance();
  CoreParams* params = CoreParams::getInstance();
  servermod::ServerJson server;
  std::ostringstream out;
  std::ostringstream err;

  int pauses = 0;
  bool visionAnswers = true;
  bool scalesAnswer = true;
  int visionAnswerFrom = 1;
  int scalesAnswerFrom = 1;
  float x = 250, y = 400, z = 120, weight = 1500;
  std::function<void()> duringPause;
};

}  // namespace servertest
