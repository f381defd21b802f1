#pragma once

#include <iosfwd>

// What the scale's last weight frame said, and the zero offset (tare) subtracted from every
// reading. Weights are in kilograms.
//
// Frame: byte 0 bit 7 stable ("weighing finished"), bit 6 zero indication, bit 5 weight
// indication; byte 1 discreteness code; bytes 2..4 a 23-bit little-endian magnitude in scale steps
// with the sign in bit 7 of byte 4.
//
// Not synchronised: the weighing worker owns one and hands out copies.
class WeightningData {
 public:
  static constexpr int kFrameSize = 5;

  WeightningData() = default;
  WeightningData(const WeightningData&) = default;
  WeightningData& operator=(const WeightningData&) = default;

  // Takes one frame of kFrameSize bytes.
  void parse(const unsigned char* received);
  // The last stable weight minus the zero offset; 0 while the scale is not stable. Prints
  // "Scales real weight: W with calibration: C" when stable.
  float getRealWeight() const;
  float getRealWeight(std::ostream& out) const;
  // Makes the current stable weight the zero offset and prints it; false (nothing changes) while
  // the scale is not stable.
  bool setZero();
  bool setZero(std::ostream& out);

  // Read-only views of the decoded frame, for diagnostics and tests.
  int discreteness() const { return WeightsDiscreteness; }
  bool negative() const { return WeightNegative; }
  int sourceWeight() const { return SourceWeight; }
  bool zeroIndication() const { return IsZeroIndication; }
  bool weightIndication() const { return IsWeightIndication; }
  float calibrationDifference() const { return CalibrationDifference; }

  bool WeightningFinished = false;
  // Cleared whenever a frame reports an unfinished weighing.
  bool WeightningSent = false;

 private:
  float countRealWeight() const;

  float CalibrationDifference = 0;
  int WeightsDiscreteness = 0;
  bool WeightNegative = false;
  int SourceWeight = 0;
  bool IsZeroIndication = false;
  bool IsWeightIndication = false;
};

// Scale steps per kilogram for a discreteness code, or 0 when the code has no divisor (the
// magnitude is then the weight as it stands).
int DiscretenessDivisor(int code);
