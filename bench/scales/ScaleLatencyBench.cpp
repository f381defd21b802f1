// Prints how long a new weight on the scale takes to reach the weighing worker's record (the age
// of the weight a MEASURE may report), and how fast frames decode. Runs against the simulated
// scale on a pseudo-terminal; touches no real device.
//   bench_scale_latency [changes]
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scales/WeightWorker.h"
#include "scales/WeightningData.h"
#include "tools/scale-sim/ScaleSim.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  scalesim::ScaleSimulator sim;
  std::string error;
  if (!sim.Open(&error)) {
    std::cerr << "bench_scale_latency: " << error << "\n";
    return 1;
  }
  sim.Start();
  setenv("DIMCORE_SCALES_DEVICE", sim.DevicePath().c_str(), 1);

  std::vector<double> latencies;
  {
    // The worker's console lines (the zeroing) are not part of the figures.
    std::ostringstream quiet;
    std::streambuf* saved = std::cout.rdbuf(quiet.rdbuf());
    WeightWorker worker;
    if (!worker.init(24)) {
      std::cout.rdbuf(saved);
      std::cerr << "bench_scale_latency: cannot open the simulated scale\n";
      return 1;
    }
    while (worker.getCalibrate()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::ostringstream ignored;
    for (int i = 1; i <= changes; ++i) {
      const int grams = 100 * i;
      // Changes land at arbitrary points of the worker's cycle.
      std::this_thread::sleep_for(std::chrono::milliseconds(37 * (i % 5)));
      sim.Execute("weight " + std::to_string(grams / 1000.0));
      const auto start = Clock::now();
      while (static_cast<int>(worker.getWeightningData().getRealWeight(ignored) * 1000 + 0.5f) !=
             grams) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      latencies.push_back(Milliseconds(Clock::now() - start));
      ignored.str("");
    }
    std::cout.rdbuf(saved);
  }
  sim.Stop();
  unsetenv("DIMCORE_SCALES_DEVICE");
  std::sort(latencies.begin(), latencies.end());
  double sum = 0;
  for (double l : latencies) sum += l;
  std::printf(
      "weight change to worker record over %d changes: min %.1f ms, median %.1f ms, "
      "mean %.1f ms, max %.1f ms\n",
      changes, latencies.front(), latencies[latencies.size() / 2], sum / changes, latencies.back());

  // Decoding alone: one frame taken and one reading computed (into a discarded line).
  const unsigned char frames[2][5] = {{0x80, 0x00, 0xE2, 0x04, 0x00},
                                      {0x80, 0x04, 0x10, 0x27, 0x80}};
  WeightningData data;
  std::ostringstream sink;
  const int rounds = 1000000;
  float total = 0;
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    TakeAnswer(data, frames[i & 1], 5);
    total += data.getRealWeight(sink);
    if ((i & 1023) == 0) sink.str("");
  }
  const double ms = Milliseconds(Clock::now() - start);
  std::printf("decode and read: %.0f ns per frame (%d frames, checksum %.0f)\n", ms * 1e6 / rounds,
              rounds, static_cast<double>(total));
  return 0;
}
