#pragma once

// Basic vocabulary of the camera layer: stream and pixel kinds, options, device information,
// lens models, the camera error, and the pixel <-> point geometry.

#include <stdexcept>
#include <string>

namespace dimcam {

enum class StreamType : int { Any = 0, Depth, Color, Infrared, Count };

// Pixel formats. Z16: 16-bit depth units; RGB8/BGR8: 3 bytes per pixel; Y8: 8-bit gray.
enum class Format : int { Any = 0, Z16, RGB8, BGR8, RGBA8, BGRA8, Y8, Y16, YUYV, Count };

enum class Option : int {
  VisualPreset = 0,
  MinDistance,
  MaxDistance,
  DepthUnits,
  EmitterEnabled,
  LaserPower,
  Exposure,
  Gain,
  EnableAutoExposure,
  ColorScheme,
  HistogramEqualizationEnabled,
  FramesQueueSize,
  Count
};

enum class CameraInfo : int {
  Name = 0,
  SerialNumber,
  FirmwareVersion,
  PhysicalPort,
  ProductId,
  ProductLine,
  UsbTypeDescriptor,
  Count
};

// Lens models of the camera family. Depth streams report None (zero coefficients).
enum class DistortionModel : int {
  None = 0,
  ModifiedBrownConrady,
  InverseBrownConrady,
  FThetaFisheye,
  BrownConrady,
  KannalaBrandt4,
  Count
};

const char* ToString(StreamType value);
const char* ToString(Format value);
const char* ToString(Option value);
const char* ToString(CameraInfo value);
const char* ToString(DistortionModel value);

// Bytes per pixel of a format; 0 for Any and for formats without a fixed size.
int BytesPerPixel(Format format);

// Pinhole camera with an optional lens model, for one stream at one image size.
// Pixel (u, v) with integer coordinates is column u, row v; (ppx, ppy) is where the optical axis
// meets the image.
struct Intrinsics {
  int width = 0;
  int height = 0;
  float ppx = 0;
  float ppy = 0;
  float fx = 0;
  float fy = 0;
  DistortionModel model = DistortionModel::None;
  float coeffs[5] = {0, 0, 0, 0, 0};
};

bool operator==(const Intrinsics& a, const Intrinsics& b);
inline bool operator!=(const Intrinsics& a, const Intrinsics& b) { return !(a == b); }

// Intrinsics of an ideal pinhole camera from its full field-of-view angles (degrees):
// fx = (W/2) / tan(fovX/2), fy likewise, principal point at (W/2, H/2).
Intrinsics PinholeIntrinsics(int width, int height, float fovXDeg, float fovYDeg);

// The point (metres, camera coordinates: x toward higher columns, y toward higher rows, z along the
// optical axis) seen at `pixel` at distance `depth` along the axis. point[2] == depth.
void DeprojectPixelToPoint(float point[3], const Intrinsics& intrin, const float pixel[2],
                           float depth);
// The pixel at which `point` is seen (the inverse of DeprojectPixelToPoint).
void ProjectPointToPixel(float pixel[2], const Intrinsics& intrin, const float point[3]);

// Every failure of the camera layer: the operation that failed, its arguments and a message.
class Error : public std::runtime_error {
 public:
  Error(const std::string& message, std::string function, std::string args);
  const std::string& get_failed_function() const noexcept { return function_; }
  const std::string& get_failed_args() const noexcept { return args_; }

 private:
  std::string function_;
  std::string args_;
};

// A value outside what the device or filter accepts (option value, pixel coordinate, ...).
class InvalidValueError : public Error {
 public:
  using Error::Error;
};

// A call made in the wrong state (waiting for frames before start, ...).
class WrongCallSequenceError : public Error {
 public:
  using Error::Error;
};

// The device is gone or stopped delivering frames.
class CameraDisconnectedError : public Error {
 public:
  using Error::Error;
};

}  // namespace dimcam
