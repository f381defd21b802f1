// dimctl: drives a dimcore station through its exchange files. The work is in the library; this
// file only reads the words of the command line.
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/dimctl/Exchange.h"
#include "tools/dimctl/Readable.h"
#include "tools/dimctl/StationConfig.h"

namespace {

using namespace dimctl;

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted.store(true); }

const char kUsage[] =
    "usage: dimctl [options] COMMAND [ARGUMENTS]\n"
    "\n"
    "Drives the dimcore station whose configs/appconfig.toml is in the current folder.\n"
    "\n"
    "commands:\n"
    "  ping                      is the station answering?\n"
    "  measure                   dimensions (mm) and weight (g) of the box on the platform\n"
    "  calibrate                 calibrate the camera on the empty platform and zero the scale\n"
    "  get-config                the thirteen measurement parameters\n"
    "  set-config KEY=VALUE...   change parameters (the others keep their current values)\n"
    "  set-config --file F.json  send the parameters of a JSON document (KEY=VALUE on top)\n"
    "  stop                      stop the station (it powers the device off)\n"
    "  watch                     print each automeasure result as it appears\n"
    "  send JSON                 send a request document as it is\n"
    "\n"
    "options:\n"
    "  --config PATH      the station's appconfig.toml (default configs/appconfig.toml)\n"
    "  --timeout SECONDS  how long to wait for the answer (default 210; watch: no limit)\n"
    "  --json             print the response as the raw JSON line\n"
    "  --count N          watch: end after N results\n"
    "\n"
    "exit status: 0 done (STATUS true), 1 STATUS false, 2 no response (timeout, or the\n"
    "station could not use the request), 3 nothing sent, 64 wrong usage, 130 interrupted\n";

struct Words {
  std::string configPath = kDefaultConfigPath;
  double timeoutSeconds = -1;
  bool json = false;
  long count = 0;
  std::string file;
  std::string command;
  std::vector<std::string> arguments;
};

int Usage(const std::string& problem) {
  std::cerr << "dimctl: " << problem << "\n\n" << kUsage;
  return kExitUsage;
}

bool ParseWords(int argc, char** argv, Words* words, std::string* problem) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        *problem = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    if (word == "--config") {
      const char* v = value("--config");
      if (v == nullptr) return false;
      words->configPath = v;
    } else if (word == "--timeout") {
      const char* v = value("--timeout");
      if (v == nullptr) return false;
      char* end = nullptr;
      words->timeoutSeconds = std::strtod(v, &end);
      if (*end != '\0' || !(words->timeoutSeconds > 0) || words->timeoutSeconds > 1e6) {
        *problem = "--timeout takes a number of seconds above 0";
        return false;
      }
    } else if (word == "--count") {
      const char* v = value("--count");
      if (v == nullptr) return false;
      char* end = nullptr;
      words->count = std::strtol(v, &end, 10);
      if (*end != '\0' || words->count <= 0) {
        *problem = "--count takes a whole number above 0";
        return false;
      }
    } else if (word == "--file") {
      const char* v = value("--file");
      if (v == nullptr) return false;
      words->file = v;
    } else if (word == "--json") {
      words->json = true;
    } else if (word == "-h" || word == "--help") {
      words->command = "help";
    } else if (word.size() > 1 && word[0] == '-' && word[1] == '-') {
      *problem = "unknown option " + word;
      return false;
    } else if (words->command.empty()) {
      words->command = word;
    } else {
      words->arguments.push_back(word);
    }
  }
  return true;
}

// Prints an exchange's outcome and returns the exit code.
int Report(const Result& result, Command command, const StationPaths& paths, const Options& options,
           bool json) {
  if (result.outcome == Outcome::Answered) {
    std::cout << (json ? result.line : Describe(command, result.line)) << std::flush;
  } else if (result.outcome == Outcome::Taken) {
    std::cout << "The station took the stop request and is shutting down (it powers the device "
                 "off unless DIMCORE_POWEROFF_COMMAND says otherwise).\n";
  } else {
    std::cerr << "dimctl: " << ExplainNoAnswer(result, paths, options);
  }
  return ExitCodeFor(result);
}

