#pragma once

// The simulated depth camera: a scene of boxes on a platform, rendered by casting one ray per pixel
// through the stream's intrinsics, so that deprojecting a pixel at its depth gives back the point
// the ray hit.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/Backend.h"
#include "camera/Frame.h"
#include "camera/Types.h"

namespace dimcam {

inline constexpr const char* kSceneEnvironmentVariable = "DIMCORE_CAMERA_SCENE";
inline constexpr const char* kSimulatedSerial = "SIM-0001";

// A box standing on (or lifted above) the platform. Millimetres and degrees; x toward higher image
// columns, y toward higher rows, both measured on the platform from the point under the optical
// axis.
struct SceneBox {
  float size_mm[3] = {0, 0, 0};  // length (along x before turning), width, height
  float center_mm[2] = {0, 0};   // centre of the footprint
  float yaw_deg = 0;             // turn about the vertical, from +x toward +y
  float elevation_mm = 0;        // bottom above the platform
};

struct Scene {
  float platform_distance_mm = 1000;
  float fov_deg[2] = {65, 40};
  std::vector<SceneBox> boxes;
  float depth_noise_mm = 0;  // standard deviation at 1 m, growing with distance squared
  float hole_fraction = 0;   // share of pixels without depth
  std::uint64_t seed = 1;
  std::vector<StreamType> streams = {StreamType::Depth, StreamType::Color};
  std::optional<std::uint64_t> stall_after_frames;
};

// Reads a scene document (JSON). Throws std::invalid_argument naming what is wrong.
Scene ParseScene(const std::string& json);
// Reads a scene file; throws std::invalid_argument when it is missing or invalid.
Scene LoadSceneFile(const std::string& path);

// Renders scenes at one image size. Construction prepares per-image tables, so keep one per size.
class SceneRenderer {
 public:
  explicit SceneRenderer(const Intrinsics& intrinsics);
  ~SceneRenderer();
  SceneRenderer(SceneRenderer&&) noexcept;
  SceneRenderer& operator=(SceneRenderer&&) noexcept;

  const Intrinsics& intrinsics() const;
  // Fills depth (width*height values, 1 mm units, 0 = no depth) and/or colour (3 bytes per pixel,
  // RGB or BGR order); either may be null. Noise and holes depend on scene.seed and frameNumber
  // only. The scene's field of view is not used: the intrinsics given at construction are.
  void Render(const Scene& scene, unsigned long long frameNumber, std::uint16_t* depth,
              std::uint8_t* color, bool bgr = false) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Depth (Z16, 1 mm) and colour (RGB8, registered to depth) frames of a scene at one size, with the
// intrinsics of the scene's field of view. Streams missing from scene.streams are left out.
FrameSet RenderFrameSet(const Scene& scene, int width, int height,
                        unsigned long long frameNumber = 1);

// The simulated camera as a backend: one device "SIM-0001" while the scene file is valid, none when
// it is missing or invalid (with one line on standard error). The file is read again whenever it
// changes; an invalid change keeps the last good scene, with one line on standard error.
std::shared_ptr<Backend> MakeSimulatedBackend(const std::string& scenePath);

}  // namespace dimcam
