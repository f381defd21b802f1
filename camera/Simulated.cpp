#include "camera/Simulated.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "camera/OptionTable.h"

namespace dimcam {

// ---- Scene documents ----

namespace {

using nlohmann::json;

[[noreturn]] void Invalid(const std::string& where, const std::string& what) {
  throw std::invalid_argument(where + ": " + what);
}

float Number(const json& v, const std::string& where) {
  if (!v.is_number()) Invalid(where, "expected a number");
  const double d = v.get<double>();
  if (!std::isfinite(d) || std::abs(d) > 1e7) Invalid(where, "number out of range");
  return static_cast<float>(d);
}

std::uint64_t Count(const json& v, const std::string& where) {
  if (!v.is_number_integer() ||
      (v.is_number_integer() && !v.is_number_unsigned() && v.get<long long>() < 0)) {
    Invalid(where, "expected a whole number of 0 or more");
  }
  return v.get<std::uint64_t>();
}

void NumberArray(const json& v, const std::string& where, float* out, std::size_t n) {
  if (!v.is_array() || v.size() != n) {
    Invalid(where, "expected an array of " + std::to_string(n) + " numbers");
  }
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = Number(v[i], where + "[" + std::to_string(i) + "]");
  }
}

// Members are checked by name so that a misspelt member is an error, not a silent default.
// Members whose name starts with "_" are comments.
void CheckMembers(const json& object, const std::string& where,
                  std::initializer_list<const char*> allowed) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    const std::string& key = it.key();
    if (!key.empty() && key[0] == '_') continue;
    bool known = false;
    for (const char* name : allowed) known = known || key == name;
    if (!known) Invalid(where, "unknown member \"" + key + "\"");
  }
}

SceneBox ParseBox(const json& v, const std::string& where) {
  if (!v.is_object()) Invalid(where, "expected an object");
  CheckMembers(v, where, {"size_mm", "center_mm", "yaw_deg", "elevation_mm"});
  SceneBox box;
  if (!v.contains("size_mm")) Invalid(where, "member \"size_mm\" is required");
  NumberArray(v["size_mm"], where + ".size_mm", box.size_mm, 3);
  for (float s : box.size_mm) {
    if (!(s > 0)) Invalid(where + ".size_mm", "every size must be greater than 0");
  }
  if (v.contains("center_mm")) NumberArray(v["center_mm"], where + ".center_mm", box.center_mm, 2);
  if (v.contains("yaw_deg")) box.yaw_deg = Number(v["yaw_deg"], where + ".yaw_deg");
  if (v.contains("elevation_mm")) {
    box.elevation_mm = Number(v["elevation_mm"], where + ".elevation_mm");
    if (box.elevation_mm < 0) Invalid(where + ".elevation_mm", "must be 0 or more");
  }
  return box;
}

}  // namespace

