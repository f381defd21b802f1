#include "core/Configuration.h"

namespace {

struct IntRange {
  int low;
  int high;
};
struct FloatRange {
  float low;
  float high;
};

}  // namespace

ConfigurationStruct DefaultConfiguration() {
  return ConfigurationStruct{3,     2,      0.29f,  16.0f, 100.0f, 200000000.0f, 65.0f,
                             40.0f, 680.0f, 550.0f, 0,     40,     true};
}

Configuration* Configuration::getInstance() {
  static Configuration instance;
  return &instance;
}

Configuration::Configuration() : currentConfig(DefaultConfiguration()) {}

bool Configuration::CheckParameterInt(ConfigurationEnum parameter, int value) {
  IntRange range{};
  switch (parameter) {
    case ConfigurationEnum::VISUAL_PRESET:
      range = {0, 6};
      break;
    case ConfigurationEnum::DIGITAL_GAIN:
      range = {0, 2};
      break;
    case ConfigurationEnum::REGION_OFFSET_X:
    case ConfigurationEnum::REGION_OFFSET_Y:
      range = {-10000, 10000};
      break;
    default:
      return false;
  }
  return value >= range.low && value <= range.high;
}

bool Configuration::CheckParameterFloat(ConfigurationEnum parameter, float value) {
  FloatRange range{};
  switch (parameter) {
    case ConfigurationEnum::MIN_DEPTH:
    case ConfigurationEnum::MAX_DEPTH:
      range = {0.0f, 200000.0f};
      break;
    case ConfigurationEnum::MIN_AREA:
    case ConfigurationEnum::MAX_AREA:
      range = {10.0f, 200000.0f};
      break;
    case ConfigurationEnum::FOW_WIDTH:
    case ConfigurationEnum::FOW_HEIGHT:
      range = {0.0f, 2000.0f};
      break;
    case ConfigurationEnum::REGION_WIDTH:
      range = {10.0f, 1920.0f};
      break;
    case ConfigurationEnum::REGION_HEIGHT:
      range = {10.0f, 1080.0f};
      break;
    default:
      return false;
  }
  // Written so that NaN fails: every comparison with NaN is false.
  return value >= range.low && value <= range.high;
}

ConfigurationStruct Configuration::GetAll() {
  std::lock_guard<std::mutex> guard(lock_);
  return currentConfig;
}

bool Configuration::SetAll(ConfigurationStruct s) {
  using E = ConfigurationEnum;
  const bool ok = CheckParameterInt(E::VISUAL_PRESET, s.VISUAL_PRESET) &&
                  CheckParameterInt(E::DIGITAL_GAIN, s.DIGITAL_GAIN) &&
                  CheckParameterFloat(E::MAX_DEPTH, s.MAX_DEPTH) &&
                  CheckParameterFloat(E::MIN_DEPTH, s.MIN_DEPTH) &&
                  CheckParameterFloat(E::MIN_AREA, s.MIN_AREA) &&
                  CheckParameterFloat(E::MAX_AREA, s.MAX_AREA) &&
                  CheckParameterFloat(E::FOW_WIDTH, s.FOW_WIDTH) &&
                  CheckParameterFloat(E::FOW_HEIGHT, s.FOW_HEIGHT) &&
                  CheckParameterFloat(E::REGION_WIDTH, s.REGION_WIDTH) &&
                  CheckParameterFloat(E::REGION_HEIGHT, s.REGION_HEIGHT) &&
                  CheckParameterInt(E::REGION_OFFSET_X, s.REGION_OFFSET_X) &&
                  CheckParameterInt(E::REGION_OFFSET_Y, s.REGION_OFFSET_Y);
  if (!ok) return false;
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig = s;
  return true;
}

int Configuration::GetVisualPreset() {
  std::lock_guard<std::mutex> guard(lock_);
  return currentConfig.VISUAL_PRESET;
}

