#include <gtest/gtest.h>

#include <sstream>

#include "core/Configuration.h"
#include "core/CoreParams.h"
#include "core/Startup.h"

namespace {

const char* kPaths =
    "[jsonfiler]\n"
    "RequestJsonFilePath = \"rq\"\n"
    "ResponseJsonFilePath = \"rs\"\n"
    "RequestTempJsonFilePath = \"rqt\"\n"
    "ResponseTempJsonFilePath = \"rst\"\n"
    "AutomesureTempJsonFilePath = \"amt\"\n"
    "AutomesureJsonFilePath = \"am\"\n"
    "MockPngFile = \"m1\"\n"
    "MockPngFile2 = \"m2\"\n"
    "PhotoPath = \"ph\"\n";

class StartupReading : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Configuration::getInstance()->SetRegionOffset({0, 40})); }
  void TearDown() override { Configuration::getInstance()->SetRegionOffset({0, 40}); }
  std::string Read(const std::string& text, bool* ok = nullptr) {
    std::ostringstream out;
    const bool result = core::ReadConfigurationText(text, CoreParams::getInstance(),
                                                    Configuration::getInstance(), out);
    if (ok) *ok = result;
    return out.str();
  }
};

TEST_F(StartupReading, CopiesEveryPath) {
  bool ok = false;
  Read(kPaths, &ok);
  ASSERT_TRUE(ok);
  CoreParams* p = CoreParams::getInstance();
  EXPECT_EQ(p->RequestJsonFilePath, "rq");
  EXPECT_EQ(p->ResponseJsonFilePath, "rs");
  EXPECT_EQ(p->RequestTempJsonFilePath, "rqt");
  EXPECT_EQ(p->ResponseTempJsonFilePath, "rst");
  EXPECT_EQ(p->AutomesureTempJsonFilePath, "amt");
  EXPECT_EQ(p->AutomesureJsonFilePath, "am");
  EXPECT_EQ(p->MockPngFile, "m1");
  EXPECT_EQ(p->MockPngFile2, "m2");
  EXPECT_EQ(p->PhotoPath, "ph");
}

struct BrokenFile {
  const char* name;
  std::string text;
};
void PrintTo(const BrokenFile& c, std::ostream* os) { *os << c.name; }

class BrokenConfiguration : public StartupReading,
                            public ::testing::WithParamInterface<BrokenFile> {};

TEST_P(BrokenConfiguration, PrintsExactlyTheFailureLine) {
  bool ok = true;
  EXPECT_EQ(Read(GetParam().text, &ok), "CORE: Failed to parse toml file!\n");
  EXPECT_FALSE(ok);
}

std::string Without(const std::string& key) {
  std::string text = kPaths;
  const size_t at = text.find(key + " =");
  text.erase(at, text.find('\n', at) - at + 1);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenConfiguration,
    ::testing::Values(
        BrokenFile{"Empty", ""}, BrokenFile{"NotToml", "this is { not toml"},
        BrokenFile{"TableMissing", "[other]\nRequestJsonFilePath = \"x\"\n"},
        BrokenFile{"OtherTableName",
                   std::string(kPaths).replace(0, std::string("[jsonfiler]").size(), "[files]")},
        BrokenFile{"KeyMissingFirst", Without("RequestJsonFilePath")},
        BrokenFile{"KeyMissingLast", Without("PhotoPath")},
        BrokenFile{"KeyNotString", Without("MockPngFile2") + "MockPngFile2 = 5\n"},
        BrokenFile{"KeyIsTable", Without("PhotoPath") + "[jsonfiler.PhotoPath]\na = 1\n"},
        // Found by fuzzing: the TOML reader used to read past its buffer on this one.
        BrokenFile{"UnterminatedLiteralKeyWithInvalidBytes",
                   std::string(" '\xff\xff\xff\xff\xff\xff\xff\xff'\0o", 13)},
        // Found by fuzzing: deep nesting overflowed the TOML reader's stack.
        BrokenFile{"DeeplyNestedArrays", std::string(kPaths) + "x = " + std::string(100000, '[')},
        BrokenFile{"InvalidUtf8InValue", Without("PhotoPath") + "PhotoPath = \"\xc3\x28\"\n"}),
    [](const ::testing::TestParamInfo<BrokenFile>& i) { return i.param.name; });