Scene ParseScene(const std::string& text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    throw std::invalid_argument(std::string("not valid JSON: ") + e.what());
  }
  if (!doc.is_object()) Invalid("scene", "expected a JSON object");
  CheckMembers(doc, "scene",
               {"platform_distance_mm", "fov_deg", "boxes", "depth_noise_mm", "hole_fraction",
                "seed", "streams", "stall_after_frames"});
  Scene scene;
  if (doc.contains("platform_distance_mm")) {
    scene.platform_distance_mm = Number(doc["platform_distance_mm"], "platform_distance_mm");
    if (!(scene.platform_distance_mm > 0 && scene.platform_distance_mm <= 65535)) {
      Invalid("platform_distance_mm", "must be greater than 0 and at most 65535");
    }
  }
  if (doc.contains("fov_deg")) {
    NumberArray(doc["fov_deg"], "fov_deg", scene.fov_deg, 2);
    for (float f : scene.fov_deg) {
      if (!(f >= 1 && f <= 170)) Invalid("fov_deg", "angles must lie between 1 and 170 degrees");
    }
  }
  if (doc.contains("boxes")) {
    const json& boxes = doc["boxes"];
    if (!boxes.is_array()) Invalid("boxes", "expected an array");
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const std::string where = "boxes[" + std::to_string(i) + "]";
      SceneBox box = ParseBox(boxes[i], where);
      if (box.elevation_mm + box.size_mm[2] >= scene.platform_distance_mm) {
        Invalid(where, "the box reaches the camera (elevation + height >= platform distance)");
      }
      scene.boxes.push_back(box);
    }
  }
  if (doc.contains("depth_noise_mm")) {
    scene.depth_noise_mm = Number(doc["depth_noise_mm"], "depth_noise_mm");
    if (scene.depth_noise_mm < 0) Invalid("depth_noise_mm", "must be 0 or more");
  }
  if (doc.contains("hole_fraction")) {
    scene.hole_fraction = Number(doc["hole_fraction"], "hole_fraction");
    if (!(scene.hole_fraction >= 0 && scene.hole_fraction <= 1)) {
      Invalid("hole_fraction", "must lie between 0 and 1");
    }
  }
  if (doc.contains("seed")) scene.seed = Count(doc["seed"], "seed");
  if (doc.contains("streams")) {
    const json& streams = doc["streams"];
    if (!streams.is_array()) Invalid("streams", "expected an array of stream names");
    scene.streams.clear();
    for (const json& s : streams) {
      if (!s.is_string()) Invalid("streams", "expected \"depth\", \"color\" or \"infrared\"");
      const std::string name = s.get<std::string>();
      StreamType type;
      if (name == "depth") {
        type = StreamType::Depth;
      } else if (name == "color") {
        type = StreamType::Color;
      } else if (name == "infrared") {
        type = StreamType::Infrared;
      } else {
        Invalid("streams", "unknown stream \"" + name + "\" (use depth, color, infrared)");
      }
      if (std::find(scene.streams.begin(), scene.streams.end(), type) != scene.streams.end()) {
        Invalid("streams", "\"" + name + "\" is listed twice");
      }
      scene.streams.push_back(type);
    }
  }
  if (doc.contains("stall_after_frames") && !doc["stall_after_frames"].is_null()) {
    scene.stall_after_frames = Count(doc["stall_after_frames"], "stall_after_frames");
  }
  return scene;
}

Scene LoadSceneFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::invalid_argument("cannot open the file");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw std::invalid_argument("cannot read the file");
  return ParseScene(text.str());
}

// ---- Rendering ----

namespace {

constexpr double kPi = 3.14159265358979323846;

std::uint64_t Mix(std::uint64_t z) {
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Standard normal quantiles at (i + 0.5) / N: a Gaussian sample from 12 random bits.
constexpr int kGaussBits = 12;
const float* GaussTable() {
  static const std::vector<float> table = [] {
    const int n = 1 << kGaussBits;
    std::vector<float> t(n);
    for (int i = 0; i < n; ++i) {
      const double p = (i + 0.5) / n;
      double x = 0;
      for (int k = 0; k < 60; ++k) {  // Newton on the normal distribution function
        const double cdf = 0.5 * std::erfc(-x / std::sqrt(2.0));
        const double pdf = std::exp(-x * x / 2) / std::sqrt(2 * kPi);
        const double step = (cdf - p) / pdf;
        x -= step;
        if (std::abs(step) < 1e-12) break;
      }
      t[i] = static_cast<float>(x);
    }
    return t;
  }();
  return table.data();
}

struct Rgb {
  std::uint8_t r, g, b;
};

// Surface kinds: the platform, and per box its top and its two pairs of side walls.
constexpr int kPlatform = 0;
int FaceId(std::size_t box, int face) { return 1 + static_cast<int>(box) * 3 + face; }

std::vector<Rgb> Palette(std::size_t boxes) {
  std::vector<Rgb> p;
  p.push_back({118, 122, 128});  // grey platform
  for (std::size_t i = 0; i < boxes; ++i) {
    // Cardboard, a little different for each box; walls darker than the lit top.
    const int tint = static_cast<int>((i * 23) % 48) - 24;
    auto c = [&](int r, int g, int b) {
      auto clamp = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
      return Rgb{clamp(r + tint), clamp(g + tint / 2), clamp(b - tint / 2)};
    };
    p.push_back(c(200, 160, 112));
    p.push_back(c(160, 126, 88));
    p.push_back(c(140, 108, 74));
  }
  return p;
}

}  // namespace

struct SceneRenderer::Impl {
  Intrinsics in;
  bool separable = true;
  std::vector<float> colX;  // x/z of the ray through each column (separable lens)
  std::vector<float> rowY;  // y/z of the ray through each row
  std::vector<float> rays;  // x/z, y/z per pixel when the lens has coefficients
  // Work rows.
  mutable std::mutex mutex;
  mutable std::vector<float> z;
  mutable std::vector<std::uint8_t> face;

