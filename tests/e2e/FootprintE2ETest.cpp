// The station on the simulated camera with the footprint method chosen in its configuration,
// measured through dimctl.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/StationProcess.h"

namespace {

using nlohmann::json;
using testsupport::FileExists;
using testsupport::RunFolder;
using testsupport::StationProcess;
using testsupport::WaitUntil;
using namespace std::chrono_literals;

// Runs dimctl with the words; its standard output, and its exit status in `status`.
std::string Dimctl(const std::string& words, int* status) {
  const std::string command = std::string(DIMCTL_BINARY) + " " + words + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

TEST(FootprintStation, MeasuresAnOffAxisBoxToItsTrueSize) {
  RunFolder run;
  run.WriteConfig(run.ConfigText() + "\n[measurement]\nmethod = \"footprint\"\n");
  // Far off the axis, where the contour method reports the sides 7 to 9 mm too long.
  const json scene = {{"platform_distance_mm", 1000},
                      {"boxes", {{{"size_mm", {200, 150, 150}}, {"center_mm", {180, 140}}}}}};
  testsupport::WriteFileAtomically(run.file("scene.json"), scene.dump());
  StationProcess station(run.path(), {"disable_scales", "disable_automeasure"},
                         {{"DIMCORE_CAMERA_SCENE", run.file("scene.json")}});

  ASSERT_TRUE(station.WaitForStdout("CORE: Measuring method footprint\n", 10s)) << station.Stdout();
  // Start-up calibration and the first, unasked measurement done (its last act is the photo,
  // complete).
  ASSERT_TRUE(station.WaitForStdout("Vision: Calibrate 2 \n\n", 20s))
      << station.Stdout() << station.Stderr();
  ASSERT_TRUE(WaitUntil([&] { return testsupport::PngComplete(run.photo()); }, 10s));

  int status = -1;
  const std::string answer = Dimctl(
      "--config '" + run.file("configs/appconfig.toml") + "' --timeout 30 --json measure", &status);
  ASSERT_EQ(status, 0) << answer << station.Stdout();
  const json r = json::parse(answer, nullptr, false);
  ASSERT_TRUE(r.is_object()) << answer;
  EXPECT_EQ(r["STATUS"], true);
  EXPECT_NEAR(r["X"].get<double>(), 150, 2.0);
  EXPECT_NEAR(r["Y"].get<double>(), 200, 2.0);
  EXPECT_NEAR(r["Z"].get<double>(), 150, 2.0);
  EXPECT_EQ(r["MEASURE_ERROR_HANDS_DETECTED"], false);
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_X"], false);
  EXPECT_EQ(r["MEASURE_ERROR_EMPTY_Z"], false);

  station.Stop();
  EXPECT_EQ(station.Stderr(), "");
}

}  // namespace
