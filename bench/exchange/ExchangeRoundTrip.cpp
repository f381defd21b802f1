// The MEASURE round trip through the exchange files of a station without devices (request file
// appears -> response renamed into place), with and without automeasure, beside the floor that the
// 100 ms polling implies; and the station's CPU use while idle.
//
//   exchange_roundtrip_bench [--requests N] [--binary PATH]
//
// Starts its own stations in a temporary folder, with the power-off replaced by a harmless command.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kPauseMs = 100.0;  // every poll cycle and every wait step pauses this long

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Station {
 public:
  Station(const std::string& binary, const std::string& folder, bool automeasure)
      : folder_(folder) {
    fs::create_directories(folder + "/configs");
    fs::create_directories(folder + "/exchange");
    WriteText(folder + "/mock.png", "mock picture\n");
    const std::string x = folder + "/exchange/";
    WriteText(folder + "/configs/appconfig.toml",
              "[jsonfiler]\n"
              "RequestJsonFilePath = \"" +
                  x +
                  "request.json\"\n"
                  "ResponseJsonFilePath = \"" +
                  x +
                  "response.json\"\n"
                  "RequestTempJsonFilePath = \"" +
                  x +
                  "request.json.tmp\"\n"
                  "ResponseTempJsonFilePath = \"" +
                  x +
                  "response.json.tmp\"\n"
                  "AutomesureTempJsonFilePath = \"" +
                  x +
                  "automeasure.json.tmp\"\n"
                  "AutomesureJsonFilePath = \"" +
                  x +
                  "automeasure.json\"\n"
                  "MockPngFile = \"" +
                  folder +
                  "/mock.png\"\n"
                  "MockPngFile2 = \"" +
                  x +
                  "mock2.png\"\n"
                  "PhotoPath = \"" +
                  x + "photo.png\"\n");
    pid_ = fork();
    if (pid_ == 0) {
      const int quiet = open("/dev/null", O_RDWR);
      dup2(quiet, 0);
      dup2(quiet, 1);
      dup2(quiet, 2);
      if (chdir(folder.c_str()) != 0) _exit(126);
      // Never the real power-off, whatever a benchmark run does.
      setenv("DIMCORE_POWEROFF_COMMAND", "true", 1);
      setenv("DIMCORE_SNAPSHOT_DIR", folder.c_str(), 1);
      if (automeasure) {
        execl(binary.c_str(), binary.c_str(), "disable_lidar", "disable_scales", nullptr);
      } else {
        execl(binary.c_str(), binary.c_str(), "disable_lidar", "disable_scales",
              "disable_automeasure", nullptr);
      }
      _exit(127);
    }
  }
  ~Station() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(50ms);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  pid_t pid() const { return pid_; }
  std::string exchange(const std::string& name) const { return folder_ + "/exchange/" + name; }

  // Places a request whole and waits for the response to be renamed into place. Returns the
  // milliseconds from the request's appearance to the response's, or a negative value on timeout.
  double RoundTrip(const std::string& request, std::string* response) {
    const std::string tx = exchange("response.json");
    std::remove(tx.c_str());
    const int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, (folder_ + "/exchange").c_str(), IN_MOVED_TO);
    const std::string temp = exchange(".bench.tmp");
    WriteText(temp, request);
    const Clock::time_point start = Clock::now();
    std::rename(temp.c_str(), exchange("request.json").c_str());
    const Clock::time_point deadline = start + 30s;
    double elapsed = -1;
    alignas(inotify_event) char buffer[4096];
    while (elapsed < 0 && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = read(fd, buffer, sizeof buffer);
      const Clock::time_point now = Clock::now();
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && std::strcmp(event->name, "response.json") == 0) {
          elapsed = std::chrono::duration<double, std::milli>(now - start).count();
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    close(fd);
    *response = ReadText(tx);
    std::remove(tx.c_str());
    return elapsed;
  }

 private:
  std::string folder_;
  pid_t pid_ = -1;
};