  float RayX(int u, int v) const {
    return separable ? colX[u] : rays[2 * (static_cast<std::size_t>(v) * in.width + u)];
  }
  float RayY(int u, int v) const {
    return separable ? rowY[v] : rays[2 * (static_cast<std::size_t>(v) * in.width + u) + 1];
  }
};

SceneRenderer::SceneRenderer(const Intrinsics& intrinsics) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  if (intrinsics.width <= 0 || intrinsics.height <= 0 || !(intrinsics.fx > 0) ||
      !(intrinsics.fy > 0)) {
    throw InvalidValueError("the renderer needs an image size and focal lengths", "SceneRenderer",
                            "");
  }
  m.in = intrinsics;
  for (float c : intrinsics.coeffs) m.separable = m.separable && c == 0;
  // The rays are exactly those that deprojection gives for each pixel at depth 1.
  auto ray = [&](int u, int v, float out[3]) {
    const float pixel[2] = {static_cast<float>(u), static_cast<float>(v)};
    DeprojectPixelToPoint(out, intrinsics, pixel, 1.0f);
  };
  float p[3];
  if (m.separable) {
    m.colX.resize(intrinsics.width);
    m.rowY.resize(intrinsics.height);
    for (int u = 0; u < intrinsics.width; ++u) {
      ray(u, 0, p);
      m.colX[u] = p[0];
    }
    for (int v = 0; v < intrinsics.height; ++v) {
      ray(0, v, p);
      m.rowY[v] = p[1];
    }
  } else {
    m.rays.resize(2 * static_cast<std::size_t>(intrinsics.width) * intrinsics.height);
    for (int v = 0; v < intrinsics.height; ++v) {
      for (int u = 0; u < intrinsics.width; ++u) {
        ray(u, v, p);
        m.rays[2 * (static_cast<std::size_t>(v) * intrinsics.width + u)] = p[0];
        m.rays[2 * (static_cast<std::size_t>(v) * intrinsics.width + u) + 1] = p[1];
      }
    }
  }
  m.z.resize(intrinsics.width);
  m.face.resize(intrinsics.width);
}

SceneRenderer::~SceneRenderer() = default;
SceneRenderer::SceneRenderer(SceneRenderer&&) noexcept = default;
SceneRenderer& SceneRenderer::operator=(SceneRenderer&&) noexcept = default;

const Intrinsics& SceneRenderer::intrinsics() const { return impl_->in; }

namespace {

// A box prepared for ray casting: the ray through a pixel is t * (rx, ry, 1), with t the depth in
// millimetres. In the box's own frame (turned by -yaw about its footprint centre) the ray point is
// o + t * d, and the box is |x| <= hx, |y| <= hy, top <= t <= bottom.
struct PreparedBox {
  double c, s;    // cos and sin of the yaw
  double ox, oy;  // ray origin in the box frame
  double hx, hy;  // half length and half width
  double top, bottom;
  int u0, u1, v0, v1;  // pixels that may see the box (inclusive)
};

PreparedBox Prepare(const SceneBox& b, double platform, const Intrinsics& in) {
  PreparedBox p;
  const double yaw = b.yaw_deg * kPi / 180.0;
  p.c = std::cos(yaw);
  p.s = std::sin(yaw);
  const double cx = b.center_mm[0];
  const double cy = b.center_mm[1];
  p.ox = -(p.c * cx + p.s * cy);
  p.oy = -(-p.s * cx + p.c * cy);
  p.hx = b.size_mm[0] / 2.0;
  p.hy = b.size_mm[1] / 2.0;
  p.bottom = platform - b.elevation_mm;
  p.top = p.bottom - b.size_mm[2];
  // Pixel bounds: project the eight corners (the box is convex, so its picture lies inside their
  // bounding rectangle), with a margin of two pixels for rounding and lens effects.
  double umin = std::numeric_limits<double>::max(), umax = -umin, vmin = umin, vmax = -umin;
  for (int corner = 0; corner < 8; ++corner) {
    const double lx = (corner & 1) ? p.hx : -p.hx;
    const double ly = (corner & 2) ? p.hy : -p.hy;
    const double z = (corner & 4) ? p.bottom : p.top;
    const float point[3] = {static_cast<float>(cx + p.c * lx - p.s * ly),
                            static_cast<float>(cy + p.s * lx + p.c * ly), static_cast<float>(z)};
    float pixel[2];
    ProjectPointToPixel(pixel, in, point);
    umin = std::min(umin, static_cast<double>(pixel[0]));
    umax = std::max(umax, static_cast<double>(pixel[0]));
    vmin = std::min(vmin, static_cast<double>(pixel[1]));
    vmax = std::max(vmax, static_cast<double>(pixel[1]));
  }
  bool distorted = false;
  for (float k : in.coeffs) distorted = distorted || k != 0;
  if (distorted || !std::isfinite(umin + umax + vmin + vmax)) {
    p.u0 = 0;
    p.v0 = 0;
    p.u1 = in.width - 1;
    p.v1 = in.height - 1;
  } else {
    p.u0 = static_cast<int>(std::clamp(std::floor(umin) - 2, 0.0, in.width - 1.0));
    p.u1 = static_cast<int>(std::clamp(std::ceil(umax) + 2, 0.0, in.width - 1.0));
    p.v0 = static_cast<int>(std::clamp(std::floor(vmin) - 2, 0.0, in.height - 1.0));
    p.v1 = static_cast<int>(std::clamp(std::ceil(vmax) + 2, 0.0, in.height - 1.0));
    if (umax < 0 || vmax < 0 || umin > in.width - 1 || vmin > in.height - 1) p.u1 = p.u0 - 1;
  }
  return p;
}

// Narrows [tn, tf] to where o + t * d lies within [-h, h]; `face` records which slab set tn.
inline void Slab(double o, double d, double h, double& tn, double& tf, int& face, int slabFace) {
  if (std::abs(d) < 1e-12) {
    if (std::abs(o) > h) tf = -1;  // parallel and outside: no hit
    return;
  }
  double t1 = (-h - o) / d;
  double t2 = (h - o) / d;
  if (t1 > t2) std::swap(t1, t2);
  if (t1 > tn) {
    tn = t1;
    face = slabFace;
  }
  if (t2 < tf) tf = t2;
}

}  // namespace