bool Configuration::SetVisualPreset(int value) {
  if (!CheckParameterInt(ConfigurationEnum::VISUAL_PRESET, value)) return false;
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig.VISUAL_PRESET = value;
  return true;
}

int Configuration::GetDigitalGain() {
  std::lock_guard<std::mutex> guard(lock_);
  return currentConfig.DIGITAL_GAIN;
}

bool Configuration::SetDigitalGain(int value) {
  if (!CheckParameterInt(ConfigurationEnum::DIGITAL_GAIN, value)) return false;
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig.DIGITAL_GAIN = value;
  return true;
}

std::pair<float, float> Configuration::GetDepth() {
  std::lock_guard<std::mutex> guard(lock_);
  return {currentConfig.MIN_DEPTH, currentConfig.MAX_DEPTH};
}

bool Configuration::SetDepth(std::pair<float, float> depth) {
  if (!CheckParameterFloat(ConfigurationEnum::MIN_DEPTH, depth.first) ||
      !CheckParameterFloat(ConfigurationEnum::MAX_DEPTH, depth.second)) {
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig.MIN_DEPTH = depth.first;
  currentConfig.MAX_DEPTH = depth.second;
  return true;
}

std::pair<float, float> Configuration::GetArea() {
  std::lock_guard<std::mutex> guard(lock_);
  return {currentConfig.MIN_AREA, currentConfig.MAX_AREA};
}

bool Configuration::SetArea(std::pair<float, float> area) {
  if (!CheckParameterFloat(ConfigurationEnum::MIN_AREA, area.first) ||
      !CheckParameterFloat(ConfigurationEnum::MAX_AREA, area.second)) {
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig.MIN_AREA = area.first;
  currentConfig.MAX_AREA = area.second;
  return true;
}

std::pair<float, float> Configuration::GetFow() {
  std::lock_guard<std::mutex> guard(lock_);
  return {currentConfig.FOW_WIDTH, currentConfig.FOW_HEIGHT};
}

bool Configuration::SetFow(std::pair<float, float> fow) {
  if (!CheckParameterFloat(ConfigurationEnum::FOW_WIDTH, fow.first) ||
      !CheckParameterFloat(ConfigurationEnum::FOW_HEIGHT, fow.second)) {
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig.FOW_WIDTH = fow.first;
  currentConfig.FOW_HEIGHT = fow.second;
  return true;
}

std::pair<float, float> Configuration::GetRegion() {
  std::lock_guard<std::mutex> guard(lock_);
  return {currentConfig.REGION_WIDTH, currentConfig.REGION_HEIGHT};
}

bool Configuration::SetRegion(std::pair<float, float> region) {
  if (!CheckParameterFloat(ConfigurationEnum::REGION_WIDTH, region.first) ||
      !CheckParameterFloat(ConfigurationEnum::REGION_HEIGHT, region.second)) {
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig.REGION_WIDTH = region.first;
  currentConfig.REGION_HEIGHT = region.second;
  return true;
}

std::pair<int, int> Configuration::GetRegionOffset() {
  std::lock_guard<std::mutex> guard(lock_);
  return {currentConfig.REGION_OFFSET_X, currentConfig.REGION_OFFSET_Y};
}

bool Configuration::SetRegionOffset(std::pair<int, int> offset) {
  if (!CheckParameterInt(ConfigurationEnum::REGION_OFFSET_X, offset.first) ||
      !CheckParameterInt(ConfigurationEnum::REGION_OFFSET_Y, offset.second)) {
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig.REGION_OFFSET_X = offset.first;
  currentConfig.REGION_OFFSET_Y = offset.second;
  return true;
}

bool Configuration::GetDrawSize() {
  std::lock_guard<std::mutex> guard(lock_);
  return currentConfig.DRAW_SIZE;
}

bool Configuration::SetDrawSize(bool value) {
  std::lock_guard<std::mutex> guard(lock_);
  currentConfig.DRAW_SIZE = value;
  return true;
}
