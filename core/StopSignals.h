#pragma once

namespace core {

// SIGINT and SIGTERM set the stop flag (taken by a thread of their own), so the station stops as
// after a camera failure: threads joined, banner printed, no power-off. A second signal ends the
// process at once.
void InstallStopSignalHandlers();

}  // namespace core
