#pragma once

#include <iosfwd>
#include <string>

enum class ModuleEnum : int { UNKNOWN = 0, SERVER = 1, SCALES = 2, VISION = 3, CORE = 4 };

enum class VisionErrorsEnum : int { SUCCESS = 0, CANT_INIT = 1, FATAL = 2, FILE_NOT_FOUND = 3 };

// Turns a module tag and an error number into one fixed message on standard error. Nothing is
// added to the text: messages without their own newline leave the line open.
class ErrorParser {
 public:
  explicit ErrorParser(ModuleEnum module);
  void Print(int code);
  // Same as Print, to another stream (used by the tests).
  void Print(int code, std::ostream& out);
  const std::string& Output() const { return output; }

 private:
  ModuleEnum module;
  std::string output;
};