void SceneRenderer::Render(const Scene& scene, unsigned long long frameNumber, std::uint16_t* depth,
                           std::uint8_t* color, bool bgr) const {
  const Impl& m = *impl_;
  std::lock_guard<std::mutex> lock(m.mutex);
  const int w = m.in.width;
  const int h = m.in.height;
  const double platform = scene.platform_distance_mm;
  std::vector<PreparedBox> boxes;
  boxes.reserve(scene.boxes.size());
  for (const SceneBox& b : scene.boxes) boxes.push_back(Prepare(b, platform, m.in));
  const std::vector<Rgb> palette = Palette(scene.boxes.size());

  const bool noisy = scene.depth_noise_mm > 0;
  const bool holes = scene.hole_fraction > 0;
  const auto holeLimit = static_cast<std::uint64_t>(
      std::min(1.0, static_cast<double>(scene.hole_fraction)) * 4294967296.0);
  const float* gauss = GaussTable();
  const float sigma1m = scene.depth_noise_mm;
  const std::uint64_t frameKey =
      Mix(Mix(scene.seed ^ 0x5ca1ab1e0ddba11ULL) ^ (frameNumber * 0x2545f4914f6cdd1dULL));

  float* z = m.z.data();
  std::uint8_t* face = m.face.data();
  for (int v = 0; v < h; ++v) {
    // Everything sees the platform unless a box is nearer.
    std::fill(z, z + w, static_cast<float>(platform));
    std::fill(face, face + w, static_cast<std::uint8_t>(kPlatform));
    for (std::size_t bi = 0; bi < boxes.size(); ++bi) {
      const PreparedBox& b = boxes[bi];
      if (v < b.v0 || v > b.v1) continue;
      for (int u = b.u0; u <= b.u1; ++u) {
        const double rx = m.RayX(u, v);
        const double ry = m.RayY(u, v);
        double tn = b.top;
        double tf = b.bottom;
        int f = 0;  // top
        Slab(b.ox, b.c * rx + b.s * ry, b.hx, tn, tf, f, 1);
        Slab(b.oy, -b.s * rx + b.c * ry, b.hy, tn, tf, f, 2);
        if (tn <= tf && tn > 0 && tn < z[u]) {
          z[u] = static_cast<float>(tn);
          face[u] = static_cast<std::uint8_t>(FaceId(bi, f));
        }
      }
    }
    if (depth != nullptr) {
      std::uint16_t* out = depth + static_cast<std::size_t>(v) * w;
      const std::uint64_t rowKey = frameKey ^ (static_cast<std::uint64_t>(v) << 32);
      for (int u = 0; u < w; ++u) {
        double d = z[u];
        if (noisy || holes) {
          const std::uint64_t r = Mix(rowKey + static_cast<std::uint64_t>(u));
          if (holes && (r & 0xffffffffULL) < holeLimit) {
            out[u] = 0;
            continue;
          }
          if (noisy) {
            const double metres = d / 1000.0;
            d += gauss[r >> (64 - kGaussBits)] * sigma1m * metres * metres;
          }
        }
        const double q = std::nearbyint(d);
        out[u] = (q >= 1 && q <= 65535) ? static_cast<std::uint16_t>(q) : 0;
      }
    }
    if (color != nullptr) {
      std::uint8_t* out = color + static_cast<std::size_t>(v) * w * 3;
      for (int u = 0; u < w; ++u) {
        const Rgb c = palette[face[u]];
        out[3 * u] = bgr ? c.b : c.r;
        out[3 * u + 1] = c.g;
        out[3 * u + 2] = bgr ? c.r : c.b;
      }
    }
  }
}

