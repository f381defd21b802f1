#include <gtest/gtest.h>

#include <sstream>

#include "core/ErrorParser.h"

namespace {

struct MessageCase {
  ModuleEnum module;
  int code;
  const char* expected;
};

class ErrorMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessages, WritesExactlyTheTableText) {
  ErrorParser parser(GetParam().module);
  std::ostringstream out;
  parser.Print(GetParam().code, out);
  EXPECT_EQ(out.str(), GetParam().expected);
  EXPECT_EQ(parser.Output(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorMessages,
    ::testing::Values(MessageCase{ModuleEnum::UNKNOWN, 1, "ERROR[UNKNOWN MODULE] : ..."},
                      MessageCase{ModuleEnum::UNKNOWN, 9, "ERROR[UNKNOWN MODULE] : ..."},
                      MessageCase{ModuleEnum::SERVER, 1,
                                  "ERROR[SERVER MODULE] : Cannot execute file delete command.\n"},
                      MessageCase{ModuleEnum::SERVER, 2,
                                  "ERROR[SERVER MODULE] : Cannot clear socket file.\n"},
                      MessageCase{ModuleEnum::SERVER, 3, "ERROR[SERVER MODULE] : ERROR 3"},
                      MessageCase{ModuleEnum::SERVER, 0, "ERROR[SERVER MODULE] : "},
                      MessageCase{ModuleEnum::SCALES, 1, "ERROR[SCALES MODULE] : ERROR 1"},
                      MessageCase{ModuleEnum::SCALES, 2, "ERROR[SCALES MODULE] : ERROR 2"},
                      MessageCase{ModuleEnum::SCALES, 3, "ERROR[SCALES MODULE] : ERROR 3"},
                      MessageCase{ModuleEnum::VISION, 1, "ERROR[VISION MODULE] : Can't init.\n"},
                      MessageCase{ModuleEnum::VISION, 2, "ERROR[VISION MODULE] : "},
                      MessageCase{ModuleEnum::VISION, 3, "ERROR[VISION MODULE] : "},
                      MessageCase{ModuleEnum::CORE, 1, "ERROR[CORE MODULE] : Server closed.\n"},
                      MessageCase{ModuleEnum::CORE, 2, "ERROR[CORE MODULE] : ERROR 2"},
                      MessageCase{ModuleEnum::CORE, 7, "ERROR[CORE MODULE] : "},
                      MessageCase{ModuleEnum::CORE, -1, "ERROR[CORE MODULE] : "}));

TEST(ErrorParser, CallsDoNotAccumulate) {
  ErrorParser parser(ModuleEnum::SCALES);
  std::ostringstream first;
  std::ostringstream second;
  parser.Print(2, first);
  parser.Print(1, second);
  EXPECT_EQ(second.str(), "ERROR[SCALES MODULE] : ERROR 1");
}

TEST(ErrorParser, DefaultPrintGoesToStandardError) {
  ErrorParser parser(ModuleEnum::VISION);
  testing::internal::CaptureStderr();
  parser.Print(static_cast<int>(VisionErrorsEnum::CANT_INIT));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR[VISION MODULE] : Can't init.\n");
}

}  // namespace
