#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/StationProcess.h"

namespace {

using testsupport::RunFolder;
using testsupport::StationProcess;
using namespace std::chrono_literals;

const std::vector<std::string> kNoDevices = {"disable_lidar", "disable_scales"};

struct BadConfig {
  const char* name;
  std::string (*text)(const RunFolder&);
};
void PrintTo(const BadConfig& c, std::ostream* os) { *os << c.name; }

class UnusableConfiguration : public ::testing::TestWithParam<BadConfig> {};

// Whatever is wrong with the file, the process prints one line, starts nothing and exits 0.
TEST_P(UnusableConfiguration, EndsAtOnceWithOneLine) {
  RunFolder run;
  const std::string text = GetParam().text(run);
  if (text == "<absent>") {
    std::remove(run.file("configs/appconfig.toml").c_str());
  } else {
    run.WriteConfig(text);
  }
  StationProcess station(run.path(), {"disable_lidar", "disable_scales", "extra"});
  ASSERT_TRUE(station.WaitForExit(10s));
  EXPECT_EQ(station.ExitStatus(), 0);
  EXPECT_EQ(station.Stdout(), "CORE: Failed to parse toml file!\n");
  EXPECT_EQ(station.Stderr(), "");
  EXPECT_FALSE(testsupport::FileExists(run.photo())) << "the vision loop must not have run";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnusableConfiguration,
    ::testing::Values(BadConfig{"Absent", [](const RunFolder&) { return std::string("<absent>"); }},
                      BadConfig{"NotToml",
                                [](const RunFolder&) { return std::string("[jsonfiler\nx = "); }},
                      BadConfig{"TableMissing",
                                [](const RunFolder& r) {
                                  std::string t = r.ConfigText();
                                  return t.replace(0, 11, "[elsewhere]");
                                }},
                      BadConfig{"KeyMissing",
                                [](const RunFolder& r) {
                                  std::string t = r.ConfigText();
                                  const size_t at = t.find("PhotoPath");
                                  return t.substr(0, at);
                                }},
                      BadConfig{"KeyNotString",
                                [](const RunFolder& r) {
                                  std::string t = r.ConfigText();
                                  const size_t at = t.find("PhotoPath");
                                  return t.substr(0, at) + "PhotoPath = 3\n";
                                }}),
    [](const ::testing::TestParamInfo<BadConfig>& i) { return i.param.name; });

struct OffsetCase {
  const char* name;
  std::string lines;
  std::string expected;
};
void PrintTo(const OffsetCase& c, std::ostream* os) { *os << c.name; }

class OffsetLines : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(OffsetLines, PrintedBeforeTheWords) {
  RunFolder run;
  run.WriteConfig(run.ConfigText(GetParam().lines));
  StationProcess station(run.path(), kNoDevices);
  ASSERT_TRUE(station.WaitForStdout("Start Mock Lidar")) << station.Stdout();
  EXPECT_EQ(station.Stdout().rfind(GetParam().expected + "0 ", 0), 0u) << station.Stdout();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OffsetLines,
    ::testing::Values(OffsetCase{"TrailingText",
                                 "RegionOffsetX = \"15px\"\nRegionOffsetY = \"1e3\"\n",
                                 "CORE: 22Region Offset found X=15 Y=1000\n"},
                      OffsetCase{"IntegerInsteadOfString",
                                 "RegionOffsetX = 12\nRegionOffsetY = \"3\"\n",
                                 "CORE: Region Offset not found in toml file, use default!\n"},
                      OffsetCase{"OutOfRange", "RegionOffsetX = \"20000\"\nRegionOffsetY = \"0\"\n",
                                 "CORE: 22Region Offset found X=20000 Y=0\n"},
                      OffsetCase{"NotFinite", "RegionOffsetX = \"nan\"\nRegionOffsetY = \"-inf\"\n",
                                 "CORE: 22Region Offset found X=nan Y=-inf\n"}),
    [](const ::testing::TestParamInfo<OffsetCase>& i) { return i.param.name; });

TEST(Startup, EchoesWordsInOrder) {
  RunFolder run;
  StationProcess station(run.path(),
                         {"disable_automeasure", "disable_lidar", "whatever", "disable_scales"});
  ASSERT_TRUE(station.WaitForStdout("Start Mock Lidar"));
  const std::string expected =
      std::string("CORE: Region Offset not found in toml file, use default!\n") + "0 " +
      DIMCORE_BINARY + "\nCORE: Mode is automeasure\n" +
      "1 disable_automeasure\nCORE: Mode is default\n" +
      "2 disable_lidar\nCORE: Disabling lidar\nCORE: Mode is automeasure\n" +
      "3 whatever\nCORE: Mode is automeasure\n" +
      "4 disable_scales\nCORE: Disabling scales\nCORE: Mode is automeasure\n";
  EXPECT_EQ(station.Stdout().substr(0, expected.size()), expected);
}

// A service manager's stop: threads joined, banner printed, no power-off.
TEST(Startup, StopSignalEndsWithBannerAndNoPowerOff) {
  for (int signo : {SIGTERM, SIGINT}) {
    RunFolder run;
    StationProcess station(run.path(), kNoDevices);
    ASSERT_TRUE(station.WaitForStdout("Start Mock Lidar"));
    station.Signal(signo);
    ASSERT_TRUE(station.WaitForExit(10s));
    EXPECT_EQ(station.ExitStatus(), 0);
    const std::string out = station.Stdout();
    const std::string tail =
        "\n\n\nCORE: ---------------------------SHUTDOWN DEVICE---------------------------\n\n\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    // The command server may still finish its cycle (and print) between this line and its join.
    EXPECT_NE(out.find("CORE: APPLICATION EXITING\n"), std::string::npos);
    EXPECT_FALSE(testsupport::FileExists(run.poweroffLog()));
  }
}

}  // namespace
