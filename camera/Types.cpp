#include "camera/Types.h"

#include <cmath>
#include <limits>
#include <utility>

namespace dimcam {

namespace {

template <class E, std::size_t N>
const char* Name(E value, const char* const (&names)[N]) {
  const auto i = static_cast<std::size_t>(value);
  return i < N ? names[i] : "Unknown";
}

}  // namespace

const char* ToString(StreamType value) {
  static const char* const names[] = {"Any", "Depth", "Color", "Infrared"};
  return Name(value, names);
}

const char* ToString(Format value) {
  static const char* const names[] = {"Any",   "Z16", "RGB8", "BGR8", "RGBA8",
                                      "BGRA8", "Y8",  "Y16",  "YUYV"};
  return Name(value, names);
}

const char* ToString(Option value) {
  static const char* const names[] = {"Visual Preset",
                                      "Min Distance",
                                      "Max Distance",
                                      "Depth Units",
                                      "Emitter Enabled",
                                      "Laser Power",
                                      "Exposure",
                                      "Gain",
                                      "Enable Auto Exposure",
                                      "Color Scheme",
                                      "Histogram Equalization Enabled",
                                      "Frames Queue Size"};
  return Name(value, names);
}

const char* ToString(CameraInfo value) {
  static const char* const names[] = {
      "Name",       "Serial Number", "Firmware Version",   "Physical Port",
      "Product Id", "Product Line",  "Usb Type Descriptor"};
  return Name(value, names);
}

const char* ToString(DistortionModel value) {
  static const char* const names[] = {
      "None",          "Modified Brown Conrady", "Inverse Brown Conrady", "F-Theta Fisheye",
      "Brown Conrady", "Kannala Brandt4"};
  return Name(value, names);
}

int BytesPerPixel(Format format) {
  switch (format) {
    case Format::Z16:
    case Format::Y16:
    case Format::YUYV:
      return 2;
    case Format::RGB8:
    case Format::BGR8:
      return 3;
    case Format::RGBA8:
    case Format::BGRA8:
      return 4;
    case Format::Y8:
      return 1;
    case Format::Any:
    case Format::Count:
      break;
  }
  return 0;
}

bool operator==(const Intrinsics& a, const Intrinsics& b) {
  if (a.width != b.width || a.height != b.height || a.ppx != b.ppx || a.ppy != b.ppy ||
      a.fx != b.fx || a.fy != b.fy || a.model != b.model) {
    return false;
  }
  for (int i = 0; i < 5; ++i) {
    if (a.coeffs[i] != b.coeffs[i]) return false;
  }
  return true;
}

Intrinsics PinholeIntrinsics(int width, int height, float fovXDeg, float fovYDeg) {
  constexpr double kPi = 3.14159265358979323846;
  Intrinsics in;
  in.width = width;
  in.height = height;
  in.ppx = static_cast<float>(width / 2.0);
  in.ppy = static_cast<float>(height / 2.0);
  in.fx = static_cast<float>((width / 2.0) / std::tan(fovXDeg * kPi / 360.0));
  in.fy = static_cast<float>((height / 2.0) / std::tan(fovYDeg * kPi / 360.0));
  return in;
}

namespace {

// Lens models on normalised image coordinates (x = X/Z, y = Y/Z). Distort maps the ideal pinhole
// coordinates to where the lens puts them; Undistort is its inverse.
using Vec2 = std::pair<double, double>;

Vec2 BrownConradyForward(const double* c, double x, double y) {
  const double r2 = x * x + y * y;
  const double f = 1 + r2 * (c[0] + r2 * (c[1] + r2 * c[4]));
  return {x * f + 2 * c[2] * x * y + c[3] * (r2 + 2 * x * x),
          y * f + 2 * c[3] * x * y + c[2] * (r2 + 2 * y * y)};
}

// The modified model applies the tangential terms to the radially distorted coordinates.
Vec2 ModifiedBrownConradyForward(const double* c, double x, double y) {
  const double r2 = x * x + y * y;
  const double f = 1 + r2 * (c[0] + r2 * (c[1] + r2 * c[4]));
  const double xf = x * f;
  const double yf = y * f;
  return {xf + 2 * c[2] * xf * yf + c[3] * (r2 + 2 * xf * xf),
          yf + 2 * c[3] * xf * yf + c[2] * (r2 + 2 * yf * yf)};
}

// The inverse model's coefficients describe the undistortion directly.
Vec2 InverseBrownConradyUndistort(const double* c, double x, double y) {
  return BrownConradyForward(c, x, y);
}

// Solves forward(x, y) = (u, v) by Newton's method with a numerical Jacobian, starting at (u, v).
template <class F>
Vec2 InvertNewton(F forward, double u, double v) {
  double x = u;
  double y = v;
  for (int i = 0; i < 20; ++i) {
    const Vec2 f = forward(x, y);
    const double ex = f.first - u;
    const double ey = f.second - v;
    if (std::abs(ex) < 1e-12 && std::abs(ey) < 1e-12) break;
    const double h = 1e-7;
    const Vec2 fx = forward(x + h, y);
    const Vec2 fy = forward(x, y + h);
    const double a = (fx.first - f.first) / h;
    const double b = (fy.first - f.first) / h;
    const double c = (fx.second - f.second) / h;
    const double d = (fy.second - f.second) / h;
    const double det = a * d - b * c;
    if (std::abs(det) < 1e-15) break;
    x -= (d * ex - b * ey) / det;
    y -= (a * ey - c * ex) / det;
  }
  return {x, y};
}

double KannalaBrandtTheta(const double* c, double theta) {
  const double t2 = theta * theta;
  return theta * (1 + t2 * (c[0] + t2 * (c[1] + t2 * (c[2] + t2 * c[3]))));
}

Vec2 Distort(const Intrinsics& in, double x, double y) {
  double c[5];
  for (int i = 0; i < 5; ++i) c[i] = in.coeffs[i];
  switch (in.model) {
    case DistortionModel::BrownConrady:
      return BrownConradyForward(c, x, y);
    case DistortionModel::ModifiedBrownConrady:
      return ModifiedBrownConradyForward(c, x, y);
    case DistortionModel::InverseBrownConrady:
      return InvertNewton(
          [&c](double a, double b) { return InverseBrownConradyUndistort(c, a, b); }, x, y);
    case DistortionModel::KannalaBrandt4: {
      const double r = std::sqrt(x * x + y * y);
      if (r < 1e-12) return {x, y};
      const double scale = KannalaBrandtTheta(c, std::atan(r)) / r;
      return {x * scale, y * scale};
    }
    case DistortionModel::FThetaFisheye: {
      const double r = std::sqrt(x * x + y * y);
      const double w = c[0];
      if (r < 1e-12 || w == 0) return {x, y};
      const double rd = std::atan(2 * r * std::tan(w / 2)) / w;
      return {x * rd / r, y * rd / r};
    }
    case DistortionModel::None:
    case DistortionModel::Count:
      break;
  }
  return {x, y};
}

bool HasCoefficients(const Intrinsics& in) {
  for (float c : in.coeffs) {
    if (c != 0) return true;
  }
  return false;
}

Vec2 Undistort(const Intrinsics& in, double x, double y) {
  if (in.model == DistortionModel::None || !HasCoefficients(in)) return {x, y};
  double c[5];
  for (int i = 0; i < 5; ++i) c[i] = in.coeffs[i];
  switch (in.model) {
    case DistortionModel::InverseBrownConrady:
      return InverseBrownConradyUndistort(c, x, y);
    case DistortionModel::KannalaBrandt4: {
      const double rd = std::sqrt(x * x + y * y);
      if (rd < 1e-12) return {x, y};
      // Newton on theta_d(theta) = rd; theta_d is increasing over the lens's field.
      double theta = rd;
      for (int i = 0; i < 20; ++i) {
        const double t2 = theta * theta;
        const double f = KannalaBrandtTheta(c, theta) - rd;
        const double df = 1 + t2 * (3 * c[0] + t2 * (5 * c[1] + t2 * (7 * c[2] + t2 * 9 * c[3])));
        if (df == 0) break;
        const double step = f / df;
        theta -= step;
        if (std::abs(step) < 1e-14) break;
      }
      const double r = std::tan(theta);
      return {x * r / rd, y * r / rd};
    }
    case DistortionModel::FThetaFisheye: {
      const double rd = std::sqrt(x * x + y * y);
      const double w = c[0];
      if (rd < 1e-12 || w == 0) return {x, y};
      const double r = std::tan(rd * w) / (2 * std::tan(w / 2));
      return {x * r / rd, y * r / rd};
    }
    case DistortionModel::BrownConrady:
    case DistortionModel::ModifiedBrownConrady:
      return InvertNewton([&in](double a, double b) { return Distort(in, a, b); }, x, y);
    case DistortionModel::None:
    case DistortionModel::Count:
      break;
  }
  return {x, y};
}

}  // namespace

void DeprojectPixelToPoint(float point[3], const Intrinsics& intrin, const float pixel[2],
                           float depth) {
  const double xd = (static_cast<double>(pixel[0]) - intrin.ppx) / intrin.fx;
  const double yd = (static_cast<double>(pixel[1]) - intrin.ppy) / intrin.fy;
  const Vec2 u = Undistort(intrin, xd, yd);
  point[0] = static_cast<float>(depth * u.first);
  point[1] = static_cast<float>(depth * u.second);
  point[2] = depth;
}

void ProjectPointToPixel(float pixel[2], const Intrinsics& intrin, const float point[3]) {
  if (point[2] == 0) {
    pixel[0] = pixel[1] = std::numeric_limits<float>::quiet_NaN();
    return;
  }
  const double x = static_cast<double>(point[0]) / point[2];
  const double y = static_cast<double>(point[1]) / point[2];
  const Vec2 d = HasCoefficients(intrin) ? Distort(intrin, x, y) : Vec2{x, y};
  pixel[0] = static_cast<float>(d.first * intrin.fx + intrin.ppx);
  pixel[1] = static_cast<float>(d.second * intrin.fy + intrin.ppy);
}

Error::Error(const std::string& message, std::string function, std::string args)
    : std::runtime_error(message), function_(std::move(function)), args_(std::move(args)) {}

}  // namespace dimcam
