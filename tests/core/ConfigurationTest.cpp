#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "core/Configuration.h"

namespace {

// Every test starts from the defaults again: the record is process-wide.
class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    ConfigurationStruct s = DefaultConfiguration();
    s.MAX_AREA = 200000;  // the default itself cannot be set back
    ASSERT_TRUE(config()->SetAll(s));
    ASSERT_TRUE(config()->SetDepth({0.29f, 16.0f}));
    // MAX_AREA has no setter that accepts its default, so compare the rest against the defaults.
  }
  static Configuration* config() { return Configuration::getInstance(); }
  static ConfigurationStruct Settable() {
    ConfigurationStruct s = DefaultConfiguration();
    s.MAX_AREA = 200000;
    return s;
  }
};

bool SameRecord(const ConfigurationStruct& a, const ConfigurationStruct& b) {
  return a.VISUAL_PRESET == b.VISUAL_PRESET && a.DIGITAL_GAIN == b.DIGITAL_GAIN &&
         a.MIN_DEPTH == b.MIN_DEPTH && a.MAX_DEPTH == b.MAX_DEPTH && a.MIN_AREA == b.MIN_AREA &&
         a.MAX_AREA == b.MAX_AREA && a.FOW_WIDTH == b.FOW_WIDTH && a.FOW_HEIGHT == b.FOW_HEIGHT &&
         a.REGION_WIDTH == b.REGION_WIDTH && a.REGION_HEIGHT == b.REGION_HEIGHT &&
         a.REGION_OFFSET_X == b.REGION_OFFSET_X && a.REGION_OFFSET_Y == b.REGION_OFFSET_Y &&
         a.DRAW_SIZE == b.DRAW_SIZE;
}

TEST(ConfigurationDefaults, StartValues) {
  const ConfigurationStruct d = DefaultConfiguration();
  EXPECT_EQ(d.VISUAL_PRESET, 3);
  EXPECT_EQ(d.DIGITAL_GAIN, 2);
  EXPECT_EQ(d.MIN_DEPTH, 0.29f);
  EXPECT_EQ(d.MAX_DEPTH, 16.0f);
  EXPECT_EQ(d.MIN_AREA, 100.0f);
  EXPECT_EQ(d.MAX_AREA, 200000000.0f);
  EXPECT_EQ(d.FOW_WIDTH, 65.0f);
  EXPECT_EQ(d.FOW_HEIGHT, 40.0f);
  EXPECT_EQ(d.REGION_WIDTH, 680.0f);
  EXPECT_EQ(d.REGION_HEIGHT, 550.0f);
  EXPECT_EQ(d.REGION_OFFSET_X, 0);
  EXPECT_EQ(d.REGION_OFFSET_Y, 40);
  EXPECT_TRUE(d.DRAW_SIZE);
}

TEST_F(ConfigurationTest, StartUpValuesCannotBeSentBackBecauseOfMaxArea) {
  const ConfigurationStruct before = config()->GetAll();
  EXPECT_FALSE(config()->SetAll(DefaultConfiguration()));
  EXPECT_TRUE(SameRecord(config()->GetAll(), before));
}

struct SetAllCase {
  const char* name;
  void (*change)(ConfigurationStruct&);
  bool accepted;
};
void PrintTo(const SetAllCase& c, std::ostream* os) { *os << c.name; }

class SetAllRanges : public ConfigurationTest, public ::testing::WithParamInterface<SetAllCase> {};

