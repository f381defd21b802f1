#include "vision/Vision.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

namespace visionmod {

Vision::Vision()
    : errror_parser(ModuleEnum::VISION),
      measurement(Measurement::getInstance()),
      coreParams(CoreParams::getInstance()),
      configuration(Configuration::getInstance()) {}

int Vision::Run(bool disable_lidar) {
  try {
    return disable_lidar ? RunMock() : RunCamera();
  } catch (const dimcam::Error& e) {
    std::cerr << "RealSense error calling " + e.get_failed_function() + "(" + e.get_failed_args() +
                     "):\n    " + e.what() + "\n";
  } catch (const std::exception& e) {
    std::cerr << std::string(e.what()) + "\n";
  }
  // Wait for the operator: on a terminal until a line is entered, at end of input not at all.
  if (std::scanf("a") < 0) {
    // End of input: nobody at the console to confirm.
  }
  return 2;
}

// Without a camera: calibrations are acknowledged at once and every measurement is answered with
// fixed dimensions and a copy of the stored picture.
int Vision::RunMock() {
  std::cout << VISION + "Start Mock Lidar\n";
  while (!coreParams->APPLICATION_STOP_REQUEST) {
    if (!measurement->is_calibrated.load(std::memory_order_acquire)) {
      measurement->is_calibrated.store(true, std::memory_order_release);
    }
    if (!measurement->is_measured.load(std::memory_order_acquire)) {
      std::ifstream in_file(coreParams->MockPngFile, std::ios::binary);
      std::ofstream out_file(coreParams->MockPngFile2, std::ios::binary | std::ios::trunc);
      if (in_file.is_open() && out_file.is_open()) {
        std::string line;
        while (std::getline(in_file, line)) out_file << line << "\n";
        std::cout << VISION + "Copy Finished \n";
      } else {
        std::cout << VISION + "Cannot read mock file\n";
      }
      in_file.close();
      out_file.close();
      if (std::rename(coreParams->MockPngFile2.c_str(), coreParams->PhotoPath.c_str()) != 0) {
        std::cout << VISION + "Error in renaming\n";
        return 1;
      }
      measurement->x = 123000;
      measurement->y = 456000;
      measurement->z = 789000;
      measurement->is_measured.store(true, std::memory_order_release);
    }
    usleep(100000);
  }
  return 0;
}

}  // namespace visionmod
