#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "scales/WeightWorker.h"
#include "scales/WeightningData.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Answers handed to the record one after the other, as the worker's polls return them, and what
// the record says afterwards.
struct DecodeCase {
  const char* name;
  std::vector<Bytes> answers;
  bool finished;
  int code;
  bool negative;
  int steps;
  float kilograms;
  const char* printed;  // the line getRealWeight prints, nullptr: not checked
};
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class Decoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, GivesTheReading) {
  const DecodeCase& c = GetParam();
  WeightningData data;
  for (const Bytes& answer : c.answers) {
    TakeAnswer(data, answer.data(), static_cast<int>(answer.size()));
  }
  EXPECT_EQ(data.WeightningFinished, c.finished);
  EXPECT_EQ(data.discreteness(), c.code);
  EXPECT_EQ(data.negative(), c.negative);
  EXPECT_EQ(data.sourceWeight(), c.steps);
  std::ostringstream printed;
  EXPECT_FLOAT_EQ(data.getRealWeight(printed), c.kilograms);
  if (c.printed != nullptr) {
    EXPECT_EQ(printed.str(), c.printed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Decoding,
    ::testing::Values(
        DecodeCase{"OneKilogramInGrams",
                   {{0x80, 0x00, 0xE8, 0x03, 0x00}},
                   true,
                   0,
                   false,
                   1000,
                   1.0f,
                   "Scales real weight: 1 with calibration: 0\n"},
        DecodeCase{"NegativeInTensOfGrams",
                   {{0x80, 0x04, 0x10, 0x27, 0x80}},
                   true,
                   4,
                   true,
                   10000,
                   -100.0f,
                   "Scales real weight: -100 with calibration: 0\n"},
        DecodeCase{"TenthsOfGrams",
                   {{0x80, 0x01, 0x0A, 0x00, 0x00}},
                   true,
                   1,
                   false,
                   10,
                   0.001f,
                   "Scales real weight: 0.001 with calibration: 0\n"},
        DecodeCase{"HundredGramSteps",
                   {{0x80, 0x05, 0x0C, 0x00, 0x00}},
                   true,
                   5,
                   false,
                   12,
                   1.2f,
                   nullptr},
        DecodeCase{
            "CodeSixLikeFive", {{0x80, 0x06, 0x0C, 0x00, 0x00}}, true, 6, false, 12, 1.2f, nullptr},
        DecodeCase{"CodeTwoHasNoDivisor",
                   {{0x80, 0x02, 0x05, 0x00, 0x00}},
                   true,
                   2,
                   false,
                   5,
                   5.0f,
                   "Scales real weight: 5 with calibration: 0\n"},
        DecodeCase{"CodeThreeHasNoDivisor",
                   {{0x80, 0x03, 0x05, 0x00, 0x00}},
                   true,
                   3,
                   false,
                   5,
                   5.0f,
                   nullptr},
        DecodeCase{"CodeSevenHasNoDivisor",
                   {{0x80, 0x07, 0x05, 0x00, 0x00}},
                   true,
                   7,
                   false,
                   5,
                   5.0f,
                   nullptr},
        DecodeCase{"LargestMagnitudeAndCode",
                   {{0x80, 0xFF, 0xFF, 0xFF, 0xFF}},
                   true,
                   255,
                   true,
                   8388607,
                   -8388607.0f,
                   nullptr},
        DecodeCase{"UnstableReadsZeroSilently",
                   {{0x00, 0x00, 0xE8, 0x03, 0x00}},
                   false,
                   0,
                   false,
                   1000,
                   0.0f,
                   ""},
        DecodeCase{"UnstableAfterStable",
                   {{0x80, 0x00, 0xE8, 0x03, 0x00}, {0x00, 0x00, 0xD0, 0x07, 0x00}},
                   false,
                   0,
                   false,
                   2000,
                   0.0f,
                   ""},
        DecodeCase{"ZeroMagnitudeKeepsTheCode",
                   {{0x80, 0x04, 0x10, 0x27, 0x80}, {0x80, 0x01, 0x00, 0x00, 0x00}},
                   true,
                   4,
                   false,
                   0,
                   0.0f,
                   "Scales real weight: 0 with calibration: 0\n"},
        DecodeCase{"SignAloneIsMinusZero",
                   {{0x80, 0x02, 0x00, 0x00, 0x80}},
                   true,
                   2,
                   true,
                   0,
                   0.0f,
                   nullptr},
        DecodeCase{"LowBitsOfTheFirstByteIgnored",
                   {{0x9F, 0x00, 0x01, 0x00, 0x00}},
                   true,
                   0,
                   false,
                   1,
                   0.001f,
                   nullptr},
        DecodeCase{"ThreeByteAnswerTopBytesZero",
                   {{0x80, 0x00, 0xE8}},
                   true,
                   0,
                   false,
                   232,
                   0.232f,
                   "Scales real weight: 0.232 with calibration: 0\n"},
        DecodeCase{
            "FourByteAnswer", {{0x80, 0x00, 0xE2, 0x04}}, true, 0, false, 1250, 1.25f, nullptr},
        DecodeCase{"TwoByteAnswerDropped",
                   {{0x80, 0x00, 0xE8, 0x03, 0x00}, {0x00, 0x00}},
                   true,
                   0,
                   false,
                   1000,
                   1.0f,
                   nullptr},
        DecodeCase{"OneByteAnswerAndReadErrorDropped",
                   {{0x80, 0x00, 0xE8, 0x03, 0x00}, {0x00}, {}},
                   true,
                   0,
                   false,
                   1000,
                   1.0f,
                   nullptr},
        DecodeCase{"NothingYet", {}, false, 0, false, 0, 0.0f, ""}),
    [](const ::testing::TestParamInfo<DecodeCase>& i) { return i.param.name; });

TEST(FrameBytes, IndicatorBits) {
  WeightningData data;
  const unsigned char zero[] = {0xC0, 0x00, 0x00, 0x00, 0x00};
  data.parse(zero);
  EXPECT_TRUE(data.zeroIndication());
  EXPECT_FALSE(data.weightIndication());
  const unsigned char load[] = {0xA0, 0x00, 0x01, 0x00, 0x00};
  data.parse(load);
  EXPECT_FALSE(data.zeroIndication());
  EXPECT_TRUE(data.weightIndication());
}

TEST(FrameBytes, ReadErrorsAndHugeCountsAreSafe) {
  WeightningData data;
  const unsigned char frame[] = {0x80, 0x00, 0xE8, 0x03, 0x00};
  EXPECT_FALSE(TakeAnswer(data, frame, -5));
  EXPECT_FALSE(data.WeightningFinished);
  // A count above five (a caller reading into a bigger buffer) takes the first five bytes only.
  const unsigned char longer[] = {0x80, 0x00, 0xE8, 0x03, 0x00, 0xFF, 0xFF};
  EXPECT_TRUE(TakeAnswer(data, longer, 7));
  std::ostringstream ignored;
  EXPECT_FLOAT_EQ(data.getRealWeight(ignored), 1.0f);
}

// The tare: what lies on the scale when it is zeroed reads 0 afterwards.
class Zeroing : public ::testing::Test {
 protected:
  void Stable(unsigned grams) {
    const unsigned char frame[] = {0x80, 0x00, static_cast<unsigned char>(grams & 0xFF),
                                   static_cast<unsigned char>((grams >> 8) & 0xFF), 0x00};
    data.parse(frame);
  }
  void Unstable() {
    const unsigned char frame[] = {0x00, 0x00, 0x01, 0x00, 0x00};
    data.parse(frame);
  }
  WeightningData data;
  std::ostringstream out;
};

TEST_F(Zeroing, TareThenHeavierLoad) {
  Stable(250);
  ASSERT_TRUE(data.setZero(out));
  EXPECT_EQ(out.str(), "Calibrating scales with new coeff: 0.25 on weight 0.25\n");
  out.str("");
  Stable(1250);
  EXPECT_FLOAT_EQ(data.getRealWeight(out), 1.0f);
  EXPECT_EQ(out.str(), "Scales real weight: 1.25 with calibration: 0.25\n");
}

TEST_F(Zeroing, RefusedWhileUnstableAndOffsetKept) {
  Stable(250);
  ASSERT_TRUE(data.setZero(out));
  Unstable();
  out.str("");
  EXPECT_FALSE(data.setZero(out));
  EXPECT_EQ(out.str(), "");
  EXPECT_FLOAT_EQ(data.calibrationDifference(), 0.25f);
  Stable(250);
  EXPECT_FLOAT_EQ(data.getRealWeight(out), 0.0f);
}

TEST_F(Zeroing, RemovingTheTaredLoadReadsNegative) {
  Stable(400);
  ASSERT_TRUE(data.setZero(out));
  Stable(0);
  EXPECT_FLOAT_EQ(data.getRealWeight(out), -0.4f);
}

TEST_F(Zeroing, RefusedBeforeAnyFrame) {
  EXPECT_FALSE(data.setZero(out));
  EXPECT_EQ(out.str(), "");
}

TEST_F(Zeroing, CopyCarriesTheOffset) {
  Stable(250);
  ASSERT_TRUE(data.setZero(out));
  Stable(1000);
  const WeightningData copy(data);
  EXPECT_FLOAT_EQ(copy.getRealWeight(out), 0.75f);
  EXPECT_EQ(copy.sourceWeight(), 1000);
}

TEST(ConsoleLines, GoToStandardOutput) {
  WeightningData data;
  const unsigned char frame[] = {0x80, 0x00, 0xE8, 0x03, 0x00};
  data.parse(frame);
  ::testing::internal::CaptureStdout();
  data.setZero();
  data.getRealWeight();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Calibrating scales with new coeff: 1 on weight 1\n"
            "Scales real weight: 1 with calibration: 1\n");
}

}  // namespace
