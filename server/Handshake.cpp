// MEASURE and CALIBRATE: the server asks the vision and scales modules for work by clearing their
// handshake flags and polls, a bounded number of times, until they set them again.
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>

#include "core/CoreParams.h"
#include "server/ServerJson2.h"

namespace servermod {

namespace {
constexpr useconds_t kWaitPauseMicroseconds = 100000;
}

void ServerJson::PauseInWait() {
  if (waitPause) {
    waitPause();
  } else {
    usleep(kWaitPauseMicroseconds);
  }
}

bool ServerJson::BoundedWait(const std::function<bool()>& answered, const char* label,
                             const char* message, std::atomic<bool>* failureFlag,
                             bool raiseMaxAttempt) {
  const CoreParams* coreParams = CoreParams::getInstance();
  bool gaveUp = false;
  attempt = 0;
  while (!answered()) {
    PauseInWait();
    // Once the station is stopping the module loops end and would never answer: waiting out the
    // limit would only hold up the shutdown (up to 200 s for a measurement).
    const bool stopping = coreParams->APPLICATION_STOP_REQUEST && !answered();
    if (attempt < attemptCount && !stopping) {
      ++attempt;
      if (raiseMaxAttempt && attempt > maxAttempt) maxAttempt = attempt;
    } else {
      Say(message);
      errorFlg = true;
      if (failureFlag != nullptr) failureFlag->store(true);
      gaveUp = true;
      break;
    }
  }
  Say(label + std::to_string(attempt) + " Limit=" + std::to_string(attemptCount));
  return !gaveUp;
}

void ServerJson::MeasurementSequence(nlohmann::json& doc, const char* visionLabel,
                                     const char* scalesLabel) {
  Measurement* m = measurement;
  m->is_measured.store(false, std::memory_order_release);
  Say("Waiting for Vision (Measure)...");
  BoundedWait([m] { return m->is_measured.load(std::memory_order_acquire); }, visionLabel,
              "VISION MODULE IS NOT RESPONDING\n", &m->SERVER_ERROR_NO_LIDAR, false);
  // The smaller horizontal side goes under "X"; equal sides keep their places.
  if (m->y < m->x) {
    doc["X"] = static_cast<double>(m->y);
    doc["Y"] = static_cast<double>(m->x);
  } else {
    doc["X"] = static_cast<double>(m->x);
    doc["Y"] = static_cast<double>(m->y);
  }
  doc["Z"] = static_cast<double>(m->z);

  m->is_scaled.store(false, std::memory_order_release);
  Say("Waiting for Scales...");
  BoundedWait([m] { return m->is_scaled.load(std::memory_order_acquire); }, scalesLabel,
              "SCALES MODULE IS NOT RESPONDING\n", &m->SERVER_ERROR_NO_SCALES, false);
  doc["W"] = static_cast<double>(m->weight);
  doc["STATUS"] = !errorFlg;
}

void ServerJson::MEASURE(nlohmann::json& jf_out) {
  Say("Command is MEASURE.");
  Say("MAX ATTEMPT DETECTED=" + std::to_string(maxAttempt));
  MeasurementSequence(jf_out, "Test1 Attempt=", "Test2 Attempt=");
}

void ServerJson::CALIBRATE(nlohmann::json& jf_out) {
  Say("Command is CALIBRATE.");
  Say("MAX ATTEMPT DETECTED=" + std::to_string(maxAttempt));
  Measurement* m = measurement;
  m->is_calibrated.store(false, std::memory_order_release);
  m->is_scales_calibrated.store(false, std::memory_order_release);
  Say("Waiting for Vision,Scales (Calibrate)...");
  const bool answered = BoundedWait(
      [m] {
        return m->is_calibrated.load(std::memory_order_acquire) &&
               m->is_scales_calibrated.load(std::memory_order_acquire);
      },
      "Test3 Attempt=", "VISION MODULE OR SCALES MODULE IS NOT RESPONDING\n", nullptr, true);
  if (!answered) {
    // A calibration that runs out names neither module: both server flags read false.
    m->SERVER_ERROR_NO_LIDAR = false;
    m->SERVER_ERROR_NO_SCALES = false;
  }
  jf_out["STATUS"] = !errorFlg;
}

}  // namespace servermod