TEST_P(SetAllRanges, AppliesAllOrNothing) {
  ConfigurationStruct s = Settable();
  // Move every field away from the current values, so a partial apply would show.
  s.VISUAL_PRESET = 5;
  s.DIGITAL_GAIN = 1;
  s.MIN_DEPTH = 0.5f;
  s.MAX_DEPTH = 1200.0f;
  s.MIN_AREA = 200.0f;
  s.FOW_WIDTH = 70.0f;
  s.FOW_HEIGHT = 45.0f;
  s.REGION_WIDTH = 600.0f;
  s.REGION_HEIGHT = 500.0f;
  s.REGION_OFFSET_X = 7;
  s.REGION_OFFSET_Y = -7;
  s.DRAW_SIZE = false;
  GetParam().change(s);
  const ConfigurationStruct before = config()->GetAll();
  EXPECT_EQ(config()->SetAll(s), GetParam().accepted);
  EXPECT_TRUE(SameRecord(config()->GetAll(), GetParam().accepted ? s : before));
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, SetAllRanges,
    ::testing::Values(
        SetAllCase{"MaxAreaAtTop", [](ConfigurationStruct& s) { s.MAX_AREA = 200000; }, true},
        SetAllCase{"MaxAreaAboveTop", [](ConfigurationStruct& s) { s.MAX_AREA = 200001; }, false},
        SetAllCase{"OffsetXAtBottom", [](ConfigurationStruct& s) { s.REGION_OFFSET_X = -10000; },
                   true},
        SetAllCase{"OffsetXAboveTop", [](ConfigurationStruct& s) { s.REGION_OFFSET_X = 10001; },
                   false},
        SetAllCase{"OffsetYBelowBottom", [](ConfigurationStruct& s) { s.REGION_OFFSET_Y = -10001; },
                   false},
        SetAllCase{"MinDepthAboveMaxDepth",
                   [](ConfigurationStruct& s) {
                     s.MIN_DEPTH = 5;
                     s.MAX_DEPTH = 1;
                   },
                   true},
        SetAllCase{"FowWidthZero", [](ConfigurationStruct& s) { s.FOW_WIDTH = 0; }, true},
        SetAllCase{"FowHeightAboveTop", [](ConfigurationStruct& s) { s.FOW_HEIGHT = 2000.5f; },
                   false},
        SetAllCase{"PresetSeven", [](ConfigurationStruct& s) { s.VISUAL_PRESET = 7; }, false},
        SetAllCase{"PresetZero", [](ConfigurationStruct& s) { s.VISUAL_PRESET = 0; }, true},
        SetAllCase{"GainThree", [](ConfigurationStruct& s) { s.DIGITAL_GAIN = 3; }, false},
        SetAllCase{"GainNegative", [](ConfigurationStruct& s) { s.DIGITAL_GAIN = -1; }, false},
        SetAllCase{"MinDepthNegative", [](ConfigurationStruct& s) { s.MIN_DEPTH = -0.01f; }, false},
        SetAllCase{"MaxDepthNaN", [](ConfigurationStruct& s) { s.MAX_DEPTH = kNaN; }, false},
        SetAllCase{"MinAreaBelowTen", [](ConfigurationStruct& s) { s.MIN_AREA = 9.99f; }, false},
        SetAllCase{"MinAreaAboveMaxArea",
                   [](ConfigurationStruct& s) {
                     s.MIN_AREA = 5000;
                     s.MAX_AREA = 100;
                   },
                   true},
        SetAllCase{"RegionWidthAtTop", [](ConfigurationStruct& s) { s.REGION_WIDTH = 1920; }, true},
        SetAllCase{"RegionWidthAboveTop", [](ConfigurationStruct& s) { s.REGION_WIDTH = 1921; },
                   false},
        SetAllCase{"RegionHeightAboveTop", [](ConfigurationStruct& s) { s.REGION_HEIGHT = 1081; },
                   false},
        SetAllCase{"RegionHeightInfinite",
                   [](ConfigurationStruct& s) {
                     s.REGION_HEIGHT = std::numeric_limits<float>::infinity();
                   },
                   false}),
    [](const ::testing::TestParamInfo<SetAllCase>& i) { return i.param.name; });

TEST_F(ConfigurationTest, SetDepthChecksBothBeforeStoring) {
  EXPECT_TRUE(config()->SetDepth({0.29f, 1200.0f}));
  EXPECT_EQ(config()->GetDepth(), std::make_pair(0.29f, 1200.0f));
  EXPECT_FALSE(config()->SetDepth({0.5f, 200001.0f}));
  EXPECT_EQ(config()->GetDepth(), std::make_pair(0.29f, 1200.0f));
  EXPECT_FALSE(config()->SetDepth({kNaN, 100.0f}));
  EXPECT_EQ(config()->GetDepth(), std::make_pair(0.29f, 1200.0f));
}

