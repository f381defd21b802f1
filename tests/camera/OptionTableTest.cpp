// The options a described or simulated sensor keeps: defaults, range checks, fixed options, and
// the two kinds of refusal the station tells apart (no such option / value refused).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "camera/OptionTable.h"

namespace {

using dimcam::Option;
using dimcam::OptionTable;

OptionTable Table() {
  return OptionTable(
      "Stereo Module",
      {{Option::VisualPreset, {0, 5, 1, 1}}, {Option::DepthUnits, {1e-4f, 0.01f, 1e-6f, 0.001f}}},
      {Option::DepthUnits});
}

TEST(OptionTable, StartsAtTheDefaultsAndKeepsAcceptedValues) {
  OptionTable table = Table();
  EXPECT_FLOAT_EQ(table.Get(Option::VisualPreset), 1);
  EXPECT_FLOAT_EQ(table.Get(Option::DepthUnits), 0.001f);
  table.Set(Option::VisualPreset, 5);  // bounds are inclusive
  EXPECT_FLOAT_EQ(table.Get(Option::VisualPreset), 5);
  table.Set(Option::DepthUnits, 0.001f);  // a fixed option takes its own default
}

struct Refused {
  const char* name;
  Option option;
  float value;
};

class OptionRefusal : public ::testing::TestWithParam<Refused> {};

TEST_P(OptionRefusal, LeavesTheValueAsItWas) {
  OptionTable table = Table();
  const Refused c = GetParam();
  EXPECT_THROW(table.Set(c.option, c.value), dimcam::InvalidValueError);
  EXPECT_FLOAT_EQ(table.Get(c.option), table.Range(c.option).def);
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionRefusal,
                         ::testing::Values(Refused{"AboveRange", Option::VisualPreset, 6},
                                           Refused{"BelowRange", Option::VisualPreset, -1},
                                           Refused{"NotANumber", Option::VisualPreset,
                                                   std::numeric_limits<float>::quiet_NaN()},
                                           Refused{"FixedOptionInRange", Option::DepthUnits,
                                                   0.0001f}),
                         [](const ::testing::TestParamInfo<Refused>& i) { return i.param.name; });

TEST(OptionTable, AnOptionTheSensorLacksIsNotAValueError) {
  OptionTable table = Table();
  EXPECT_FALSE(table.Supports(Option::Exposure));
  for (const auto& call : {std::function<void()>([&] { table.Range(Option::Exposure); }),
                           std::function<void()>([&] { table.Get(Option::Exposure); }),
                           std::function<void()>([&] { table.Set(Option::Exposure, 1); })}) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const dimcam::InvalidValueError&) {
      ADD_FAILURE() << "reported as a refused value";
    } catch (const dimcam::Error& e) {
      EXPECT_NE(std::string(e.what()).find("Stereo Module has no option"), std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
