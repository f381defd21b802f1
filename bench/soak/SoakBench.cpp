// Soak: runs the real station in automeasure mode on the simulated camera and the simulated scale
// (a pseudo-terminal) for a number of cycles, with a client that takes every result the moment it
// appears, and prints the station's resident memory, open file descriptors and threads along the
// way, and the results printed, received and lost.
//
//   soak_bench [--cycles N] [--binary PATH] [--samples K]
//
// What "lost" means. The station prints every cycle's document after "File created!: CONTENT:" but
// writes it to the automeasure file only when the file is absent (the client has taken the last
// one). This client deletes each result within milliseconds of its appearance, while a cycle lasts
// at least 100 ms, so the gate never legitimately withholds a result here: each printed document
// must reach the client, in order. Lost = printed documents that the client never received
// (compared in order, after the station has stopped and the last file has been collected).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/scale-sim/ScaleSim.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char kPrinted[] = "ServerJson: File created!: CONTENT:  ";

struct Sample {
  long cycles = 0;
  long rssKb = 0;
  long fds = 0;
  long threads = 0;
};

Sample Probe(pid_t pid, long cycles) {
  Sample s;
  s.cycles = cycles;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) s.rssKb = std::atol(line.c_str() + 6);
    if (line.rfind("Threads:", 0) == 0) s.threads = std::atol(line.c_str() + 8);
  }
  if (DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++s.fds;
    }
    closedir(dir);
  }
  return s;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The station's standard output, read on a thread: the printed automeasure documents.
class ConsoleReader {
 public:
  explicit ConsoleReader(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~ConsoleReader() {
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  long Count() const { return count_; }
  std::vector<std::string> Documents() {
    std::lock_guard<std::mutex> guard(mutex_);
    return documents_;
  }

 private:
  void Run() {
    std::string pending;
    char buffer[65536];
    while (true) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      size_t start = 0;
      for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = pending.substr(start, end - start);
        if (line.rfind(kPrinted, 0) == 0) {
          std::lock_guard<std::mutex> guard(mutex_);
          documents_.push_back(line.substr(sizeof kPrinted - 1));
          ++count_;
        }
      }
      pending.erase(0, start);
    }
  }

  int fd_;
  std::mutex mutex_;
  std::vector<std::string> documents_;
  std::atomic<long> count_{0};
  std::thread thread_;
};

