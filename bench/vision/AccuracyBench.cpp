// How close the box measurement comes to the truth on rendered scenes. Prints, for each group of
// scenes and each measuring method, the median and worst error of X (shorter side), Y (longer
// side) and Z (height) in mm over the results that came back usable, and how many came back empty
// or flagged (hands). No thresholds: it reports what each method does.
//
//   vision_accuracy_bench [--scenes]     --scenes adds one CSV line per measurement
//
// A method is a function from a frame pair to a result; further methods are added to Methods().
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/vision/BenchScenes.h"
#include "core/CoreParams.h"
#include "core/Measurement.h"
#include "vision/Vision.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr float kPlatformMm = 1000;
constexpr int kNoisyFrames = 3;  // frames per noisy scene (different noise and holes)

struct Result {
  float x = 0;  // shorter side, mm
  float y = 0;  // longer side, mm
  float z = 0;  // height, mm
  bool empty = false;
  bool flagged = false;
};

struct Method {
  std::string name;
  std::function<Result(const visionbench::FramePair&)> measure;
};

// The station's own measurement with the given method, as the frame loop calls it (without
// pictures), with the smaller side first as the command server reports it.
Result MeasureAsStation(visionmod::Vision& vision, MeasuringMethod method,
                        const visionbench::FramePair& frames) {
  CoreParams::getInstance()->MeasureMethod = method;
  Measurement* m = Measurement::getInstance();
  std::ostringstream ignored;
  std::streambuf* previous = std::cout.rdbuf(ignored.rdbuf());  // the console lines are not wanted
  vision.Measure(frames.depth, frames.color, false, false);
  std::cout.rdbuf(previous);
  Result r;
  r.x = std::min(m->x, m->y);
  r.y = std::max(m->x, m->y);
  r.z = m->z;
  r.empty = m->x == 0 || m->y == 0 || m->z == 0;
  r.flagged = m->MEASURE_ERROR_HANDS_DETECTED;
  return r;
}

std::vector<Method> Methods(visionmod::Vision& vision) {
  auto with = [&vision](MeasuringMethod method) {
    return [&vision, method](const visionbench::FramePair& f) {
      return MeasureAsStation(vision, method, f);
    };
  };
  return {{"contour", with(MeasuringMethod::Contour)},
          {"footprint", with(MeasuringMethod::Footprint)}};
}

struct Case {
  std::string group;
  std::string name;
  dimcam::Scene scene;
  float truthX, truthY, truthZ;  // shorter side, longer side, height
};

dimcam::SceneBox MakeBox(float l, float w, float h, float cx, float cy, float yaw) {
  return dimcam::SceneBox{{l, w, h}, {cx, cy}, yaw};
}

// The fixed table: box sizes from 50 to 600 mm and heights from 40 to 400 mm, centred and
// off-centre in the measuring region (centred at y = 40 mm), yaws 0 to 45 degrees, each without
// noise and with noise of 1.5 mm at 1 m and 1 % of pixels without depth.
std::vector<Case> Cases() {
  struct Size {
    const char* cls;
    float l, w, h;
  };
  const Size sizes[] = {{"small", 50, 50, 40},     {"small", 100, 70, 60},
                        {"medium", 200, 150, 100}, {"medium", 300, 200, 150},
                        {"large", 400, 300, 250},  {"large", 600, 400, 400}};
  struct Position {
    const char* cls;
    float x, y;
  };
  const Position positions[] = {{"centred", 0, 40},
                                {"off-centre", 120, -20},
                                {"off-centre", -140, 110},
                                {"off-centre", 180, 140}};
  const float yaws[] = {0, 15, 30, 45};
  std::vector<Case> cases;
  for (const bool noisy : {false, true}) {
    for (const Size& s : sizes) {
      for (const Position& p : positions) {
        for (const float yaw : yaws) {
          Case c;
          c.group = std::string(s.cls) + " " + p.cls + (noisy ? " noisy" : " clean");
          std::ostringstream name;
          name << s.l << "x" << s.w << "x" << s.h << "@(" << p.x << "," << p.y << ")yaw" << yaw;
          c.name = name.str();
          c.scene.platform_distance_mm = kPlatformMm;
          c.scene.boxes = {MakeBox(s.l, s.w, s.h, p.x, p.y, yaw)};
          if (noisy) {
            c.scene.depth_noise_mm = 1.5f;
            c.scene.hole_fraction = 0.01f;
          }
          c.scene.seed = cases.size() + 1;
          c.truthX = std::min(s.l, s.w);
          c.truthY = std::max(s.l, s.w);
          c.truthZ = s.h;
          cases.push_back(c);
        }
      }
    }
  }
  return cases;
}

