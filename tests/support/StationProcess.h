#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace testsupport {

using namespace std::chrono_literals;

// A deadline stretched by DIMCORE_TEST_TIME_SCALE (a factor of at least 1), for slow runs: tests
// under emulation or sanitizers. Every wait of the test support goes through it.
std::chrono::milliseconds Scaled(std::chrono::milliseconds timeout);

// Polls a condition until it holds or the deadline passes (no fixed sleeps in tests).
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = 10ms);

// A temporary working folder for one station: configs/appconfig.toml with every exchange path
// inside the folder, an exchange/ folder and a small mock picture.
class RunFolder {
 public:
  RunFolder();
  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& name) const { return dir_.file(name); }

  std::string request() const { return file("exchange/request.json"); }
  std::string response() const { return file("exchange/response.json"); }
  std::string responseTemp() const { return file("exchange/response.json.tmp"); }
  std::string automeasure() const { return file("exchange/automeasure.json"); }
  std::string automeasureTemp() const { return file("exchange/automeasure.json.tmp"); }
  std::string mockPng() const { return file("mock.png"); }
  std::string mockPng2() const { return file("exchange/mock2.png"); }
  std::string photo() const { return file("exchange/photo.png"); }
  std::string poweroffLog() const { return file("poweroff.log"); }

  // The "jsonfiler" table with the paths above; extraLines are appended inside the table.
  std::string ConfigText(const std::string& extraLines = "") const;
  // Replaces configs/appconfig.toml with the given text.
  void WriteConfig(const std::string& text) const;

 private:
  TempDir dir_;
};

// The real dimcore binary started in a working folder with given words and environment. Standard
// input is /dev/null; standard output and error are captured. DIMCORE_POWEROFF_COMMAND is always
// set to a harmless command that appends a line to workdir/poweroff.log, unless the caller gives
// another. The destructor stops the process (SIGTERM, then SIGKILL), also when a test fails.
class StationProcess {
 public:
  StationProcess(const std::string& workdir, std::vector<std::string> words,
                 std::map<std::string, std::string> env = {},
                 const std::string& binary = DIMCORE_BINARY);
  ~StationProcess();
  StationProcess(const StationProcess&) = delete;
  StationProcess& operator=(const StationProcess&) = delete;

  pid_t pid() const { return pid_; }
  std::string Stdout();
  std::string Stderr();
  bool WaitForStdout(const std::string& needle, std::chrono::milliseconds timeout = 10s);
  bool WaitForStderr(const std::string& needle, std::chrono::milliseconds timeout = 10s);
  // Waits until stdout holds needle at least count times.
  bool WaitForStdoutCount(const std::string& needle, size_t count,
                          std::chrono::milliseconds timeout = 10s);
  bool WaitForExit(std::chrono::milliseconds timeout = 10s);
  bool Running();
  // Exit code when it exited normally, 128 + signal when a signal ended it, -1 while running.
  int ExitStatus();
  void Signal(int signo);
  // SIGTERM, then SIGKILL when it has not ended within the grace period; waits for the end.
  void Stop(std::chrono::milliseconds grace = 5s);

 private:
  void ReadOutput(int outFd, int errFd);
  bool Reap(bool block);
  bool WaitForText(const std::string& needle, size_t count, bool fromStdout,
                   std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_;
  std::string err_;
  std::thread reader_;
};

size_t CountOccurrences(const std::string& haystack, const std::string& needle);

// The command line that runs a program built by this project: the program itself, or, when
// DIMCORE_TEST_EMULATOR is set (a cross build tested under qemu-user, e.g.
// "/usr/bin/qemu-aarch64 -L /path/to/arm64/root", the emulator by its full path), the
// emulator's words followed by the program.
std::vector<std::string> ProgramCommand(const std::string& program);

}  // namespace testsupport
