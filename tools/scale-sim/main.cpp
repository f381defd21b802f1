// dimcore-scale-sim: a serial weighing scale on a pseudo-terminal, for trying the station without
// hardware. Prints the device path as its first line, then takes commands on standard input (and
// on a control FIFO when asked) and answers each with one line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/scale-sim/ScaleSim.h"

namespace {

int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 's';
  const ssize_t ignored = write(stopPipe[1], &byte, 1);
  (void)ignored;
}

void Say(const std::string& text) {
  const std::string line = text + "\n";
  std::cout << line << std::flush;
}

void Complain(const std::string& text) { std::cerr << "dimcore-scale-sim: " + text + "\n"; }

const char* kUsage =
    "usage: dimcore-scale-sim [--link PATH] [--control PATH]\n"
    "  Opens a pseudo-terminal that answers like the station's serial scale (4800 baud, 8N1)\n"
    "  and prints its device path as the first line. Point the station at it with\n"
    "  DIMCORE_SCALES_DEVICE=<that path>.\n"
    "  --link PATH     also make PATH a symbolic link to the device (replaces an old link)\n"
    "  --control PATH  also read commands from a FIFO at PATH (created when absent), e.g.\n"
    "                  echo 'weight 1.25' > PATH\n"
    "  Commands on standard input, one per line; 'help' lists them.\n";

// Lines arriving on one descriptor, split at line feeds.
struct LineSource {
  int fd;
  std::string pending;
  bool open = true;
};

bool IsLinkTo(const std::string& link, const std::string& target) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n < 0) return false;
  buffer[n] = '\0';
  return target == buffer;
}

bool MakeLink(const std::string& link, const std::string& target) {
  struct stat info {};
  if (lstat(link.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      Complain("--link " + link + " exists and is not a symbolic link; not replacing it");
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    Complain("cannot link " + link + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

// Opens (creating when needed) the control FIFO. Read and write, so that it never reports an end
// of file when a writer such as echo goes away.
int OpenControl(const std::string& path, bool* created) {
  struct stat info {};
  *created = false;
  if (stat(path.c_str(), &info) == 0) {
    if (!S_ISFIFO(info.st_mode)) {
      Complain("--control " + path + " exists and is not a FIFO");
      return -1;
    }
  } else if (mkfifo(path.c_str(), 0600) != 0) {
    Complain("cannot create FIFO " + path + ": " + std::strerror(errno));
    return -1;
  } else {
    *created = true;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Complain("cannot open " + path + ": " + std::strerror(errno));
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  std::string linkPath;
  std::string controlPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--link" || arg == "--control") && i + 1 < argc) {
      (arg == "--link" ? linkPath : controlPath) = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }

  scalesim::ScaleSimulator sim;
  std::string error;
  if (!sim.Open(&error)) {
    Complain(error);
    return 1;
  }
  if (pipe2(stopPipe, O_CLOEXEC) != 0) {
    Complain(std::string("pipe: ") + std::strerror(errno));
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!linkPath.empty() && !MakeLink(linkPath, sim.DevicePath())) return 1;
  bool createdControl = false;
  int control = -1;
  if (!controlPath.empty()) {
    control = OpenControl(controlPath, &createdControl);
    if (control < 0) {
      if (!linkPath.empty() && IsLinkTo(linkPath, sim.DevicePath())) unlink(linkPath.c_str());
      return 1;
    }
  }

  Say(sim.DevicePath());
  sim.Start();
  const bool interactive = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
  if (interactive) {
    std::cout << "empty and stable; type help for the commands\n> " << std::flush;
  }

  std::vector<LineSource> sources{{STDIN_FILENO, "", true}};
  if (control >= 0) sources.push_back({control, "", true});
  bool quit = false;
  while (!quit) {
    std::vector<pollfd> fds{{stopPipe[0], POLLIN, 0}};
    for (const auto& s : sources) fds.push_back({s.open ? s.fd : -1, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    for (size_t i = 0; i < sources.size() && !quit; ++i) {
      LineSource& source = sources[i];
      if (!source.open || fds[i + 1].revents == 0) continue;
      char buffer[1024];
      const ssize_t n = read(source.fd, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        // Standard input closed: keep the scale running until a signal or a quit on the FIFO.
        source.open = false;
        continue;
      }
      if (n < 0) continue;
      source.pending.append(buffer, static_cast<size_t>(n));
      size_t end;
      while (!quit && (end = source.pending.find('\n')) != std::string::npos) {
        const std::string line = source.pending.substr(0, end);
        source.pending.erase(0, end + 1);
        const std::string answer = sim.Execute(line, &quit);
        if (!answer.empty()) Say(answer);
        if (interactive && source.fd == STDIN_FILENO && !quit) std::cout << "> " << std::flush;
      }
      if (source.pending.size() > 4096) source.pending.clear();  // not a command line
    }
  }

  sim.Stop();
  if (!linkPath.empty() && IsLinkTo(linkPath, sim.DevicePath())) unlink(linkPath.c_str());
  if (control >= 0) close(control);
  if (createdControl) unlink(controlPath.c_str());
  return 0;
}
