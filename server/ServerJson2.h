#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "core/Configuration.h"
#include "core/Measurement.h"

namespace servermod {

// The file-based JSON command server. Start() is the body of its own thread: it polls the request
// file about ten times a second, executes the command, deletes the request and publishes the
// response through a temporary file and a rename; in automeasure mode every cycle also measures
// once and publishes the result when the client has taken the previous one.
//
// The object is moved into its thread; the move transfers the strings and copies the rest.
class ServerJson {
 public:
  // How one poll cycle ended.
  enum class CycleEnd {
    Slept,          // the normal end: after the pause, the next cycle may follow
    RequestFailed,  // the request could not be used; it was deleted and the cycle ended at once
    Stopped,        // APPLICATION_STOP: the loop must end, no response, request left in place
    ResponseLost,   // the response could not be renamed into place: the server gives up
  };
  // What the dispatch of one request asks of the loop.
  enum class DispatchResult { Respond, StopLoop };

  ServerJson();
  ServerJson(ServerJson&&) = default;
  ServerJson& operator=(ServerJson&&) = default;

  // The thread body: copies the exchange paths, then runs poll cycles until the stop flag is set,
  // APPLICATION_STOP arrives or the response cannot be published. Always returns 1.
  int Start();

  // Pieces of Start(), public so that tests and the fuzzer can drive the server without a thread.
  void LoadPaths();  // copies the five exchange paths from CoreParams
  CycleEnd PollCycle();
  // Executes one parsed request into jf_out (without the error-flag members). Conversion errors of
  // SET_CONFIGURATION leave as exceptions, as do exceptions of waitPause.
  DispatchResult Dispatch(const nlohmann::json& jf_in, nlohmann::json& jf_out);
  // The seven error-flag members, copied from Measurement now.
  void AddErrorFlags(nlohmann::json& doc) const;
  // The automeasure step of a cycle (measure once more, publish when the client took the last).
  void AutomeasureStep();

  std::string RX;
  std::string TX;
  std::string TX_TEMP;
  std::string CORE;
  std::string CORE_TEMP;
  std::string SERVER = "ServerJson: ";
  Measurement* measurement;
  Configuration* configuration;
  ConfigurationStruct configurationStruct{};
  int attemptCount = 1000;
  int maxAttempt = 0;

  // State of the current poll cycle, reset at its start.
  bool exist = false;
  bool errorFlg = false;
  int attempt = 0;

  // Where the console lines go: progress on standard output, system-call failures on standard
  // error. Each line (or group of lines) is written with one call.
  std::ostream* console;
  std::ostream* errors;
  // When set, called in place of each 100 ms pause of a wait for another module (tests answer or
  // silence the modules here; the fuzzer answers them at once).
  std::function<void()> waitPause;

 private:
  void SET_CONFIGURATION(const nlohmann::json& jf_in, nlohmann::json& jf_out);
  void GET_CONFIGURATION(nlohmann::json& jf_out);
  void APPLICATION_STOP();
  void PING(nlohmann::json& jf_out);
  void MEASURE(nlohmann::json& jf_out);
  void CALIBRATE(nlohmann::json& jf_out);

  void MeasurementSequence(nlohmann::json& doc, const char* visionLabel, const char* scalesLabel);
  // Polls until answered() holds or attemptCount pauses have passed. Returns false when it gave
  // up (errorFlg and, if given, failureFlag set). raiseMaxAttempt: the CALIBRATE wait.
  bool BoundedWait(const std::function<bool()>& answered, const char* label, const char* message,
                   std::atomic<bool>* failureFlag, bool raiseMaxAttempt);
  void PauseInWait();

  // False only when the rename failed (the server then gives up); a response that could not be
  // written whole is dropped, reported, and the server carries on.
  bool PublishResponse(const nlohmann::json& doc);
  void Say(const std::string& text) const;   // SERVER + text + line end
  void Line(const std::string& text) const;  // text + line end, without the prefix
};

}  // namespace servermod
