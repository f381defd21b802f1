#include "tools/scale-sim/ScaleSim.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "scales/WeightningData.h"

namespace scalesim {

namespace {

// A station that has not asked for this long has most likely closed the port; what it left
// unread would have been lost on a real line, so it is dropped before the next answer.
constexpr auto kStaleAnswerAge = std::chrono::seconds(1);
constexpr int kMaxRawBytes = 64;

bool ParseNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool ParseInt(const std::string& text, long low, long high, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string FormatKg(double kg) {
  std::ostringstream out;
  out << kg;
  return out.str();
}

std::string DivisorText(int code) {
  const int divisor = StepsPerKilogram(code);
  return divisor == 0 ? "no divisor: steps are kg" : std::to_string(divisor) + " steps per kg";
}

}  // namespace

// The scale's own table: how many steps make a kilogram for each discreteness code (0: none).
int StepsPerKilogram(int code) { return DiscretenessDivisor(code); }

bool StepsFor(double weightKg, int code, long* steps) {
  if (!std::isfinite(weightKg)) return false;
  const int divisor = StepsPerKilogram(code);
  const double exact = divisor == 0 ? weightKg : weightKg * divisor;
  if (std::fabs(exact) > static_cast<double>(kMaxSteps) + 0.5) return false;
  const long rounded = std::lround(exact);
  if (rounded > kMaxSteps || rounded < -kMaxSteps) return false;
  *steps = rounded;
  return true;
}

Frame EncodeFrame(double weightKg, int code, bool stable) {
  long steps = 0;
  if (!StepsFor(weightKg, code, &steps)) steps = weightKg < 0 ? -kMaxSteps : kMaxSteps;
  const bool negative = steps < 0;
  const unsigned long magnitude = static_cast<unsigned long>(negative ? -steps : steps);
  Frame frame{};
  frame[0] = static_cast<unsigned char>((stable ? 0x80 : 0) | (magnitude == 0 ? 0x40 : 0x20));
  frame[1] = static_cast<unsigned char>(code & 0xFF);
  frame[2] = static_cast<unsigned char>(magnitude & 0xFF);
  frame[3] = static_cast<unsigned char>((magnitude >> 8) & 0xFF);
  frame[4] = static_cast<unsigned char>(((magnitude >> 16) & 0x7F) | (negative ? 0x80 : 0));
  return frame;
}

std::string Hex(const unsigned char* bytes, size_t count) {
  std::string text;
  char two[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    if (i > 0) text += ' ';
    text += two;
  }
  return text;
}

ScaleSimulator::ScaleSimulator() : random_(std::random_device{}()) {}

ScaleSimulator::~ScaleSimulator() {
  Stop();
  if (device_ >= 0) close(device_);
  if (master_ >= 0) close(master_);
}

bool ScaleSimulator::Open(std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    if (device_ >= 0) close(device_);
    if (master_ >= 0) close(master_);
    device_ = master_ = -1;
    return false;
  };
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return fail("posix_openpt");
  if (grantpt(master_) != 0) return fail("grantpt");
  if (unlockpt(master_) != 0) return fail("unlockpt");
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname");
  path_ = name;
  // Our own hold on the device side: without it the master would read end-of-file and hang-ups
  // each time the station closes the port.
  device_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (device_ < 0) return fail("open device side");
  termios settings{};
  if (tcgetattr(device_, &settings) != 0) return fail("tcgetattr");
  cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B4800);
  cfsetospeed(&settings, B4800);
  if (tcsetattr(device_, TCSANOW, &settings) != 0) return fail("tcsetattr");
  // Answers are dropped rather than block the simulator when nobody reads them.
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
  return true;
}

void ScaleSimulator::Start() {
  if (master_ < 0 || thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread(&ScaleSimulator::Serve, this);
}

void ScaleSimulator::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

ScaleState ScaleSimulator::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

bool ScaleSimulator::WaitForRequests(uint64_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return requested_.wait_for(lock, timeout, [&] { return requests_ >= count; });
}

void ScaleSimulator::Serve() {
  unsigned char buffer[256];
  while (!stop_) {
    pollfd ready{master_, POLLIN, 0};
    const int n = poll(&ready, 1, 50);
    if (n <= 0) continue;
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) {
      // Nothing to read after all, or a transient error: do not spin.
      if (got < 0 && errno != EAGAIN && errno != EINTR) usleep(20000);
      continue;
    }
    for (ssize_t i = 0; i < got && !stop_; ++i) {
      if (buffer[i] == kWeightRequest) Answer();
    }
  }
}

