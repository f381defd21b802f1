#include "scales/WeightWorker.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "scales/rs232.h"

bool TakeAnswer(WeightningData& data, const unsigned char* answer, int count) {
  if (count <= 2) return false;
  unsigned char frame[WeightningData::kFrameSize] = {0, 0, 0, 0, 0};
  std::memcpy(frame, answer, static_cast<size_t>(std::min(count, WeightningData::kFrameSize)));
  data.parse(frame);
  return true;
}

WeightWorker::~WeightWorker() {
  finished = true;
  if (worker) {
    worker->join();
    worker.reset();
  }
  // Only after the join: the polling thread must never use a closed descriptor.
  if (portOpen) {
    RS232_CloseComport(comPortNumber);
    portOpen = false;
  }
}

bool WeightWorker::init(int comPortNumber) {
  this->comPortNumber = comPortNumber;
  if (RS232_OpenComport(comPortNumber, kBaudrate, kMode, 0) != 0) {
    std::cout << "Can not open comport\n";
    return false;
  }
  portOpen = true;
  finished = false;
  needToCalibrate = true;
  try {
    worker = std::make_unique<std::thread>(&WeightWorker::work, this);
  } catch (const std::exception& e) {
    // No thread to poll with (resources exhausted): give the port back and report it like a port
    // that cannot be used.
    RS232_CloseComport(comPortNumber);
    portOpen = false;
    std::cout << std::string("Can not open comport (") + e.what() + ")\n";
    return false;
  }
  return true;
}

WeightningData WeightWorker::getWeightningData() const {
  std::lock_guard<std::mutex> lock(dataMutex);
  return weightningData;
}

void WeightWorker::setCalibrate(bool calibrate) {
  // Under the record's lock, so that a request made while a zeroing is being done is not cleared
  // together with the one that zeroing served.
  std::lock_guard<std::mutex> lock(dataMutex);
  needToCalibrate = calibrate;
}

bool WeightWorker::getCalibrate() const { return needToCalibrate; }

void WeightWorker::work() {
  while (!finished) {
    if (needToCalibrate) {
      setZero();
      usleep(kPauseMicroseconds);
    }
    // Bytes still waiting belong to no request of ours (noise, a late or over-long answer): read
    // together with the next answer they would shift every frame from then on.
    RS232_flushRX(comPortNumber);
    RS232_SendByte(comPortNumber, kWeightRequest);
    usleep(kPauseMicroseconds);
    unsigned char answer[WeightningData::kFrameSize] = {0, 0, 0, 0, 0};
    const int count = RS232_PollComport(comPortNumber, answer, WeightningData::kFrameSize);
    {
      std::lock_guard<std::mutex> lock(dataMutex);
      TakeAnswer(weightningData, answer, count);
    }
    usleep(kPauseMicroseconds);
  }
}

void WeightWorker::setZero() {
  {
    std::lock_guard<std::mutex> lock(dataMutex);
    if (weightningData.setZero()) needToCalibrate = false;
  }
  usleep(kPauseMicroseconds);
}