namespace {

std::vector<Frame> RenderFrames(const Scene& scene, const std::vector<StreamProfile>& profiles,
                                unsigned long long number, double timestampMs,
                                std::map<std::pair<int, int>, SceneRenderer>* renderers) {
  std::vector<Frame> frames;
  // Render depth and colour of one size together (one ray cast for both).
  std::map<std::pair<int, int>, std::vector<const StreamProfile*>> bySize;
  for (const StreamProfile& p : profiles) {
    if (p.is_video()) bySize[{p.width(), p.height()}].push_back(&p);
  }
  for (const auto& [size, group] : bySize) {
    const Intrinsics in =
        PinholeIntrinsics(size.first, size.second, scene.fov_deg[0], scene.fov_deg[1]);
    auto it = renderers->find(size);
    if (it == renderers->end() || it->second.intrinsics() != in) {
      renderers->erase(size);
      it = renderers->emplace(size, SceneRenderer(in)).first;
    }
    const std::size_t pixels = static_cast<std::size_t>(size.first) * size.second;
    const FrameInfo info{number, timestampMs};
    auto profileOf = [&](const StreamProfile* p) {
      return StreamProfile(p->stream_type(), p->stream_index(), p->format(), p->fps(), in,
                           p->is_default(), p->unique_id());
    };
    // Render straight into the frames' own buffers: one depth frame and one colour picture in
    // the order of the first colour stream; other colour formats are derived from it.
    const StreamProfile* depthProfile = nullptr;
    const StreamProfile* colorProfile = nullptr;
    bool wantPicture = false;
    for (const StreamProfile* p : group) {
      if (p->stream_type() == StreamType::Depth) {
        if (depthProfile == nullptr) depthProfile = p;
      } else {
        wantPicture = true;
        if (colorProfile == nullptr &&
            (p->format() == Format::RGB8 || p->format() == Format::BGR8)) {
          colorProfile = p;
        }
      }
    }
    std::shared_ptr<std::uint16_t> depth;
    std::shared_ptr<std::uint8_t> picture;
    if (depthProfile != nullptr) {
      depth.reset(new std::uint16_t[pixels], std::default_delete<std::uint16_t[]>());
    }
    if (wantPicture) {
      picture.reset(new std::uint8_t[pixels * 3], std::default_delete<std::uint8_t[]>());
    }
    const bool bgr = colorProfile != nullptr && colorProfile->format() == Format::BGR8;
    it->second.Render(scene, number, depth.get(), picture.get(), bgr);
    if (depthProfile != nullptr) {
      frames.push_back(
          WrapFrame(profileOf(depthProfile), depth.get(), size.first * 2, depth, info, 0.001f));
    }
    if (colorProfile != nullptr) {
      frames.push_back(
          WrapFrame(profileOf(colorProfile), picture.get(), size.first * 3, picture, info));
    }
    for (const StreamProfile* p : group) {
      if (p == depthProfile || p == colorProfile || p->stream_type() == StreamType::Depth) continue;
      const std::uint8_t* src = picture.get();
      const int r = bgr ? 2 : 0;
      const int b = bgr ? 0 : 2;
      if (p->format() == Format::RGB8 || p->format() == Format::BGR8) {
        std::vector<std::uint8_t> bytes(src, src + pixels * 3);
        if (p->format() != (bgr ? Format::BGR8 : Format::RGB8)) {
          for (std::size_t i = 0; i < pixels; ++i) std::swap(bytes[3 * i], bytes[3 * i + 2]);
        }
        frames.push_back(MakeVideoFrame(profileOf(p), std::move(bytes), info));
      } else if (p->format() == Format::Y8) {
        std::vector<std::uint8_t> gray(pixels);
        for (std::size_t i = 0; i < pixels; ++i) {
          gray[i] = static_cast<std::uint8_t>(
              (77 * src[3 * i + r] + 150 * src[3 * i + 1] + 29 * src[3 * i + b]) >> 8);
        }
        frames.push_back(MakeVideoFrame(profileOf(p), std::move(gray), info));
      }
    }
  }
  // Depth first, then colour, then infrared, as a camera's frame sets come.
  std::stable_sort(frames.begin(), frames.end(), [](const Frame& a, const Frame& b) {
    return a.get_profile().stream_type() < b.get_profile().stream_type();
  });
  return frames;
}

}  // namespace

