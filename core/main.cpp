// The station's entry point: reads the configuration, interprets the command line, runs the command
// server and the scales module on threads of their own and the vision loop on this thread, then
// stops everything and, when a client asked for it, powers the device off.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <thread>

#include "core/Configuration.h"
#include "core/CoreParams.h"
#include "core/PowerOff.h"
#include "core/Startup.h"
#include "core/StopSignals.h"
#include "scales/Scales2.h"
#include "server/ServerJson2.h"
#include "vision/Vision.h"

int main(int argc, char** argv) {
  // Whole lines reach a pipe or the journal as they are printed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  CoreParams* coreParams = CoreParams::getInstance();
  Configuration* configuration = Configuration::getInstance();
  if (!core::ReadConfiguration(core::kConfigFilePath, coreParams, configuration, std::cout)) {
    return 0;
  }
  const core::CommandLine words = core::ParseCommandLine(argc, argv, coreParams, std::cout);
  core::InstallStopSignalHandlers();

  std::thread t1(&servermod::ServerJson::Start, servermod::ServerJson());
  std::thread t2(&scalesmod::Scales2::Run, scalesmod::Scales2(), words.disable_scales);
  {
    visionmod::Vision vis;
    vis.Run(words.disable_lidar);

    std::cout << "CORE: APPLICATION EXITING\n";
    coreParams->APPLICATION_STOP_REQUEST = true;
    t1.join();
    t2.join();
    std::ostringstream banner;
    banner << "\n\n\nCORE: ---------------------------SHUTDOWN "
              "DEVICE---------------------------\n\n\n";
    std::cout << banner.str() << std::flush;
    if (coreParams->SHUTDOWN_REQUEST) core::PowerOff();
  }
  return 0;
}
