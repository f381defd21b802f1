#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "scales/WeightningData.h"

// Owns the scale's serial port and a polling thread that asks the scale for its weight about ten
// times a second ('J', then up to five bytes of answer), keeps the decoded frame and zeroes the
// scale at its first stable frame after each request to do so.
class WeightWorker {
 public:
  // The scale's line.
  static constexpr int kBaudrate = 4800;
  static constexpr const char* kMode = "8N1";
  static constexpr unsigned char kWeightRequest = 0x4A;  // 'J'
  static constexpr int kPauseMicroseconds = 50000;

  WeightWorker() = default;
  // Stops and joins the polling thread, then closes the port.
  ~WeightWorker();
  WeightWorker(const WeightWorker&) = delete;
  WeightWorker& operator=(const WeightWorker&) = delete;

  // Opens the port (4800 baud, 8N1, no flow control) and starts polling; a zeroing is pending from
  // the start. False, after printing "Can not open comport", when the port cannot be opened.
  bool init(int comPortNumber);
  // A consistent copy of the decoded state: one frame and one zero offset.
  WeightningData getWeightningData() const;
  void setCalibrate(bool calibrate);
  bool getCalibrate() const;

 private:
  void work();
  void setZero();

  int comPortNumber = -1;
  std::atomic<bool> needToCalibrate{false};
  std::unique_ptr<std::thread> worker;
  std::atomic<bool> finished{false};
  WeightningData weightningData;
  [[maybe_unused]] int calibrationDifference = 0;
  // Serialises the polling thread's decoding and zeroing with the owner's copies.
  mutable std::mutex dataMutex;
  bool portOpen = false;
};

// Hands one answer of the scale to data: the bytes a poll returned (count may be anything a read
// gives back). Answers of three bytes or more are decoded as the start of a frame whose missing
// bytes are zero; shorter answers and read errors leave data as it was. Returns whether a frame
// was decoded.
bool TakeAnswer(WeightningData& data, const unsigned char* answer, int count);