FrameSet RenderFrameSet(const Scene& scene, int width, int height, unsigned long long frameNumber) {
  const Intrinsics in = PinholeIntrinsics(width, height, scene.fov_deg[0], scene.fov_deg[1]);
  std::vector<StreamProfile> profiles;
  for (StreamType t : scene.streams) {
    const Format f = t == StreamType::Depth   ? Format::Z16
                     : t == StreamType::Color ? Format::RGB8
                                              : Format::Y8;
    profiles.emplace_back(t, t == StreamType::Infrared ? 1 : 0, f, 30, in, true);
  }
  std::map<std::pair<int, int>, SceneRenderer> renderers;
  return FrameSet(RenderFrames(scene, profiles, frameNumber, 0.0, &renderers));
}

// ---- The simulated camera as a backend ----

namespace {

// The scene file, read again whenever it changes on disk.
class SceneSource {
 public:
  explicit SceneSource(std::string path) : path_(std::move(path)) {}

  // The last good scene; empty when the file has never been usable.
  std::optional<Scene> Current() {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string signature = Signature();
    if (signature == seen_) return scene_;
    try {
      Scene scene = LoadSceneFile(path_);
      scene_ = std::move(scene);
      seen_ = signature;
    } catch (const std::invalid_argument& e) {
      // A file caught in the middle of being written changes again: look at it next time.
      if (Signature() != signature) return scene_;
      seen_ = signature;
      std::string line = "Simulated camera: ";
      if (scene_) {
        line += "the scene file \"" + path_ + "\" changed but cannot be used (" + e.what() +
                "); keeping the last good scene\n";
      } else {
        line += "cannot use the scene file \"" + path_ + "\": " + e.what() + "\n";
      }
      std::cerr << line << std::flush;
    }
    return scene_;
  }

 private:
  std::string Signature() const {
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0) return "missing";
    std::ostringstream s;
    s << st.st_dev << ':' << st.st_ino << ':' << st.st_size << ':' << st.st_mtim.tv_sec << '.'
      << st.st_mtim.tv_nsec << ':' << st.st_ctim.tv_sec << '.' << st.st_ctim.tv_nsec;
    return s.str();
  }

  std::string path_;
  std::mutex mutex_;
  std::string seen_;
  std::optional<Scene> scene_;
};

const int kSizes[][2] = {{1280, 720}, {848, 480}, {640, 480}, {640, 360}, {424, 240}};
const int kRates[] = {30, 15, 6};

class SimSensor : public SensorHandler {
 public:
  SimSensor(std::string name, std::map<Option, OptionRange> options,
            std::vector<std::pair<StreamType, std::vector<Format>>> streams)
      : name_(std::move(name)),
        // The simulator renders in millimetres only.
        options_(name_, std::move(options), {Option::DepthUnits}),
        streams_(std::move(streams)) {}
  std::string Name() const override { return name_; }
  std::vector<StreamProfile> Profiles() const override { return ProfilesFor(fovX_, fovY_); }
  std::vector<StreamProfile> ProfilesFor(float fovX, float fovY) const {
    std::vector<StreamProfile> out;
    int uid = uidBase_;
    for (const auto& size : kSizes) {
      const Intrinsics in = PinholeIntrinsics(size[0], size[1], fovX, fovY);
      for (int fps : kRates) {
        for (const auto& [type, formats] : streams_) {
          for (std::size_t f = 0; f < formats.size(); ++f) {
            const bool isDefault = size[0] == 1280 && fps == 30 && f == 0;
            out.emplace_back(type, type == StreamType::Infrared ? 1 : 0, formats[f], fps, in,
                             isDefault, uid++);
          }
        }
      }
    }
    return out;
  }
  void SetView(float fovX, float fovY, int uidBase) {
    fovX_ = fovX;
    fovY_ = fovY;
    uidBase_ = uidBase;
  }
  bool SupportsOption(Option option) const override { return options_.Supports(option); }
  OptionRange GetOptionRange(Option option) const override { return options_.Range(option); }
  float GetOption(Option option) const override { return options_.Get(option); }
  void SetOption(Option option, float value) override { options_.Set(option, value); }
  bool Offers(StreamType t) const {
    for (const auto& s : streams_) {
      if (s.first == t) return true;
    }
    return false;
  }

