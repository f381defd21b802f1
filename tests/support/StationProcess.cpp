#include "tests/support/StationProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

std::chrono::milliseconds Scaled(std::chrono::milliseconds timeout) {
  static const double factor = [] {
    const char* text = std::getenv("DIMCORE_TEST_TIME_SCALE");
    const double value = text != nullptr ? std::atof(text) : 1.0;
    return value >= 1.0 ? value : 1.0;
  }();
  return std::chrono::milliseconds(static_cast<long long>(timeout.count() * factor));
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step) {
  const auto deadline = std::chrono::steady_clock::now() + Scaled(timeout);
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(step);
  }
}

size_t CountOccurrences(const std::string& haystack, const std::string& needle) {
  if (needle.empty()) return 0;
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

std::vector<std::string> ProgramCommand(const std::string& program) {
  std::vector<std::string> words;
  if (const char* emulator = std::getenv("DIMCORE_TEST_EMULATOR")) {
    std::istringstream in(emulator);
    for (std::string word; in >> word;) words.push_back(word);
  }
  words.push_back(program);
  return words;
}

RunFolder::RunFolder() {
  mkdir(file("configs").c_str(), 0755);
  mkdir(file("exchange").c_str(), 0755);
  WriteFile(mockPng(), "\x89PNG mock picture\nsecond line\n");
  WriteConfig(ConfigText());
}

std::string RunFolder::ConfigText(const std::string& extraLines) const {
  return "[jsonfiler]\n"
         "RequestJsonFilePath = \"" +
         request() +
         "\"\n"
         "ResponseJsonFilePath = \"" +
         response() +
         "\"\n"
         "RequestTempJsonFilePath = \"" +
         file("exchange/request.json.tmp") +
         "\"\n"
         "ResponseTempJsonFilePath = \"" +
         responseTemp() +
         "\"\n"
         "AutomesureTempJsonFilePath = \"" +
         automeasureTemp() +
         "\"\n"
         "AutomesureJsonFilePath = \"" +
         automeasure() +
         "\"\n"
         "MockPngFile = \"" +
         mockPng() +
         "\"\n"
         "MockPngFile2 = \"" +
         mockPng2() +
         "\"\n"
         "PhotoPath = \"" +
         photo() + "\"\n" + extraLines;
}

void RunFolder::WriteConfig(const std::string& text) const {
  WriteFile(file("configs/appconfig.toml"), text);
}

StationProcess::StationProcess(const std::string& workdir, std::vector<std::string> words,
                               std::map<std::string, std::string> env, const std::string& binary) {
  if (env.find("DIMCORE_POWEROFF_COMMAND") == env.end()) {
    env["DIMCORE_POWEROFF_COMMAND"] = "echo poweroff >> '" + workdir + "/poweroff.log'";
  }
  if (env.find("DIMCORE_SNAPSHOT_DIR") == env.end()) env["DIMCORE_SNAPSHOT_DIR"] = workdir;

  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (env.find(name) == env.end()) envStrings.push_back(entry);
  }
  for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);

  std::vector<std::string> argStrings = ProgramCommand(binary);
  argStrings.insert(argStrings.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // Child: only async-signal-safe calls from here on.
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    if (chdir(workdir.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  reader_ = std::thread(&StationProcess::ReadOutput, this, outPipe[0], errPipe[0]);
}

StationProcess::~StationProcess() {
  Stop();
  if (reader_.joinable()) reader_.join();
}

void StationProcess::ReadOutput(int outFd, int errFd) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      std::lock_guard<std::mutex> guard(mutex_);
      (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
      changed_.notify_all();
    }
  }
}

std::string StationProcess::Stdout() {
  std::lock_guard<std::mutex> guard(mutex_);
  return out_;
}

std::string StationProcess::Stderr() {
  std::lock_guard<std::mutex> guard(mutex_);
  return err_;
}

bool StationProcess::WaitForText(const std::string& needle, size_t count, bool fromStdout,
                                 std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, Scaled(timeout), [&] {
    return CountOccurrences(fromStdout ? out_ : err_, needle) >= count;
  });
}

bool StationProcess::WaitForStdout(const std::string& needle, std::chrono::milliseconds timeout) {
  return WaitForText(needle, 1, true, timeout);
}

bool StationProcess::WaitForStderr(const std::string& needle, std::chrono::milliseconds timeout) {
  return WaitForText(needle, 1, false, timeout);
}

bool StationProcess::WaitForStdoutCount(const std::string& needle, size_t count,
                                        std::chrono::milliseconds timeout) {
  return WaitForText(needle, count, true, timeout);
}

bool StationProcess::Reap(bool block) {
  if (reaped_) return true;
  if (pid_ <= 0) return true;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }
  return false;
}

bool StationProcess::Running() { return !Reap(false); }

bool StationProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const bool ended = WaitUntil([this] { return Reap(false); }, timeout, 5ms);
  if (ended && reader_.joinable()) reader_.join();  // all output is in once the process is gone
  return ended;
}

int StationProcess::ExitStatus() {
  Reap(false);
  return reaped_ ? status_ : -1;
}

void StationProcess::Signal(int signo) {
  if (!reaped_ && pid_ > 0) kill(pid_, signo);
}

void StationProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0 || Reap(false)) return;
  kill(pid_, SIGTERM);
  if (!WaitForExit(grace)) {
    kill(pid_, SIGKILL);
    Reap(true);
  }
}

}  // namespace testsupport