void ScaleSimulator::Answer() {
  std::vector<unsigned char> bytes;
  int splitPauseMs = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const bool longSilence = requests_ > 0 && now - lastRequest_ > kStaleAnswerAge;
    lastRequest_ = now;
    if (longSilence) {
      int unread = 0;
      if (ioctl(device_, FIONREAD, &unread) == 0 && unread > 0) tcflush(device_, TCIFLUSH);
    }
    if (!rawAnswers_.empty()) {
      bytes = rawAnswers_.front();
      rawAnswers_.pop_front();
    } else {
      const Frame frame = EncodeFrame(state_.weightKg, state_.code, state_.stable);
      switch (state_.mode) {
        case AnswerMode::kWhole:
          bytes.assign(frame.begin(), frame.end());
          break;
        case AnswerMode::kSilent:
          break;
        case AnswerMode::kShort:
          bytes.assign(frame.begin(), frame.begin() + state_.shortLength);
          break;
        case AnswerMode::kGarbage: {
          std::uniform_int_distribution<int> length(1, 8);
          std::uniform_int_distribution<int> byte(0, 255);
          bytes.resize(static_cast<size_t>(length(random_)));
          for (auto& b : bytes) b = static_cast<unsigned char>(byte(random_));
          break;
        }
        case AnswerMode::kSplit:
          bytes.assign(frame.begin(), frame.end());
          splitPauseMs = state_.splitPauseMs;
          break;
      }
    }
  }
  if (splitPauseMs > 0 && bytes.size() > 2) {
    Write(bytes.data(), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(splitPauseMs));
    Write(bytes.data() + 2, bytes.size() - 2);
  } else if (!bytes.empty()) {
    Write(bytes.data(), bytes.size());
  }
  // Counted once the answer is on the line, so a test that waits for a request also knows that
  // its answer has been written.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_;
  }
  requested_.notify_all();
}

void ScaleSimulator::Write(const unsigned char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t n = write(master_, bytes, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nobody reads the line: the rest is lost, as on a real one
    }
    bytes += n;
    count -= static_cast<size_t>(n);
  }
}

std::string ScaleSimulator::Describe() const {
  const Frame frame = EncodeFrame(state_.weightKg, state_.code, state_.stable);
  long steps = 0;
  const bool fits = StepsFor(state_.weightKg, state_.code, &steps);
  std::ostringstream out;
  out << "weight " << FormatKg(state_.weightKg) << " kg";
  if (fits) {
    out << " (" << steps << " steps)";
  } else {
    out << " (too heavy for code " << state_.code << ": clamped)";
  }
  out << ", code " << state_.code << " (" << DivisorText(state_.code) << "), "
      << (state_.stable ? "stable" : "unstable") << ", ";
  switch (state_.mode) {
    case AnswerMode::kWhole:
      out << "answering";
      break;
    case AnswerMode::kSilent:
      out << "silent";
      break;
    case AnswerMode::kShort:
      out << "answering " << state_.shortLength << " bytes";
      break;
    case AnswerMode::kGarbage:
      out << "answering garbage";
      break;
    case AnswerMode::kSplit:
      out << "answering in two writes " << state_.splitPauseMs << " ms apart";
      break;
  }
  out << "; frame " << Hex(frame.data(), frame.size());
  return out.str();
}

