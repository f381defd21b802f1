// Automeasure: every poll cycle measures once more and publishes the result to its own file when
// the client has taken (deleted) the previous one.
#include <nlohmann/json.hpp>
#include <string>

#include "server/ExchangeFiles.h"
#include "server/ServerJson2.h"

namespace servermod {

void ServerJson::AutomeasureStep() {
  nlohmann::json jf_core_out = nlohmann::json::object();
  Say("AUTOMEASURE.");
  // errorFlg and the server flags belong to the whole cycle: a MEASURE that gave up earlier in
  // this cycle makes this document report the failure too.
  MeasurementSequence(jf_core_out, "Test4 Attempt=", "Test5 Attempt=");
  AddErrorFlags(jf_core_out);
  const std::string line = DocumentLine(jf_core_out);
  if (!CanOpenForReading(CORE)) {
    // A failed rename (e.g. a missing folder) is not reported: the result only stays unpublished.
    PublishThroughRename(CORE_TEMP, CORE, line);
  }
  Say("File created!: CONTENT:  " + line.substr(0, line.size() - 1));
}

}  // namespace servermod
