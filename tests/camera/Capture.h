#pragma once

#include <ostream>
#include <sstream>
#include <string>

namespace cameratest {

// Redirects a standard stream into a string for its lifetime.
class Capture {
 public:
  explicit Capture(std::ostream& stream) : stream_(stream), old_(stream.rdbuf(text_.rdbuf())) {}
  ~Capture() { stream_.rdbuf(old_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::string str() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::ostream& stream_;
  std::streambuf* old_;
};

// Names parameterised cases after their `name` member.
struct CaseName {
  template <class Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

}  // namespace cameratest
