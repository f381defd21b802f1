// Whatever arrives on the scale's line must decode without a crash or undefined behaviour, and
// the readings must stay within what a frame can express.
//
// Input: a sequence of records, each a control byte followed by (control & 7) answer bytes (fewer
// at the end of the input). Bit 6 of the control byte zeroes the scale after the answer, bit 7
// takes a reading.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "scales/WeightWorker.h"
#include "scales/WeightningData.h"

namespace {
// Largest magnitude of a frame; a reading minus a zero offset is at most twice that.
constexpr float kLargestReading = 2.0f * 8388607.0f;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WeightningData record;
  std::ostringstream console;
  size_t at = 0;
  while (at < size) {
    const uint8_t control = data[at++];
    const size_t count = std::min<size_t>(control & 0x07, size - at);
    unsigned char answer[8] = {};
    std::memcpy(answer, data + at, count);
    at += count;

    const bool decoded = TakeAnswer(record, answer, static_cast<int>(count));
    if (decoded != (count >= 3)) __builtin_trap();
    if (decoded && (answer[2] | answer[3] | answer[4]) != 0) {
      const int steps = answer[2] + 256 * answer[3] + 65536 * (answer[4] & 0x7F);
      if (record.sourceWeight() != steps || record.discreteness() != answer[1]) __builtin_trap();
    }
    if (record.sourceWeight() < 0 || record.sourceWeight() > 8388607) __builtin_trap();

    if (control & 0x40) {
      const bool zeroed = record.setZero(console);
      if (zeroed != record.WeightningFinished) __builtin_trap();
    }
    if (control & 0x80) {
      const WeightningData copy(record);
      const float reading = copy.getRealWeight(console);
      if (!std::isfinite(reading) || std::fabs(reading) > kLargestReading) __builtin_trap();
      if (!copy.WeightningFinished && reading != 0) __builtin_trap();
    }
    console.str("");
  }
  return 0;
}
