#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

// A weighing scale on a pseudo-terminal: the station opens the device side like a serial port,
// sends the request byte 'J' (0x4A) and gets a five-byte weight frame back. A person or a test
// changes what the scale reports with text commands (see Help()).
namespace scalesim {

using Frame = std::array<unsigned char, 5>;

constexpr unsigned char kWeightRequest = 0x4A;
// Largest magnitude a frame can carry (23 bits).
constexpr long kMaxSteps = (1L << 23) - 1;

// How the scale answers a request.
enum class AnswerMode {
  kWhole,    // one write of the whole frame
  kSilent,   // no answer
  kShort,    // only the first shortLength bytes
  kGarbage,  // one to eight random bytes
  kSplit,    // the frame in two writes, splitPauseMs apart
};

struct ScaleState {
  double weightKg = 0;
  int code = 0;
  bool stable = true;
  AnswerMode mode = AnswerMode::kWhole;
  int shortLength = 5;
  int splitPauseMs = 10;
};

// Scale steps per kilogram for a discreteness code; 0 when the code has none (the magnitude is
// then the weight itself).
int StepsPerKilogram(int code);
// The signed number of steps that encodes weightKg with the code (rounded to the nearest step),
// or false when it does not fit in 23 bits or is not a number.
bool StepsFor(double weightKg, int code, long* steps);
// The frame of a state: stable bit, zero indication (no load), weight indication (a load),
// the code, the magnitude in little-endian order and the sign in the top bit of the last byte.
// Weights that do not fit are clamped to the largest magnitude.
Frame EncodeFrame(double weightKg, int code, bool stable);
std::string Hex(const unsigned char* bytes, size_t count);

class ScaleSimulator {
 public:
  ScaleSimulator();
  ~ScaleSimulator();
  ScaleSimulator(const ScaleSimulator&) = delete;
  ScaleSimulator& operator=(const ScaleSimulator&) = delete;

  // Creates the pseudo-terminal and sets its device side to 4800 baud, 8N1, raw. The simulator
  // keeps the device side open itself, so the station may close and reopen it at will.
  bool Open(std::string* error);
  // The path the station opens, e.g. /dev/pts/3.
  const std::string& DevicePath() const { return path_; }
  // Starts and stops answering requests on a thread of its own.
  void Start();
  void Stop();
  // Runs one command line and returns its confirmation (several lines for "help", no final line
  // end). quit, when given, is set for "quit".
  std::string Execute(const std::string& line, bool* quit = nullptr);
  ScaleState State() const;
  // Request bytes received so far.
  uint64_t Requests() const { return requests_; }
  // Waits until at least count request bytes have been received.
  bool WaitForRequests(uint64_t count, std::chrono::milliseconds timeout) const;

  static std::string Help();

 private:
  void Serve();
  void Answer();
  void Write(const unsigned char* bytes, size_t count);
  std::string Describe() const;  // with mutex_ held

  int master_ = -1;
  int device_ = -1;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable requested_;
  ScaleState state_;
  std::deque<std::vector<unsigned char>> rawAnswers_;
  std::mt19937 random_;
  std::atomic<uint64_t> requests_{0};
  std::chrono::steady_clock::time_point lastRequest_;
};

}  // namespace scalesim