struct OffsetCase {
  const char* name;
  std::string lines;
  std::string printed;
  std::pair<int, int> applied;
};
void PrintTo(const OffsetCase& c, std::ostream* os) { *os << c.name; }

class RegionOffset : public StartupReading, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(RegionOffset, ReadsLikeStof) {
  bool ok = false;
  EXPECT_EQ(Read(kPaths + GetParam().lines, &ok), GetParam().printed);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Configuration::getInstance()->GetRegionOffset(), GetParam().applied);
}

const std::string kNotFound = "CORE: Region Offset not found in toml file, use default!\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RegionOffset,
    ::testing::Values(
        OffsetCase{"Fractions",
                   "RegionOffsetX = \"12.9\"\nRegionOffsetY = \"-3.7\"\n",
                   "CORE: 22Region Offset found X=12.9 Y=-3.7\n",
                   {12, -3}},
        OffsetCase{"TrailingText",
                   "RegionOffsetX = \"15px\"\nRegionOffsetY = \" 2\"\n",
                   "CORE: 22Region Offset found X=15 Y=2\n",
                   {15, 2}},
        OffsetCase{"Exponent",
                   "RegionOffsetX = \"1e3\"\nRegionOffsetY = \"0\"\n",
                   "CORE: 22Region Offset found X=1000 Y=0\n",
                   {1000, 0}},
        OffsetCase{"OutOfRange",
                   "RegionOffsetX = \"20000\"\nRegionOffsetY = \"0\"\n",
                   "CORE: 22Region Offset found X=20000 Y=0\n",
                   {0, 40}},
        OffsetCase{"NotFinite",
                   "RegionOffsetX = \"nan\"\nRegionOffsetY = \"inf\"\n",
                   "CORE: 22Region Offset found X=nan Y=inf\n",
                   {0, 40}},
        OffsetCase{"TooLargeForInt",
                   "RegionOffsetX = \"1e30\"\nRegionOffsetY = \"1\"\n",
                   "CORE: 22Region Offset found X=1e+30 Y=1\n",
                   {0, 40}},
        OffsetCase{"OutOfFloatRange",
                   "RegionOffsetX = \"1e39\"\nRegionOffsetY = \"1\"\n",
                   kNotFound,
                   {0, 40}},
        OffsetCase{
            "IntegerNotString", "RegionOffsetX = 12\nRegionOffsetY = \"3\"\n", kNotFound, {0, 40}},
        OffsetCase{
            "NoNumber", "RegionOffsetX = \"px15\"\nRegionOffsetY = \"3\"\n", kNotFound, {0, 40}},
        OffsetCase{"OnlyX", "RegionOffsetX = \"5\"\n", kNotFound, {0, 40}},
        OffsetCase{"Absent", "", kNotFound, {0, 40}}),
    [](const ::testing::TestParamInfo<OffsetCase>& i) { return i.param.name; });

struct MethodCase {
  const char* name;
  std::string top;      // before the "jsonfiler" table
  std::string tables;   // appended after the "jsonfiler" table
  std::string printed;  // what follows the region offset line
  MeasuringMethod method;
};
void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.name; }

class MeasuringMethodReading : public StartupReading,
                               public ::testing::WithParamInterface<MethodCase> {};

