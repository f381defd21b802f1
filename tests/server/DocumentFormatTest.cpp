// The exchange document format and the reading of request values, checked on the JSON library the
// station is built with.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "server/ConfigurationJson.h"
#include "server/ExchangeFiles.h"

namespace {

using nlohmann::json;
using servermod::DocumentLine;

struct FloatCase {
  const char* name;
  float value;
  const char* text;
};
void PrintTo(const FloatCase& c, std::ostream* os) { *os << c.name; }

class FloatWidening : public ::testing::TestWithParam<FloatCase> {};

// A single-precision value is widened to double and written in the shortest text that reads back
// as that double, with ".0" for whole numbers; non-finite values become null.
TEST_P(FloatWidening, WrittenAsDouble) {
  json doc;
  doc["V"] = static_cast<double>(GetParam().value);
  EXPECT_EQ(DocumentLine(doc), std::string("{\"V\":") + GetParam().text + "}\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FloatWidening,
    ::testing::Values(FloatCase{"Tenth", 0.1f, "0.10000000149011612"},
                      FloatCase{"Whole", 300.0f, "300.0"},
                      FloatCase{"DefaultMinDepth", 0.29f, "0.28999999165534973"},
                      FloatCase{"DefaultMaxArea", 200000000.0f, "200000000.0"},
                      FloatCase{"DummyWeight", 1234567.0f, "1234567.0"},
                      FloatCase{"Zero", 0.0f, "0.0"}, FloatCase{"NegativeZero", -0.0f, "-0.0"},
                      FloatCase{"Largest", std::numeric_limits<float>::max(),
                                "3.4028234663852886e+38"},
                      FloatCase{"NaN", std::numeric_limits<float>::quiet_NaN(), "null"},
                      FloatCase{"Infinity", std::numeric_limits<float>::infinity(), "null"},
                      FloatCase{"MinusInfinity", -std::numeric_limits<float>::infinity(), "null"}),
    [](const ::testing::TestParamInfo<FloatCase>& i) { return i.param.name; });

TEST(DocumentLine, CompactWithMembersInByteOrder) {
  json doc;
  doc["b"] = 1;
  doc["STATUS"] = true;
  doc["_"] = false;
  doc["a"] = -2;
  doc["A"] = 3;
  EXPECT_EQ(DocumentLine(doc), "{\"A\":3,\"STATUS\":true,\"_\":false,\"a\":-2,\"b\":1}\n");
}

struct ParseCase {
  const char* name;
  std::string bytes;
  bool parses;
};
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class RequestParsing : public ::testing::TestWithParam<ParseCase> {};

// Exactly one JSON value, whitespace around it allowed; comments and trailing content make the
// whole request unreadable, and so does a number beyond the range of a double (the library reports
// that as out_of_range, not as a parse error: the poll loop must refuse both alike).
TEST_P(RequestParsing, OneValueOnly) {
  if (GetParam().parses) {
    EXPECT_NO_THROW(servermod::ParseRequest(GetParam().bytes));
  } else {
    EXPECT_THROW(servermod::ParseRequest(GetParam().bytes), json::exception);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestParsing,
    ::testing::Values(ParseCase{"Object", "{\"COMMAND\":\"PING\"}", true},
                      ParseCase{"Whitespace", " \n\t{\"COMMAND\":\"PING\"}\r\n\n", true},
                      ParseCase{"Array", "[1,2]", true}, ParseCase{"Empty", "", false},
                      ParseCase{"LoneBrace", "{", false},
                      ParseCase{"LineComment", "// ping\n{\"COMMAND\":\"PING\"}", false},
                      ParseCase{"BlockComment", "{/* x */\"COMMAND\":\"PING\"}", false},
                      ParseCase{"TrailingText", "{\"COMMAND\":\"PING\"} x", false},
                      ParseCase{"TwoValues", "{}{}", false},
                      ParseCase{"TruncatedWrite", "{\"COMMAND\":\"PI", false},
                      ParseCase{"NumberOverflow", "{\"COMMAND\":\"PING\",\"X\":1e400}", false},
                      ParseCase{"ParameterOverflow", "{\"FOW_WIDTH\":1e+30001615}", false}),
    [](const ::testing::TestParamInfo<ParseCase>& i) { return i.param.name; });

TEST(RequestParsing, RefusesMoreThanOneMebibyte) {
  const std::string big(servermod::kMaxRequestBytes + 1, ' ');
  EXPECT_THROW(servermod::ParseRequest(big), std::length_error);
}

struct IntCase {
  const char* name;
  const char* value;
  int expected;
};
void PrintTo(const IntCase& c, std::ostream* os) { *os << c.name; }

class IntParameter : public ::testing::TestWithParam<IntCase> {};

// Any number, and booleans as 1 and 0; fractions truncated toward zero; values beyond int saturate
// so that the range check refuses them rather than a wrapped value slipping into range.
TEST_P(IntParameter, Converted) {
  EXPECT_EQ(servermod::ParameterToInt(json::parse(GetParam().value)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntParameter,
    ::testing::Values(IntCase{"Whole", "4", 4}, IntCase{"Negative", "-10000", -10000},
                      IntCase{"Fraction", "2.9", 2}, IntCase{"NegativeFraction", "-2.9", -2},
                      IntCase{"True", "true", 1}, IntCase{"False", "false", 0},
                      IntCase{"WrapsToThreeIfCast", "4294967299", std::numeric_limits<int>::max()},
                      IntCase{"Unsigned64", "18446744073709551615",
                              std::numeric_limits<int>::max()},
                      IntCase{"HugeFloat", "1e300", std::numeric_limits<int>::max()},
                      IntCase{"HugeNegative", "-1e300", std::numeric_limits<int>::min()}),
    [](const ::testing::TestParamInfo<IntCase>& i) { return i.param.name; });

TEST(FloatParameter, Converted) {
  EXPECT_EQ(servermod::ParameterToFloat(json::parse("0.1")), 0.1f);
  EXPECT_EQ(servermod::ParameterToFloat(json::parse("300")), 300.0f);
  EXPECT_EQ(servermod::ParameterToFloat(json::parse("true")), 1.0f);
  EXPECT_EQ(servermod::ParameterToFloat(json::parse("1e300")),
            std::numeric_limits<float>::infinity());
  EXPECT_EQ(servermod::ParameterToFloat(json::parse("-1e300")),
            -std::numeric_limits<float>::infinity());
}

// Strings, null, arrays and objects fail the conversion with the library's message, and only a
// boolean is a boolean.
TEST(Parameters, WrongTypesThrow) {
  for (const char* bad : {"\"3\"", "null", "[1]", "{}"}) {
    EXPECT_THROW(servermod::ParameterToInt(json::parse(bad)), json::type_error) << bad;
    EXPECT_THROW(servermod::ParameterToFloat(json::parse(bad)), json::type_error) << bad;
  }
  EXPECT_TRUE(servermod::ParameterToBool(json::parse("true")));
  try {
    servermod::ParameterToBool(json::parse("1"));
    ADD_FAILURE() << "a number is not a boolean";
  } catch (const json::type_error& e) {
    EXPECT_STREQ(e.what(), "[json.exception.type_error.302] type must be boolean, but is number");
  }
  EXPECT_THROW(servermod::ParameterToBool(json::parse("\"true\"")), json::type_error);
}

}  // namespace