struct Errors {
  std::vector<double> x, y, z;
  int count = 0;
  int empty = 0;
  int flagged = 0;
};

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Worst error by magnitude, with its sign (positive: the method reports too much).
double Worst(const std::vector<double>& v) {
  double worst = NAN;
  for (double e : v) {
    if (std::isnan(worst) || std::fabs(e) > std::fabs(worst)) worst = e;
  }
  return worst;
}

std::string Fixed(double v) {
  if (std::isnan(v)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f", v);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const bool perScene = argc > 1 && std::string(argv[1]) == "--scenes";
  visionbench::PrepareStation(kPlatformMm);
  visionmod::Vision vision;
  const std::vector<Method> methods = Methods(vision);
  const std::vector<Case> cases = Cases();

  // method -> group -> errors; groups keep the order of the table.
  std::map<std::string, std::map<std::string, Errors>> stats;
  std::vector<std::string> groupOrder;
  std::ostringstream sceneCsv;
  sceneCsv << "method,group,scene,frame,x,y,z,err_x,err_y,err_z,empty,flagged\n";
  for (const Case& c : cases) {
    if (std::find(groupOrder.begin(), groupOrder.end(), c.group) == groupOrder.end()) {
      groupOrder.push_back(c.group);
    }
    const int frames = c.scene.depth_noise_mm > 0 || c.scene.hole_fraction > 0 ? kNoisyFrames : 1;
    for (int f = 1; f <= frames; ++f) {
      for (const Method& method : methods) {
        // Each method gets frames of its own: the station's method draws on the colour frame.
        const Result r = method.measure(visionbench::Render(c.scene, kWidth, kHeight, f));
        Errors& e = stats[method.name][c.group];
        ++e.count;
        e.empty += r.empty;
        e.flagged += r.flagged;
        if (!r.empty && !r.flagged) {
          e.x.push_back(r.x - c.truthX);
          e.y.push_back(r.y - c.truthY);
          e.z.push_back(r.z - c.truthZ);
        }
        sceneCsv << method.name << "," << c.group << "," << c.name << "," << f << "," << r.x << ","
                 << r.y << "," << r.z << "," << r.x - c.truthX << "," << r.y - c.truthY << ","
                 << r.z - c.truthZ << "," << r.empty << "," << r.flagged << "\n";
      }
    }
  }

  std::ostringstream table;
  table << "Accuracy on rendered scenes, 1280x720, platform at " << kPlatformMm
        << " mm; errors in mm (measured - truth) over results neither empty nor flagged;\n"
        << "X = shorter side, Y = longer side, Z = height.\n\n";
  char line[256];
  std::snprintf(line, sizeof line, "%-9s %-26s %4s %7s %8s %7s %8s %7s %8s %6s %8s\n", "method",
                "group", "n", "med X", "worst X", "med Y", "worst Y", "med Z", "worst Z", "empty",
                "flagged");
  table << line;
  std::ostringstream csv;
  csv << "method,group,n,median_x,worst_x,median_y,worst_y,median_z,worst_z,empty,flagged\n";
  // The methods one under the other within each group, so that they compare line by line.
  for (const std::string& group : groupOrder) {
    for (const Method& method : methods) {
      const Errors& e = stats[method.name][group];
      std::snprintf(line, sizeof line, "%-9s %-26s %4d %7s %8s %7s %8s %7s %8s %6d %8d\n",
                    method.name.c_str(), group.c_str(), e.count, Fixed(Median(e.x)).c_str(),
                    Fixed(Worst(e.x)).c_str(), Fixed(Median(e.y)).c_str(),
                    Fixed(Worst(e.y)).c_str(), Fixed(Median(e.z)).c_str(),
                    Fixed(Worst(e.z)).c_str(), e.empty, e.flagged);
      table << line;
      csv << method.name << "," << group << "," << e.count << "," << Median(e.x) << ","
          << Worst(e.x) << "," << Median(e.y) << "," << Worst(e.y) << "," << Median(e.z) << ","
          << Worst(e.z) << "," << e.empty << "," << e.flagged << "\n";
    }
  }

  // Side by side: the worst error of each method per group.
  table << "\nWorst error per group, side by side (X / Y / Z, mm):\n";
  std::string header = "group                     ";
  for (const Method& method : methods) {
    char cell[64];
    std::snprintf(cell, sizeof cell, " %22s", method.name.c_str());
    header += cell;
  }
  table << header << "\n";
  for (const std::string& group : groupOrder) {
    std::string row = group;
    row.resize(26, ' ');
    for (const Method& method : methods) {
      const Errors& e = stats[method.name][group];
      char cell[64];
      std::snprintf(cell, sizeof cell, " %6s / %5s / %5s", Fixed(Worst(e.x)).c_str(),
                    Fixed(Worst(e.y)).c_str(), Fixed(Worst(e.z)).c_str());
      row += cell;
    }
    table << row << "\n";
  }
  std::cout << table.str() << "\n" << csv.str();
  if (perScene) std::cout << "\n" << sceneCsv.str();
  return 0;
}
