// Time per Measure on a 1280 x 720 frame pair, split into its phases, with and without the
// snapshot writes, the footprint method beside the contour method, and the peak memory of the
// process. Prints a table and a CSV.
//
//   vision_speed_bench [repetitions]     (default 60)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/vision/BenchScenes.h"
#include "core/CoreParams.h"
#include "vision/Vision.h"

namespace {

struct Series {
  const char* name;
  std::vector<double> ms;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t at = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[at];
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const std::string dir = visionbench::PrepareStation(1000);
  visionmod::Vision vision;
  visionmod::MeasureTimings timings;
  vision.timings = &timings;

  dimcam::Scene scene;
  scene.platform_distance_mm = 1000;
  dimcam::SceneBox box;
  box.size_mm[0] = 300;
  box.size_mm[1] = 200;
  box.size_mm[2] = 150;
  box.center_mm[1] = 40;
  box.yaw_deg = 20;
  scene.boxes = {box};
  scene.depth_noise_mm = 1.5f;
  scene.hole_fraction = 0.01f;
  const visionbench::FramePair frames = visionbench::Render(scene, 1280, 720);

  Series colorize{"colorize", {}}, mask{"mask + gray", {}}, contours{"contours + rectangle", {}},
      draw{"drawing", {}}, measure{"measure (no pictures)", {}}, total{"Measure call", {}},
      snapshots{"snapshot writes", {}}, withPictures{"Measure call with pictures", {}},
      fpContours{"footprint: contours + fit", {}}, fpTotal{"footprint: Measure call", {}};
  std::ostringstream ignored;
  std::streambuf* console = std::cout.rdbuf(ignored.rdbuf());  // Measure's own lines
  // Passes: contour method without and with pictures, then the footprint method without.
  for (int pass = 0; pass < 3; ++pass) {
    const bool printImage = pass == 1;
    const bool footprint = pass == 2;
    CoreParams::getInstance()->MeasureMethod =
        footprint ? MeasuringMethod::Footprint : MeasuringMethod::Contour;
    const int n = printImage ? std::max(1, repetitions / 3) : repetitions;
    for (int i = -2; i < n; ++i) {  // two warm-up calls
      timings = visionmod::MeasureTimings();
      const auto start = std::chrono::steady_clock::now();
      vision.Measure(frames.depth, frames.color, false, printImage);
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      if (i < 0) continue;
      if (footprint) {
        fpContours.ms.push_back(timings.contoursMs);
        fpTotal.ms.push_back(ms);
      } else if (printImage) {
        snapshots.ms.push_back(timings.snapshotsMs);
        withPictures.ms.push_back(ms);
      } else {
        colorize.ms.push_back(timings.colorizeMs);
        mask.ms.push_back(timings.maskMs);
        contours.ms.push_back(timings.contoursMs);
        draw.ms.push_back(timings.drawMs);
        measure.ms.push_back(timings.colorizeMs + timings.maskMs + timings.contoursMs +
                             timings.drawMs);
        total.ms.push_back(ms);
      }
    }
  }
  std::cout.rdbuf(console);
  std::error_code ignoredError;
  std::filesystem::remove_all(dir, ignoredError);

  std::ostringstream table;
  std::ostringstream csv;
  table << "Measure at 1280x720 (box 300x200x150 mm turned 20 deg, platform 1000 mm), "
        << repetitions << " calls without pictures, " << std::max(1, repetitions / 3)
        << " with; milliseconds\n\n";
  char line[160];
  std::snprintf(line, sizeof line, "%-28s %9s %9s %9s\n", "phase", "median", "p90", "max");
  table << line;
  csv << "phase,median_ms,p90_ms,max_ms\n";
  for (const Series* s : {&colorize, &mask, &contours, &draw, &measure, &total, &snapshots,
                          &withPictures, &fpContours, &fpTotal}) {
    std::snprintf(line, sizeof line, "%-28s %9.2f %9.2f %9.2f\n", s->name, Percentile(s->ms, 0.5),
                  Percentile(s->ms, 0.9), Percentile(s->ms, 1.0));
    table << line;
    csv << s->name << "," << Percentile(s->ms, 0.5) << "," << Percentile(s->ms, 0.9) << ","
        << Percentile(s->ms, 1.0) << "\n";
  }
  std::snprintf(line, sizeof line, "\nfootprint / contour, median Measure call: %.2f\n",
                Percentile(fpTotal.ms, 0.5) / Percentile(total.ms, 0.5));
  table << line;
  csv << "footprint_over_contour," << Percentile(fpTotal.ms, 0.5) / Percentile(total.ms, 0.5)
      << ",,\n";
  std::snprintf(line, sizeof line, "\npeak resident memory: %.1f MiB\n\n",
                visionbench::PeakRssMiB());
  table << line;
  csv << "peak_rss_mib," << visionbench::PeakRssMiB() << ",,\n";
  std::cout << table.str() << csv.str();
  return 0;
}