std::string ScaleSimulator::Execute(const std::string& line, bool* quit) {
  std::istringstream words(line);
  std::string command;
  if (!(words >> command)) return "";
  command = Lower(command);
  std::vector<std::string> args;
  for (std::string w; words >> w;) args.push_back(w);

  std::lock_guard<std::mutex> lock(mutex_);
  auto wantArgs = [&](size_t low, size_t high) {
    return args.size() >= low && args.size() <= high;
  };

  if (command == "help" || command == "?") return Help();
  if (command == "quit" || command == "exit") {
    if (quit) *quit = true;
    return "bye";
  }
  if (command == "status") {
    return Describe() + "; " + std::to_string(requests_.load()) + " requests";
  }
  if (command == "weight" && wantArgs(1, 1)) {
    double kg = 0;
    if (!ParseNumber(args[0], &kg))
      return "error: weight wants a number of kilograms, e.g. weight 1.25";
    long steps = 0;
    if (!StepsFor(kg, state_.code, &steps)) {
      const int divisor = StepsPerKilogram(state_.code);
      const double most = divisor == 0 ? kMaxSteps : static_cast<double>(kMaxSteps) / divisor;
      return "error: " + FormatKg(kg) + " kg does not fit a frame with code " +
             std::to_string(state_.code) + " (at most " + FormatKg(most) + " kg)";
    }
    state_.weightKg = kg;
    return "ok: " + Describe();
  }
  if (command == "code" && wantArgs(1, 1)) {
    long code = 0;
    if (!ParseInt(args[0], 0, 255, &code)) return "error: code wants a number from 0 to 255";
    state_.code = static_cast<int>(code);
    return "ok: " + Describe();
  }
  if (command == "stable" && wantArgs(0, 0)) {
    state_.stable = true;
    return "ok: " + Describe();
  }
  if (command == "unstable" && wantArgs(0, 0)) {
    state_.stable = false;
    return "ok: " + Describe();
  }
  if (command == "silent" && wantArgs(0, 0)) {
    state_.mode = AnswerMode::kSilent;
    return "ok: " + Describe();
  }
  if (command == "normal" && wantArgs(0, 0)) {
    state_.mode = AnswerMode::kWhole;
    return "ok: " + Describe();
  }
  if (command == "short" && wantArgs(1, 1)) {
    long length = 0;
    if (!ParseInt(args[0], 1, 5, &length)) return "error: short wants a length from 1 to 5";
    state_.shortLength = static_cast<int>(length);
    state_.mode = length == 5 ? AnswerMode::kWhole : AnswerMode::kShort;
    return "ok: " + Describe();
  }
  if (command == "garbage" && wantArgs(0, 0)) {
    state_.mode = AnswerMode::kGarbage;
    return "ok: " + Describe();
  }
  if (command == "split" && wantArgs(0, 1)) {
    long pause = 10;
    if (!args.empty() && !ParseInt(args[0], 1, 10000, &pause)) {
      return "error: split wants a pause from 1 to 10000 ms";
    }
    state_.splitPauseMs = static_cast<int>(pause);
    state_.mode = AnswerMode::kSplit;
    return "ok: " + Describe();
  }
  if (command == "raw" && !args.empty()) {
    std::vector<unsigned char> bytes;
    for (const std::string& word : args) {
      char* end = nullptr;
      const unsigned long v = std::strtoul(word.c_str(), &end, 16);
      if (word.size() > 2 || *end != '\0' || v > 0xFF) {
        return "error: raw wants bytes in hexadecimal, e.g. raw 80 00 e8 03 00";
      }
      bytes.push_back(static_cast<unsigned char>(v));
    }
    if (bytes.size() > static_cast<size_t>(kMaxRawBytes)) {
      return "error: raw takes at most " + std::to_string(kMaxRawBytes) + " bytes";
    }
    rawAnswers_.push_back(bytes);
    return "ok: the next request is answered with " + Hex(bytes.data(), bytes.size()) + " (" +
           std::to_string(rawAnswers_.size()) + " queued)";
  }
  return "error: unknown command or wrong arguments: '" + line + "' (try help)";
}

std::string ScaleSimulator::Help() {
  return "commands, one per line:\n"
         "  weight KG      put KG kilograms on the scale (negative below the zero)\n"
         "  code N         discreteness code 0..255 (0: 1 g steps, 1: 0.1 g, 4: 10 g, 5 and 6: "
         "100 g, others: 1 kg)\n"
         "  stable         report a settled weight\n"
         "  unstable       report a weight still moving\n"
         "  silent         answer nothing\n"
         "  short N        answer only the first N bytes (1..5)\n"
         "  garbage        answer random bytes\n"
         "  split [MS]     answer in two writes MS ms apart (default 10)\n"
         "  normal         answer whole frames again\n"
         "  raw HEX...     answer the next request with these bytes, e.g. raw 80 00 e8 03 00\n"
         "  status         show the state and the number of requests\n"
         "  help           this text\n"
         "  quit           end the simulator";
}

}  // namespace scalesim
