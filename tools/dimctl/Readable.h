#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/dimctl/Exchange.h"

namespace dimctl {

// Exit codes of dimctl.
inline constexpr int kExitOk = 0;        // answered with "STATUS" true (or without "STATUS")
inline constexpr int kExitRefused = 1;   // answered with "STATUS" false
inline constexpr int kExitNoAnswer = 2;  // no response: timeout, or the request was not used
inline constexpr int kExitNotSent = 3;   // nothing sent: configuration, busy request path
inline constexpr int kExitUsage = 64;    // wrong words on the command line
inline constexpr int kExitInterrupted = 130;

enum class Command { Ping, Measure, Calibrate, GetConfig, SetConfig, Stop, Watch, Send };

// The request document of a command that takes no arguments.
std::string RequestFor(Command command);

// The exit code for an exchange: by "STATUS" when a readable response came.
int ExitCodeFor(const Result& result);

// A response (or automeasure result) as text for a person: the values with their units, the
// outcome, and every raised error flag with what it means. Ends with a line feed.
std::string Describe(Command command, const std::string& responseLine);

// Why no response came, for standard error.
std::string ExplainNoAnswer(const Result& result, const StationPaths& paths,
                            const Options& options);

// A number as short as it can be written and still read back as the same single-precision value
// (0.29 rather than 0.28999999165534973), without an exponent for whole numbers.
std::string FormatNumber(double value);

// One KEY=VALUE word of set-config. Keys are the parameter names (any case); values are checked
// for the parameter's type. Throws std::invalid_argument with a message for the user.
struct Assignment {
  std::string key;
  nlohmann::json value;
};
Assignment ParseAssignment(const std::string& word);

// The SET_CONFIGURATION request: the thirteen parameters of base (a GET_CONFIGURATION response or
// a document given by the user; other members are dropped, except that a user's document is sent
// as it is) with the assignments applied.
nlohmann::json BuildSetConfiguration(const nlohmann::json& base,
                                     const std::vector<Assignment>& assignments,
                                     bool keepOtherMembers);

// For a refused SET_CONFIGURATION: which values lie outside the ranges the station accepts, or are
// missing. One line each, e.g. "MAX_AREA = 200000000 is outside 10 to 200000".
std::vector<std::string> RefusalHints(const nlohmann::json& request);

}  // namespace dimctl