int Usage() {
  std::cerr << "usage: soak_bench [--cycles N] [--binary PATH] [--samples K]\n";
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  long cycles = 5000;
  int samples = 10;
  std::string binary = DIMCORE_BINARY;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--cycles" && i + 1 < argc) {
      cycles = std::atol(argv[++i]);
    } else if (word == "--binary" && i + 1 < argc) {
      binary = argv[++i];
    } else if (word == "--samples" && i + 1 < argc) {
      samples = std::atoi(argv[++i]);
    } else {
      return Usage();
    }
  }
  if (cycles < 10 || samples < 1) return Usage();

  // A run folder of our own.
  char folderTemplate[] = "/tmp/dimcore-soak-XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string run = folderTemplate;
  mkdir((run + "/configs").c_str(), 0755);
  mkdir((run + "/exchange").c_str(), 0755);
  const std::string ex = run + "/exchange/";
  WriteAll(run + "/configs/appconfig.toml",
           "[jsonfiler]\nRequestJsonFilePath = \"" + ex + "request.json\"\n" +
               "ResponseJsonFilePath = \"" + ex + "response.json\"\n" +
               "RequestTempJsonFilePath = \"" + ex + "request.json.tmp\"\n" +
               "ResponseTempJsonFilePath = \"" + ex + "response.json.tmp\"\n" +
               "AutomesureTempJsonFilePath = \"" + ex + "automeasure.json.tmp\"\n" +
               "AutomesureJsonFilePath = \"" + ex + "automeasure.json\"\n" + "MockPngFile = \"" +
               run + "/mock.png\"\n" + "MockPngFile2 = \"" + ex + "mock2.png\"\n" +
               "PhotoPath = \"" + ex + "photo.png\"\n");
  // A box beside the centre pixel (the calibration point), wholly in the measuring region.
  WriteAll(run + "/scene.json",
           R"({"platform_distance_mm": 1000, "boxes": [{"size_mm": [240, 160, 120],)"
           R"( "center_mm": [120, 40], "yaw_deg": 15}], "depth_noise_mm": 0.5, "seed": 7})");

  scalesim::ScaleSimulator scale;
  std::string error;
  if (!scale.Open(&error)) {
    std::cerr << "soak: no pseudo-terminal for the scale: " << error << "\n";
    return 1;
  }
  scale.Start();

  int outPipe[2];
  if (pipe(outPipe) != 0) {
    std::perror("pipe");
    return 1;
  }
  const std::string errPath = run + "/stderr.log";
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (chdir(run.c_str()) != 0) _exit(127);
    dup2(outPipe[1], STDOUT_FILENO);
    const int err = open(errPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    dup2(err, STDERR_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    setenv("DIMCORE_CAMERA_SCENE", (run + "/scene.json").c_str(), 1);
    setenv("DIMCORE_SCALES_DEVICE", scale.DevicePath().c_str(), 1);
    setenv("DIMCORE_SNAPSHOT_DIR", run.c_str(), 1);
    // The soak must never power the machine off.
    setenv("DIMCORE_POWEROFF_COMMAND", "true", 1);
    execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(outPipe[1]);
  ConsoleReader console(outPipe[0]);
  std::cout << "soak: station " << binary << " (pid " << pid << ") in " << run << ", " << cycles
            << " cycles\n";

  // The client: takes each result as soon as it appears. The scale's load changes now and then,
  // so that consecutive documents differ.
  const std::string automeasure = ex + "automeasure.json";
  std::vector<std::string> received;
  long corrupt = 0;
  std::vector<Sample> taken;
  const auto started = Clock::now();
  auto lastChange = started;
  int grams = 1000;
  bool died = false;
  const long warmUp = 10;
  long nextSample = warmUp;
  while (static_cast<long>(received.size()) < cycles) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      died = true;
      break;
    }
    struct stat info {};
    if (stat(automeasure.c_str(), &info) == 0) {
      const std::string text = ReadAll(automeasure);
      std::remove(automeasure.c_str());
      if (text.empty() || text.back() != '\n' ||
          nlohmann::json::parse(text, nullptr, false).is_discarded()) {
        ++corrupt;
      }
      received.push_back(text.empty() ? text : text.substr(0, text.size() - 1));
      const long n = static_cast<long>(received.size());
      if (n == nextSample || n == cycles) {
        taken.push_back(Probe(pid, n));
        nextSample += std::max<long>(1, (cycles - warmUp) / samples);
        const Sample& s = taken.back();
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        std::cout << "soak: " << n << " results, " << static_cast<long>(seconds) << " s, RSS "
                  << s.rssKb << " kB, fds " << s.fds << ", threads " << s.threads << std::endl;
      }
    }
    if (Clock::now() - lastChange > 700ms) {
      grams = grams >= 5000 ? 1000 : grams + 7;
      scale.Execute("weight " + std::to_string(grams / 1000.0));
      lastChange = Clock::now();
    }
    std::this_thread::sleep_for(2ms);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

  // Stop the station as an operator would (SIGTERM), then collect the last result.
  if (!died) {
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300 && waitpid(pid, &status, WNOHANG) != pid; ++i) {
      std::this_thread::sleep_for(100ms);
    }
    if (kill(pid, 0) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      std::cout << "soak: the station did not stop within 30 s of SIGTERM\n";
    }
  }
  console.Join();
  struct stat info {};
  if (stat(automeasure.c_str(), &info) == 0) {
    const std::string text = ReadAll(automeasure);
    std::remove(automeasure.c_str());
    received.push_back(text.empty() ? text : text.substr(0, text.size() - 1));
  }
  scale.Stop();

  // Every printed document must have arrived, in order.
  const std::vector<std::string> printed = console.Documents();
  size_t at = 0;
  long lost = 0;
  for (const std::string& doc : printed) {
    if (at < received.size() && received[at] == doc) {
      ++at;
    } else {
      ++lost;
    }
  }
  const long unexpected = static_cast<long>(received.size() - at);
  const std::string errors = ReadAll(errPath);

  const Sample& first = taken.front();
  const Sample& last = taken.back();
  std::cout << "soak: " << received.size() << " results in " << static_cast<long>(seconds) << " s ("
            << (seconds / std::max<size_t>(1, received.size())) << " s a cycle)\n"
            << "soak: start (after " << first.cycles << "): RSS " << first.rssKb << " kB, fds "
            << first.fds << ", threads " << first.threads << "\n"
            << "soak: end   (after " << last.cycles << "): RSS " << last.rssKb << " kB, fds "
            << last.fds << ", threads " << last.threads << "\n"
            << "soak: printed " << printed.size() << ", received " << received.size() << ", lost "
            << lost << ", received but never printed " << unexpected << ", unreadable " << corrupt
            << "\n"
            << "soak: station " << (died ? "DIED during the run" : "stopped on SIGTERM")
            << ", stderr " << errors.size() << " bytes\n";
  if (!errors.empty()) std::cout << "soak: stderr:\n" << errors.substr(0, 2000) << "\n";
  const bool ok = !died && lost == 0 && unexpected == 0 && corrupt == 0;
  if (ok) {
    std::string rm = "rm -rf '" + run + "'";
    if (std::system(rm.c_str()) != 0) std::cout << "soak: could not remove " << run << "\n";
  } else {
    std::cout << "soak: run folder kept: " << run << "\n";
  }
  return ok ? 0 : 1;
}
