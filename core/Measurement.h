#pragma once

#include <atomic>

#include "core/Singleton.h"

// Results of the last measurement and weighing, the request/answer handshakes between the command
// server and the device modules, and the error flags reported to clients.
//
// Handshake rule: a flag is idle while true. The server clears it to ask; the owning module stores
// its results and then sets the flag with a release store as its very last write; the server reads
// the results only after an acquire load has seen the flag true. The results are atomic all the
// same: a wait that gives up (time limit, or the station stopping) still reports the last stored
// values, and a module answering just then writes them while the server reads.
class Measurement : public Singleton<Measurement> {
 public:
  static Measurement* getInstance() {
    static Measurement instance;
    return &instance;
  }

  std::atomic<bool> is_scales_calibrated{false};
  std::atomic<bool> is_calibrated{false};
  std::atomic<bool> is_measured{false};
  std::atomic<bool> is_scaled{false};
  std::atomic<float> x{0};
  std::atomic<float> y{0};
  std::atomic<float> z{0};
  std::atomic<float> weight{0};
  std::atomic<bool> MEASURE_ERROR_HANDS_DETECTED{false};
  std::atomic<bool> MEASURE_ERROR_EMPTY_X{false};
  std::atomic<bool> MEASURE_ERROR_EMPTY_Y{false};
  std::atomic<bool> MEASURE_ERROR_EMPTY_Z{false};
  std::atomic<bool> MEASURE_ERROR_EMPTY_W{false};
  std::atomic<bool> SERVER_ERROR_NO_LIDAR{false};
  std::atomic<bool> SERVER_ERROR_NO_SCALES{false};

 private:
  Measurement() = default;
};
