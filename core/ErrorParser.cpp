#include "core/ErrorParser.h"

#include <iostream>

namespace {

struct MessageSet {
  const char* prefix;
  const char* texts[3];  // numbers 1, 2, 3; nullptr where the prefix stands alone
};

const MessageSet* MessagesFor(ModuleEnum module) {
  static const MessageSet kUnknown{"ERROR[UNKNOWN MODULE] : ", {"...", "...", "..."}};
  static const MessageSet kServer{
      "ERROR[SERVER MODULE] : ",
      {"Cannot execute file delete command.\n", "Cannot clear socket file.\n", "ERROR 3"}};
  static const MessageSet kScales{"ERROR[SCALES MODULE] : ", {"ERROR 1", "ERROR 2", "ERROR 3"}};
  static const MessageSet kVision{"ERROR[VISION MODULE] : ", {"Can't init.\n", nullptr, nullptr}};
  static const MessageSet kCore{"ERROR[CORE MODULE] : ",
                                {"Server closed.\n", "ERROR 2", "ERROR 3"}};
  switch (module) {
    case ModuleEnum::UNKNOWN:
      return &kUnknown;
    case ModuleEnum::SERVER:
      return &kServer;
    case ModuleEnum::SCALES:
      return &kScales;
    case ModuleEnum::VISION:
      return &kVision;
    case ModuleEnum::CORE:
      return &kCore;
  }
  return nullptr;
}

}  // namespace

ErrorParser::ErrorParser(ModuleEnum module_) : module(module_) {}

void ErrorParser::Print(int code) { Print(code, std::cerr); }

void ErrorParser::Print(int code, std::ostream& out) {
  const MessageSet* set = MessagesFor(module);
  if (set != nullptr) {
    output = set->prefix;
    // UNKNOWN answers "..." for every number; the others only for 1 to 3.
    if (module == ModuleEnum::UNKNOWN) {
      output += "...";
    } else if (code >= 1 && code <= 3 && set->texts[code - 1] != nullptr) {
      output += set->texts[code - 1];
    }
  }
  out << output;
  out.flush();
}