TEST_F(ConfigurationTest, SetRegionOffsetStoresNeitherOnFailure) {
  EXPECT_FALSE(config()->SetRegionOffset({-10001, 0}));
  EXPECT_EQ(config()->GetRegionOffset(), std::make_pair(0, 40));
  EXPECT_FALSE(config()->SetRegionOffset({5, 10001}));
  EXPECT_EQ(config()->GetRegionOffset(), std::make_pair(0, 40));
  EXPECT_TRUE(config()->SetRegionOffset({10000, -10000}));
  EXPECT_EQ(config()->GetRegionOffset(), std::make_pair(10000, -10000));
}

TEST_F(ConfigurationTest, GettersReadTheCurrentRecord) {
  ConfigurationStruct s = Settable();
  s.VISUAL_PRESET = 1;
  s.FOW_WIDTH = 80;
  s.FOW_HEIGHT = 50;
  s.REGION_WIDTH = 300;
  s.REGION_HEIGHT = 200;
  s.MIN_AREA = 50;
  s.DRAW_SIZE = false;
  ASSERT_TRUE(config()->SetAll(s));
  EXPECT_EQ(config()->GetVisualPreset(), 1);
  EXPECT_EQ(config()->GetFow(), std::make_pair(80.0f, 50.0f));
  EXPECT_EQ(config()->GetRegion(), std::make_pair(300.0f, 200.0f));
  EXPECT_EQ(config()->GetArea(), std::make_pair(50.0f, 200000.0f));
  EXPECT_FALSE(config()->GetDrawSize());
}

// Two writers alternate between two complete records; a reader must only ever see one of them.
TEST_F(ConfigurationTest, ConcurrentSetAllNeverGivesAMixedRecord) {
  ConfigurationStruct a = Settable();
  ConfigurationStruct b = Settable();
  b.VISUAL_PRESET = 6;
  b.DIGITAL_GAIN = 0;
  b.MIN_DEPTH = 1;
  b.MAX_DEPTH = 900;
  b.MIN_AREA = 11;
  b.MAX_AREA = 12;
  b.FOW_WIDTH = 1;
  b.FOW_HEIGHT = 2;
  b.REGION_WIDTH = 11;
  b.REGION_HEIGHT = 12;
  b.REGION_OFFSET_X = -1;
  b.REGION_OFFSET_Y = -2;
  b.DRAW_SIZE = false;
  std::atomic<bool> stop{false};
  std::atomic<long> mixed{0};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) config()->SetAll(i % 2 ? a : b);
    stop = true;
  });
  std::thread depthWriter([&] {
    while (!stop) {
      config()->SetDepth({a.MIN_DEPTH, a.MAX_DEPTH});
      config()->SetDepth({b.MIN_DEPTH, b.MAX_DEPTH});
    }
  });
  while (!stop) {
    const ConfigurationStruct r = config()->GetAll();
    const auto depth = config()->GetDepth();
    const bool depthWhole = (depth.first == a.MIN_DEPTH && depth.second == a.MAX_DEPTH) ||
                            (depth.first == b.MIN_DEPTH && depth.second == b.MAX_DEPTH);
    // The depth pair may come from SetDepth independently of the rest; compare the rest whole.
    ConfigurationStruct rest = r;
    rest.MIN_DEPTH = a.MIN_DEPTH;
    rest.MAX_DEPTH = a.MAX_DEPTH;
    ConfigurationStruct restB = b;
    restB.MIN_DEPTH = a.MIN_DEPTH;
    restB.MAX_DEPTH = a.MAX_DEPTH;
    const bool recordWhole = SameRecord(rest, a) || SameRecord(rest, restB);
    const bool recordDepthWhole = (r.MIN_DEPTH == a.MIN_DEPTH && r.MAX_DEPTH == a.MAX_DEPTH) ||
                                  (r.MIN_DEPTH == b.MIN_DEPTH && r.MAX_DEPTH == b.MAX_DEPTH);
    if (!depthWhole || !recordWhole || !recordDepthWhole) ++mixed;
  }
  writer.join();
  depthWriter.join();
  EXPECT_EQ(mixed.load(), 0);
}

}  // namespace