// The table is optional and can never stop the start: whatever it holds, the paths are read and
// the station starts, with "contour" unless "footprint" is asked for by name.
TEST_P(MeasuringMethodReading, ChoosesTheMethodOrKeepsContour) {
  CoreParams* p = CoreParams::getInstance();
  // The opposite of what is expected, so that the reading has to set it.
  p->MeasureMethod = GetParam().method == MeasuringMethod::Contour ? MeasuringMethod::Footprint
                                                                   : MeasuringMethod::Contour;
  bool ok = false;
  const std::string text = GetParam().top + kPaths +
                           "RegionOffsetX = \"0\"\nRegionOffsetY = \"40\"\n" + GetParam().tables;
  EXPECT_EQ(Read(text, &ok), "CORE: 22Region Offset found X=0 Y=40\n" + GetParam().printed);
  EXPECT_TRUE(ok);
  EXPECT_EQ(p->MeasureMethod, GetParam().method);
  EXPECT_EQ(p->PhotoPath, "ph");
  p->MeasureMethod = MeasuringMethod::Contour;
}

const std::string kStaysContour = "measuring method stays \"contour\"\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, MeasuringMethodReading,
    ::testing::Values(
        MethodCase{"TableAbsent", "", "", "", MeasuringMethod::Contour},
        MethodCase{"Contour", "", "[measurement]\nmethod = \"contour\"\n", "",
                   MeasuringMethod::Contour},
        MethodCase{"Footprint", "", "[measurement]\nmethod = \"footprint\"\n",
                   "CORE: Measuring method footprint\n", MeasuringMethod::Footprint},
        MethodCase{"FootprintAmongOtherTables", "",
                   "[other]\na = 1\n[measurement]\n# comment\nmethod = 'footprint' # literal\n",
                   "CORE: Measuring method footprint\n", MeasuringMethod::Footprint},
        MethodCase{"TableWithoutMethod", "", "[measurement]\nother = 1\n", "",
                   MeasuringMethod::Contour},
        MethodCase{"UnknownValue", "", "[measurement]\nmethod = \"Footprint\"\n",
                   "CORE: Unknown measuring method \"Footprint\" in measurement.method "
                   "(\"contour\" or \"footprint\"), " +
                       kStaysContour,
                   MeasuringMethod::Contour},
        MethodCase{
            "UnknownValueWithControlCharacters", "",
            "[measurement]\nmethod = \"foot\\nprint\\u001b\"\n",
            "CORE: Unknown measuring method \"foot\\u000Aprint\\u001B\" in measurement.method "
            "(\"contour\" or \"footprint\"), " +
                kStaysContour,
            MeasuringMethod::Contour},
        MethodCase{"EmptyValue", "", "[measurement]\nmethod = \"\"\n",
                   "CORE: Unknown measuring method \"\" in measurement.method "
                   "(\"contour\" or \"footprint\"), " +
                       kStaysContour,
                   MeasuringMethod::Contour},
        MethodCase{"NotAString", "", "[measurement]\nmethod = 2\n",
                   "CORE: measurement.method is not a string, " + kStaysContour,
                   MeasuringMethod::Contour},
        MethodCase{"ArrayOfNames", "", "[measurement]\nmethod = [\"footprint\"]\n",
                   "CORE: measurement.method is not a string, " + kStaysContour,
                   MeasuringMethod::Contour},
        MethodCase{"NotATable", "measurement = \"footprint\"\n", "",
                   "CORE: \"measurement\" is not a table, " + kStaysContour,
                   MeasuringMethod::Contour}),
    [](const ::testing::TestParamInfo<MethodCase>& i) { return i.param.name; });

TEST_F(StartupReading, BrokenPathsFailWhateverTheMethod) {
  CoreParams::getInstance()->MeasureMethod = MeasuringMethod::Contour;
  bool ok = true;
  EXPECT_EQ(Read(Without("PhotoPath") + "[measurement]\nmethod = \"footprint\"\n", &ok),
            "CORE: Failed to parse toml file!\n");
  EXPECT_FALSE(ok);
}