int SetConfig(const Words& words, const StationPaths& paths, const Options& options) {
  std::vector<Assignment> assignments;
  for (const std::string& word : words.arguments) {
    try {
      assignments.push_back(ParseAssignment(word));
    } catch (const std::invalid_argument& e) {
      return Usage(e.what());
    }
  }
  nlohmann::json base;
  const bool fromFile = !words.file.empty();
  if (fromFile) {
    std::ifstream in(words.file, std::ios::binary);
    if (!in.is_open()) return Usage("cannot open " + words.file);
    base = nlohmann::json::parse(in, nullptr, false);
    if (base.is_discarded() || !base.is_object()) {
      return Usage(words.file + " does not hold a JSON object");
    }
  } else {
    if (assignments.empty()) return Usage("set-config needs KEY=VALUE words or --file");
    const Result current = Send(paths, RequestFor(Command::GetConfig), options);
    if (current.outcome != Outcome::Answered) {
      return Report(current, Command::GetConfig, paths, options, words.json);
    }
    base = nlohmann::json::parse(current.line, nullptr, false);
  }
  const nlohmann::json request = BuildSetConfiguration(base, assignments, fromFile);
  const Result result = Send(paths, request.dump() + "\n", options);
  const int code = Report(result, Command::SetConfig, paths, options, words.json);
  if (code == kExitRefused && !words.json) {
    for (const std::string& hint : RefusalHints(request)) std::cout << "  " << hint << "\n";
  }
  return code;
}

int Watch(const Words& words, const StationPaths& paths, Options options) {
  if (words.timeoutSeconds < 0) options.timeout = std::chrono::milliseconds(0);
  // A result already waiting is an old one: every result printed is taken after the start.
  DiscardAutomeasure(paths);
  for (long seen = 0; words.count == 0 || seen < words.count; ++seen) {
    const Result result = NextAutomeasure(paths, options);
    if (result.outcome == Outcome::Interrupted) return kExitOk;
    if (result.outcome == Outcome::TimedOut) {
      std::cerr << "dimctl: no automeasure result within " << FormatNumber(words.timeoutSeconds)
                << " s (is the station running, and without disable_automeasure?)\n";
      return kExitNoAnswer;
    }
    if (words.json) {
      std::cout << result.line << std::flush;
    } else {
      std::cout << (seen > 0 ? "\n" : "") << Describe(Command::Watch, result.line) << std::flush;
    }
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Words words;
  std::string problem;
  if (!ParseWords(argc, argv, &words, &problem)) return Usage(problem);
  if (words.command == "help") {
    std::cout << kUsage;
    return kExitOk;
  }
  if (words.command.empty()) return Usage("no command given");

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  Options options;
  options.interrupted = &interrupted;
  if (words.timeoutSeconds > 0) {
    options.timeout =
        std::chrono::milliseconds(static_cast<long long>(words.timeoutSeconds * 1000.0 + 0.5));
  }

  const bool takesArguments = words.command == "set-config" || words.command == "send";
  if (!takesArguments && !words.arguments.empty()) {
    return Usage("unexpected word " + words.arguments.front());
  }
  if (!words.file.empty() && words.command != "set-config") {
    return Usage("--file belongs to set-config");
  }
  if (words.count != 0 && words.command != "watch") return Usage("--count belongs to watch");

  StationPaths paths;
  try {
    paths = LoadStationPaths(words.configPath);
  } catch (const std::exception& e) {
    std::cerr << "dimctl: " << e.what() << "\n";
    return kExitNotSent;
  }

  const std::string& c = words.command;
  if (c == "ping" || c == "measure" || c == "calibrate" || c == "get-config") {
    const Command command = c == "ping"        ? Command::Ping
                            : c == "measure"   ? Command::Measure
                            : c == "calibrate" ? Command::Calibrate
                                               : Command::GetConfig;
    return Report(Send(paths, RequestFor(command), options), command, paths, options, words.json);
  }
  if (c == "set-config") return SetConfig(words, paths, options);
  if (c == "stop") return Report(SendStop(paths, options), Command::Stop, paths, options, false);
  if (c == "watch") return Watch(words, paths, options);
  if (c == "send") {
    if (words.arguments.size() != 1) return Usage("send takes one JSON document");
    const nlohmann::json doc = nlohmann::json::parse(words.arguments[0], nullptr, false);
    if (doc.is_discarded()) return Usage("send: not a JSON document: " + words.arguments[0]);
    if (doc.is_object() && doc.value("COMMAND", nlohmann::json()) == "APPLICATION_STOP") {
      return Report(SendStop(paths, options), Command::Stop, paths, options, false);
    }
    return Report(Send(paths, doc.dump() + "\n", options), Command::Send, paths, options,
                  words.json);
  }
  return Usage("unknown command " + c);
}
