#include "scales/WeightningData.h"

#include <iostream>
#include <sstream>

int DiscretenessDivisor(int code) {
  switch (code) {
    case 0:
      return 1000;
    case 1:
      return 10000;
    case 4:
      return 100;
    case 5:
      return 10;
    case 6:
      return 10;
    default:
      return 0;
  }
}

void WeightningData::parse(const unsigned char* received) {
  WeightningFinished = (received[0] & 0x80) != 0;
  if (!WeightningFinished) WeightningSent = false;
  IsZeroIndication = (received[0] & 0x40) != 0;
  IsWeightIndication = (received[0] & 0x20) != 0;
  if (received[2] == 0 && received[3] == 0 && received[4] == 0) {
    // An empty reading says nothing about the step size: keep the last code.
    WeightNegative = false;
    SourceWeight = 0;
    return;
  }
  WeightNegative = (received[4] & 0x80) != 0;
  WeightsDiscreteness = received[1];
  SourceWeight = received[2] + 256 * received[3] + 65536 * (received[4] & 0x7F);
}

float WeightningData::countRealWeight() const {
  if (!WeightningFinished) return 0;
  float w = static_cast<float>(SourceWeight);
  if (WeightNegative) w = -w;
  const int divisor = DiscretenessDivisor(WeightsDiscreteness);
  if (divisor != 0) w /= static_cast<float>(divisor);
  return w;
}

float WeightningData::getRealWeight() const {
  std::ostringstream line;
  const float w = getRealWeight(line);
  if (!line.str().empty()) std::cout << line.str();
  return w;
}

float WeightningData::getRealWeight(std::ostream& out) const {
  if (!WeightningFinished) return 0;
  const float w = countRealWeight();
  std::ostringstream line;
  line << "Scales real weight: " << w << " with calibration: " << CalibrationDifference << "\n";
  out << line.str();
  return w - CalibrationDifference;
}

bool WeightningData::setZero() {
  std::ostringstream line;
  const bool zeroed = setZero(line);
  if (zeroed) std::cout << line.str();
  return zeroed;
}

bool WeightningData::setZero(std::ostream& out) {
  if (!WeightningFinished) return false;
  const float w = countRealWeight();
  CalibrationDifference = w;
  std::ostringstream line;
  line << "Calibrating scales with new coeff: " << CalibrationDifference << " on weight " << w
       << "\n";
  out << line.str();
  return true;
}
