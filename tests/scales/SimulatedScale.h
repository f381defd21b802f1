#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "tools/scale-sim/ScaleSim.h"

namespace scaletest {

using namespace std::chrono_literals;

// The scale simulator on a real pseudo-terminal, running in this process, with port 24 pointed at
// it through DIMCORE_SCALES_DEVICE for as long as it lives.
class SimulatedScale {
 public:
  SimulatedScale() {
    std::string error;
    opened_ = sim_.Open(&error);
    EXPECT_TRUE(opened_) << error;
    if (!opened_) return;
    sim_.Start();
    setenv("DIMCORE_SCALES_DEVICE", sim_.DevicePath().c_str(), 1);
  }
  ~SimulatedScale() {
    sim_.Stop();
    unsetenv("DIMCORE_SCALES_DEVICE");
  }
  SimulatedScale(const SimulatedScale&) = delete;
  SimulatedScale& operator=(const SimulatedScale&) = delete;

  bool opened() const { return opened_; }
  scalesim::ScaleSimulator& sim() { return sim_; }
  const std::string& path() const { return sim_.DevicePath(); }

  // Runs simulator commands; each must be accepted.
  void Do(std::initializer_list<const char*> commands) {
    for (const char* command : commands) {
      const std::string answer = sim_.Execute(command);
      EXPECT_EQ(answer.rfind("ok", 0), 0u) << command << " -> " << answer;
    }
  }

  // Waits until the station has certainly decoded an answer given after this call: the answer to
  // the request after next is built from the state as it is now, and the request after that is
  // only sent once that answer has been read and decoded.
  bool Settle(std::chrono::milliseconds timeout = 5s) {
    return sim_.WaitForRequests(sim_.Requests() + 3, timeout);
  }
  // True when nobody asks for span, after letting a request already on its way be counted.
  bool StaysQuiet(std::chrono::milliseconds span) {
    sim_.WaitForRequests(sim_.Requests() + 1, 200ms);
    return !sim_.WaitForRequests(sim_.Requests() + 1, span);
  }
  bool WaitForRequests(uint64_t count, std::chrono::milliseconds timeout = 5s) {
    return sim_.WaitForRequests(count, timeout);
  }

 private:
  scalesim::ScaleSimulator sim_;
  bool opened_ = false;
};

}  // namespace scaletest
