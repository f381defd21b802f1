#include "tools/dimctl/Exchange.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

namespace dimctl {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Re-check the files at least this often: inotify says when something changed, but does not see
// changes made from another machine on a network file system.
constexpr milliseconds kRecheck{100};

std::string ParentOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Reads a whole file; false when it does not exist (or cannot be read).
bool ReadIfExists(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *content = buffer.str();
  return true;
}

// Wakes the client when something happens in the exchange folders.
class FolderWatch {
 public:
  explicit FolderWatch(const std::vector<std::string>& folders) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    for (const std::string& folder : folders) {
      const int wd = inotify_add_watch(fd_, folder.c_str(),
                                       IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM |
                                           IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
      if (wd >= 0) folders_[wd] = folder;
    }
  }
  ~FolderWatch() {
    if (fd_ >= 0) close(fd_);
  }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Returns after an event or after limit, whichever comes first.
  void Wait(milliseconds limit) {
    limit = std::clamp(limit, milliseconds(0), kRecheck);
    if (fd_ < 0 || folders_.empty()) {
      poll(nullptr, 0, static_cast<int>(limit.count()));
      return;
    }
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(limit.count())) > 0) Drain();
  }

  // Whether a file at this path was opened since the watch began.
  bool WasOpened(const std::string& path) const { return opened_.count(path) > 0; }
  // Whether a file at this path was opened for reading and closed again since the watch began.
  bool WasRead(const std::string& path) const { return read_.count(path) > 0; }

 private:
  void Drain() {
    alignas(inotify_event) char buffer[8192];
    while (true) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const auto folder = folders_.find(event->wd);
        if (event->len > 0 && folder != folders_.end()) {
          const std::string path = (fs::path(folder->second) / event->name).string();
          if ((event->mask & IN_OPEN) != 0) opened_.insert(path);
          if ((event->mask & IN_CLOSE_NOWRITE) != 0) read_.insert(path);
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  int fd_ = -1;
  std::map<int, std::string> folders_;
  std::set<std::string> opened_;
  std::set<std::string> read_;
};

enum class Placement { Placed, Busy, Failed };

// Makes the request appear whole in one step, and never over another client's request.
Placement PlaceRequest(const std::string& path, const std::string& text, std::string* error) {
  // Beside the request, so that the rename stays on one file system and is atomic.
  const std::string temp =
      (fs::path(ParentOf(path)) / (".dimctl-" + std::to_string(getpid()) + ".tmp")).string();
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      *error = "cannot write " + temp + ": " + std::strerror(errno);
      std::remove(temp.c_str());
      return Placement::Failed;
    }
  }
  if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
    return Placement::Placed;
  }
  if (errno == EEXIST) {
    std::remove(temp.c_str());
    return Placement::Busy;
  }
  if (errno == EINVAL || errno == ENOSYS) {
    // A file system without no-replace renames: test first, then rename.
    if (Exists(path)) {
      std::remove(temp.c_str());
      return Placement::Busy;
    }
    if (std::rename(temp.c_str(), path.c_str()) == 0) return Placement::Placed;
  }
  *error = "cannot place the request at " + path + ": " + std::strerror(errno);
  std::remove(temp.c_str());
  return Placement::Failed;
}

Result Exchange(const StationPaths& paths, const std::string& text, const Options& options,
                bool stop) {
  Result result;
  // Watch first, so that nothing the station does after the request appears is missed.
  FolderWatch watch({ParentOf(paths.request), ParentOf(paths.response)});
  if (std::remove(paths.response.c_str()) != 0 && errno != ENOENT) {
    result.detail =
        "cannot remove the old response at " + paths.response + ": " + std::strerror(errno);
    return result;
  }
  switch (PlaceRequest(paths.request, text, &result.detail)) {
    case Placement::Placed:
      break;
    case Placement::Busy:
      result.outcome = Outcome::Busy;
      return result;
    case Placement::Failed:
      return result;
  }

  const Clock::time_point deadline = Clock::now() + options.timeout;
  std::optional<Clock::time_point> goneSince;
  std::optional<Clock::time_point> readSince;
  while (true) {
    if (ReadIfExists(paths.response, &result.line)) {
      std::remove(paths.response.c_str());
      result.outcome = Outcome::Answered;
      return result;
    }
    const Clock::time_point now = Clock::now();
    const bool waiting = Exists(paths.request);
    if (!waiting) {
      if (!goneSince) goneSince = now;
      if (now - *goneSince >= options.grace) {
        result.outcome = Outcome::Vanished;
        return result;
      }
    } else if (stop && watch.WasRead(paths.request)) {
      if (!readSince) readSince = now;
      if (now - *readSince >= options.grace) {
        std::remove(paths.request.c_str());
        result.outcome = Outcome::Taken;
        return result;
      }
    }
    const bool interrupted = options.interrupted != nullptr && options.interrupted->load();
    if (interrupted || now >= deadline) {
      // A request the station has not opened is withdrawn, so that it is not executed later. One
      // it has opened is being executed: the station deletes it when done, and until then it
      // keeps other clients from sending (deleting it would let the next request be taken for
      // this one and then be deleted unread).
      if (waiting && !watch.WasOpened(paths.request)) {
        result.withdrawn = std::remove(paths.request.c_str()) == 0;
      }
      result.outcome = interrupted ? Outcome::Interrupted : Outcome::TimedOut;
      return result;
    }
    watch.Wait(std::chrono::duration_cast<milliseconds>(deadline - now));
  }
}

}  // namespace

Result Send(const StationPaths& paths, const std::string& requestText, const Options& options) {
  return Exchange(paths, requestText, options, false);
}

Result SendStop(const StationPaths& paths, const Options& options) {
  return Exchange(paths, "{\"COMMAND\":\"APPLICATION_STOP\"}\n", options, true);
}

Result NextAutomeasure(const StationPaths& paths, const Options& options) {
  Result result;
  FolderWatch watch({ParentOf(paths.automeasure)});
  const bool limited = options.timeout.count() > 0;
  const Clock::time_point deadline = Clock::now() + options.timeout;
  while (true) {
    // While the file is there the station does not write it, so reading and then deleting it
    // cannot lose a result.
    if (ReadIfExists(paths.automeasure, &result.line)) {
      std::remove(paths.automeasure.c_str());
      result.outcome = Outcome::Answered;
      return result;
    }
    if (options.interrupted != nullptr && options.interrupted->load()) {
      result.outcome = Outcome::Interrupted;
      return result;
    }
    const Clock::time_point now = Clock::now();
    if (limited && now >= deadline) {
      result.outcome = Outcome::TimedOut;
      return result;
    }
    watch.Wait(limited ? std::chrono::duration_cast<milliseconds>(deadline - now) : kRecheck);
  }
}

bool DiscardAutomeasure(const StationPaths& paths) {
  return std::remove(paths.automeasure.c_str()) == 0;
}

}  // namespace dimctl
