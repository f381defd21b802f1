#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "tools/dimctl/StationConfig.h"

namespace dimctl {

enum class Outcome {
  Answered,     // a response (or an automeasure result) came: see Result::line
  Taken,        // stop: the station read the stop request and ended its command server
  Vanished,     // the station deleted the request without answering: it could not use it
  TimedOut,     // nothing within the timeout (see Result::withdrawn)
  Interrupted,  // Ctrl-C (see Result::withdrawn)
  Busy,         // another request is already waiting at the request path; nothing was sent
  Failed,       // the request could not be written (Result::detail says why)
};

struct Options {
  // Longer than the station's longest answer: a MEASURE whose two module waits both run out
  // (2 x 100 s). Zero means no limit (watch).
  std::chrono::milliseconds timeout{std::chrono::seconds(210)};
  // How long a response may lag behind the deletion of its request (the station deletes the
  // request first, then writes the response), and how long a read stop request must stay in place.
  std::chrono::milliseconds grace{1000};
  // Set from a signal handler to give up early.
  const std::atomic<bool>* interrupted = nullptr;
};

struct Result {
  Outcome outcome = Outcome::Failed;
  std::string line;    // the document as received, line feed included
  std::string detail;  // why, for Failed
  // TimedOut, Interrupted: the request was removed unread. A request the station has already
  // opened stays: the station is executing it and deletes it when done.
  bool withdrawn = false;
};

// Sends one request document and waits for its response, which it reads and deletes. A response
// left over from an earlier exchange is deleted first, so it cannot be taken for this one. The
// request appears whole (written beside its final path, then renamed without replacing anything),
// and is withdrawn again when no answer comes and the station has not yet taken it.
Result Send(const StationPaths& paths, const std::string& requestText, const Options& options);

// Sends APPLICATION_STOP, which the station never answers. Succeeds (Taken) once the station has
// read the request and left it in place; the request is then removed, so that the next start of
// the station does not stop again at once.
Result SendStop(const StationPaths& paths, const Options& options);

// Waits for the next automeasure result, returns it and deletes the file so the station can
// publish the next one.
Result NextAutomeasure(const StationPaths& paths, const Options& options);

// Deletes an automeasure result that is waiting (an old one). Returns whether one was there.
bool DiscardAutomeasure(const StationPaths& paths);

}  // namespace dimctl