 private:
  std::string name_;
  OptionTable options_;
  std::vector<std::pair<StreamType, std::vector<Format>>> streams_;
  float fovX_ = 65;
  float fovY_ = 40;
  int uidBase_ = 1;
};

class SimStream : public StreamHandler {
 public:
  SimStream(std::shared_ptr<SceneSource> source, std::vector<StreamProfile> profiles)
      : source_(std::move(source)), profiles_(std::move(profiles)) {
    int fps = 0;
    for (const StreamProfile& p : profiles_) {
      if (p.fps() > 0) fps = fps == 0 ? p.fps() : std::min(fps, p.fps());
    }
    period_ = std::chrono::nanoseconds(1000000000LL / std::max(1, fps));
    start_ = std::chrono::steady_clock::now();
  }

  FrameSet WaitForFrames(unsigned int timeout_ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    if (Stalled()) {
      std::this_thread::sleep_until(deadline);
      throw Error("Frame didn't arrive within " + std::to_string(timeout_ms), "wait_for_frames",
                  "timeout_ms:" + std::to_string(timeout_ms));
    }
    const auto due = NextDue();
    if (due > deadline) {
      std::this_thread::sleep_until(deadline);
      throw Error("Frame didn't arrive within " + std::to_string(timeout_ms), "wait_for_frames",
                  "timeout_ms:" + std::to_string(timeout_ms));
    }
    std::this_thread::sleep_until(due);
    if (Stalled()) {  // unplugged while we waited
      std::this_thread::sleep_until(deadline);
      throw Error("Frame didn't arrive within " + std::to_string(timeout_ms), "wait_for_frames",
                  "timeout_ms:" + std::to_string(timeout_ms));
    }
    return Deliver(due);
  }

  bool PollForFrames(FrameSet* out) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto due = NextDue();
    if (Stalled() || due > std::chrono::steady_clock::now()) return false;
    *out = Deliver(due);
    return true;
  }

 private:
  bool Stalled() {
    scene_ = source_->Current();
    return scene_ && scene_->stall_after_frames && delivered_ >= *scene_->stall_after_frames;
  }

  // Frames come at the stream's rate; a consumer that falls behind gets the newest slot, as a
  // camera's frame queue drops what nobody took.
  std::chrono::steady_clock::time_point NextDue() const {
    const auto now = std::chrono::steady_clock::now();
    long long slot = (now - start_) / period_;
    if (delivered_ > 0 && slot <= lastSlot_) slot = lastSlot_ + 1;
    return start_ + slot * period_;
  }

  FrameSet Deliver(std::chrono::steady_clock::time_point due) {
    lastSlot_ = (due - start_) / period_;
    ++delivered_;
    const Scene scene = scene_ ? *scene_ : Scene();
    const double ms = std::chrono::duration<double, std::milli>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    return FrameSet(RenderFrames(scene, profiles_, delivered_, ms, &renderers_));
  }

  std::shared_ptr<SceneSource> source_;
  std::vector<StreamProfile> profiles_;
  std::chrono::nanoseconds period_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::optional<Scene> scene_;
  unsigned long long delivered_ = 0;
  long long lastSlot_ = -1;
  std::map<std::pair<int, int>, SceneRenderer> renderers_;
};