// Total CPU time (all threads, user and system) of a process, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold blanks.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) utime = std::stoull(field);
    if (index == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const double rank = fraction * static_cast<double>(values.size() - 1);
  const size_t low = static_cast<size_t>(rank);
  const size_t high = std::min(low + 1, values.size() - 1);
  return values[low] + (values[high] - values[low]) * (rank - static_cast<double>(low));
}

struct Figures {
  std::vector<double> ms;
  int failed = 0;
};

Figures MeasureRoundTrips(const std::string& binary, const std::string& folder, bool automeasure,
                          int requests) {
  Station station(binary, folder, automeasure);
  Figures figures;
  std::string response;
  // Ready once it answers a PING.
  for (int i = 0; i < 50 && station.RoundTrip("{\"COMMAND\":\"PING\"}", &response) < 0; ++i) {
  }
  std::mt19937 random(7);
  std::uniform_int_distribution<int> delay(0, 300);
  for (int i = 0; i < requests; ++i) {
    // A random gap, so requests meet the poll loop at every phase of its cycle.
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
    const double ms = station.RoundTrip("{\"COMMAND\":\"MEASURE\"}", &response);
    if (ms < 0 || response.find("\"STATUS\":true") == std::string::npos) {
      ++figures.failed;
    } else {
      figures.ms.push_back(ms);
    }
  }
  return figures;
}

double IdleCpuPercent(const std::string& binary, const std::string& folder, bool automeasure,
                      double seconds) {
  Station station(binary, folder, automeasure);
  std::this_thread::sleep_for(1s);  // past the start-up
  const double before = CpuSeconds(station.pid());
  const Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return 100.0 * (CpuSeconds(station.pid()) - before) / wall;
}

}  // namespace

int main(int argc, char** argv) {
  std::string binary = DIMCORE_BINARY;
  int requests = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--requests") == 0) requests = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--binary") == 0) binary = argv[i + 1];
  }
  char pattern[] = "/tmp/dimcore-bench-XXXXXX";
  const char* base = mkdtemp(pattern);
  if (base == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = base;

  std::printf(
      "MEASURE round trip through the exchange files, station without devices, %d requests\n"
      "(request appears -> response renamed into place; floor: waiting for the next poll\n"
      "plus one %.0f ms pause in each of the two module waits)\n\n",
      requests, kPauseMs);
  std::printf("%-16s %9s %9s %9s %9s %13s %10s %7s\n", "mode", "median", "p95", "min", "max",
              "floor median", "floor p95", "failed");
  for (const bool automeasure : {false, true}) {
    const Figures f =
        MeasureRoundTrips(binary, root + (automeasure ? "/auto" : "/plain"), automeasure, requests);
    // The request waits for the start of the next cycle: without automeasure a cycle is one pause;
    // with it, the automeasure step's two waits (one pause each) come before the cycle's pause.
    const double cycle = automeasure ? 3 * kPauseMs : kPauseMs;
    const double floorMedian = cycle / 2 + 2 * kPauseMs;
    const double floorP95 = 0.95 * cycle + 2 * kPauseMs;
    if (f.ms.empty()) {
      std::printf("%-16s no answers (%d failed)\n", automeasure ? "automeasure" : "no automeasure",
                  f.failed);
      continue;
    }
    std::printf("%-16s %6.1f ms %6.1f ms %6.1f ms %6.1f ms %10.0f ms %7.0f ms %7d\n",
                automeasure ? "automeasure" : "no automeasure", Percentile(f.ms, 0.5),
                Percentile(f.ms, 0.95), *std::min_element(f.ms.begin(), f.ms.end()),
                *std::max_element(f.ms.begin(), f.ms.end()), floorMedian, floorP95, f.failed);
  }

  std::printf("\nCPU use of the station process over 10 s (all threads, %% of one core)\n");
  std::printf("  idle, disable_automeasure:   %.2f %%\n",
              IdleCpuPercent(binary, root + "/idle", false, 10.0));
  std::printf("  automeasure running:         %.2f %%\n",
              IdleCpuPercent(binary, root + "/busy", true, 10.0));

  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