struct TextCase {
  const char* name;
  std::string text;
  bool accepted;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class TomlText : public ::testing::TestWithParam<TextCase> {};

TEST_P(TomlText, AcceptsOnlyWhatTomlAllows) {
  EXPECT_EQ(core::IsTomlText(GetParam().text), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TomlText,
    ::testing::Values(TextCase{"Plain", "a = \"b\"\r\n\tc = 1\n", true},
                      TextCase{"TwoByteUtf8", "a = \"\xc3\xa9\"", true},
                      TextCase{"FourByteUtf8", "a = \"\xf0\x9f\x93\xa6\"", true},
                      TextCase{"Nul", std::string("a\0b", 3), false},
                      TextCase{"Escape", "a\x1b", false}, TextCase{"Delete", "a\x7f", false},
                      TextCase{"LoneContinuation", "\x80", false},
                      TextCase{"Overlong", "\xc0\xaf", false},
                      TextCase{"Surrogate", "\xed\xa0\x80", false},
                      TextCase{"AboveUnicode", "\xf4\x90\x80\x80", false},
                      TextCase{"Truncated", "\xe2\x82", false}),
    [](const ::testing::TestParamInfo<TextCase>& i) { return i.param.name; });

struct DepthCase {
  const char* name;
  std::string text;
  size_t depth;
};
void PrintTo(const DepthCase& c, std::ostream* os) { *os << c.name; }

class TomlNesting : public ::testing::TestWithParam<DepthCase> {};

TEST_P(TomlNesting, CountsOnlyStructure) {
  EXPECT_EQ(core::TomlNestingDepth(GetParam().text), GetParam().depth);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TomlNesting,
    ::testing::Values(DepthCase{"Tables", "[a]\n[[b]]\nc = 1\n", 2},
                      DepthCase{"InlineInArray", "x = [ { a = [1] } ]", 3},
                      DepthCase{"BracketsInStrings", "x = \"[[[[\"\ny = '{{{'\n", 0},
                      DepthCase{"EscapedQuote", "x = \"\\\"[[\"\n", 0},
                      DepthCase{"MultiLineStrings", "x = \"\"\"\n[[\n\"\"\"\ny = '''\n{{\n'''", 0},
                      DepthCase{"Comment", "# [[[[\nx = [1]", 1},
                      DepthCase{"UnbalancedClose", "]]]x = [1]", 1}),
    [](const ::testing::TestParamInfo<DepthCase>& i) { return i.param.name; });

TEST(CommandLine, EchoesEveryWordAndInterpretsModes) {
  CoreParams* p = CoreParams::getInstance();
  p->Automeasure = true;
  const char* argv[] = {"./dimcore",     "disable_automeasure", "Disable_Lidar",
                        "disable_lidar", "disable_scales",      "disable_lidar"};
  std::ostringstream out;
  const core::CommandLine words = core::ParseCommandLine(6, argv, p, out);
  EXPECT_EQ(out.str(),
            "0 ./dimcore\nCORE: Mode is automeasure\n"
            "1 disable_automeasure\nCORE: Mode is default\n"
            "2 Disable_Lidar\nCORE: Mode is automeasure\n"
            "3 disable_lidar\nCORE: Disabling lidar\nCORE: Mode is automeasure\n"
            "4 disable_scales\nCORE: Disabling scales\nCORE: Mode is automeasure\n"
            "5 disable_lidar\nCORE: Disabling lidar\nCORE: Mode is automeasure\n");
  EXPECT_TRUE(words.disable_lidar);
  EXPECT_TRUE(words.disable_scales);
  EXPECT_FALSE(p->Automeasure);
  p->Automeasure = true;
}

TEST(CommandLine, ProgramPathAloneKeepsEverythingOn) {
  CoreParams* p = CoreParams::getInstance();
  p->Automeasure = true;
  const char* argv[] = {"dimcore"};
  std::ostringstream out;
  const core::CommandLine words = core::ParseCommandLine(1, argv, p, out);
  EXPECT_EQ(out.str(), "0 dimcore\nCORE: Mode is automeasure\n");
  EXPECT_FALSE(words.disable_lidar);
  EXPECT_FALSE(words.disable_scales);
  EXPECT_TRUE(p->Automeasure);
}

}  // namespace