class SimDevice : public DeviceHandler {
 public:
  explicit SimDevice(std::shared_ptr<SceneSource> source, std::string path)
      : source_(std::move(source)), path_(std::move(path)) {
    depth_ = std::make_shared<SimSensor>(
        "Stereo Module",
        std::map<Option, OptionRange>{{Option::VisualPreset, {0, 5, 1, 0}},
                                      {Option::DepthUnits, {0.001f, 0.001f, 0, 0.001f}},
                                      {Option::EmitterEnabled, {0, 1, 1, 1}},
                                      {Option::LaserPower, {0, 360, 30, 150}}},
        std::vector<std::pair<StreamType, std::vector<Format>>>{
            {StreamType::Depth, {Format::Z16}}});
    color_ = std::make_shared<SimSensor>(
        "RGB Camera",
        std::map<Option, OptionRange>{{Option::Exposure, {1, 10000, 1, 156}},
                                      {Option::EnableAutoExposure, {0, 1, 1, 1}}},
        std::vector<std::pair<StreamType, std::vector<Format>>>{
            {StreamType::Color, {Format::RGB8, Format::BGR8}}});
    infrared_ = std::make_shared<SimSensor>("Infrared Camera", std::map<Option, OptionRange>{},
                                            std::vector<std::pair<StreamType, std::vector<Format>>>{
                                                {StreamType::Infrared, {Format::Y8}}});
  }

  // Follows the scene: its field of view and the sensors its "streams" list.
  void Update(const Scene& scene) {
    std::lock_guard<std::mutex> lock(mutex_);
    sensors_.clear();
    int uidBase = 1;
    for (StreamType t : scene.streams) {
      std::shared_ptr<SimSensor> s = t == StreamType::Depth   ? depth_
                                     : t == StreamType::Color ? color_
                                                              : infrared_;
      s->SetView(scene.fov_deg[0], scene.fov_deg[1], uidBase);
      uidBase += 100;
      sensors_.push_back(s);
    }
  }

  bool SupportsInfo(CameraInfo info) const override {
    return info == CameraInfo::Name || info == CameraInfo::SerialNumber ||
           info == CameraInfo::FirmwareVersion || info == CameraInfo::PhysicalPort ||
           info == CameraInfo::ProductLine;
  }
  std::string GetInfo(CameraInfo info) const override {
    switch (info) {
      case CameraInfo::Name:
        return "Simulated Depth Camera";
      case CameraInfo::SerialNumber:
        return kSimulatedSerial;
      case CameraInfo::FirmwareVersion:
        return "0.0.0";
      case CameraInfo::PhysicalPort:
        return path_;
      case CameraInfo::ProductLine:
        return "SIM";
      default:
        throw Error(std::string("device does not report ") + ToString(info), "get_info",
                    std::string("info:") + ToString(info));
    }
  }
  std::vector<std::shared_ptr<SensorHandler>> Sensors() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return {sensors_.begin(), sensors_.end()};
  }
  std::unique_ptr<StreamHandler> Start(const std::vector<StreamProfile>& profiles) override {
    std::vector<std::shared_ptr<SensorHandler>> sensors = Sensors();
    for (const StreamProfile& p : profiles) {
      bool offered = false;
      for (const auto& s : sensors) {
        const auto all = s->Profiles();
        offered = offered || std::find(all.begin(), all.end(), p) != all.end();
      }
      if (!offered) {
        throw InvalidValueError("the simulated camera does not offer " + p.stream_name() + " " +
                                    std::to_string(p.width()) + "x" + std::to_string(p.height()) +
                                    " " + ToString(p.format()) + " " + std::to_string(p.fps()) +
                                    "fps",
                                "start", "");
      }
    }
    return std::make_unique<SimStream>(source_, profiles);
  }

 private:
  std::shared_ptr<SceneSource> source_;
  std::string path_;
  std::mutex mutex_;
  std::shared_ptr<SimSensor> depth_, color_, infrared_;
  std::vector<std::shared_ptr<SimSensor>> sensors_;
};

class SimBackend : public Backend {
 public:
  explicit SimBackend(const std::string& path)
      : source_(std::make_shared<SceneSource>(path)),
        device_(std::make_shared<SimDevice>(source_, path)) {}
  std::vector<std::shared_ptr<DeviceHandler>> QueryDevices() override {
    const std::optional<Scene> scene = source_->Current();
    if (!scene) return {};
    device_->Update(*scene);
    return {device_};
  }

 private:
  std::shared_ptr<SceneSource> source_;
  std::shared_ptr<SimDevice> device_;
};

}  // namespace

std::shared_ptr<Backend> MakeSimulatedBackend(const std::string& scenePath) {
  return std::make_shared<SimBackend>(scenePath);
}

}  // namespace dimcam
