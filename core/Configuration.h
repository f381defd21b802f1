#pragma once

#include <mutex>
#include <utility>

// Names of the thirteen measurement parameters, in record order.
enum class ConfigurationEnum : int {
  VISUAL_PRESET = 0,
  DIGITAL_GAIN = 1,
  MIN_DEPTH = 2,
  MAX_DEPTH = 3,
  MIN_AREA = 4,
  MAX_AREA = 5,
  FOW_WIDTH = 6,
  FOW_HEIGHT = 7,
  REGION_WIDTH = 8,
  REGION_HEIGHT = 9,
  REGION_OFFSET_X = 10,
  REGION_OFFSET_Y = 11,
  DRAW_SIZE = 12,
};

struct ConfigurationStruct {
  int VISUAL_PRESET;
  int DIGITAL_GAIN;
  float MIN_DEPTH;
  float MAX_DEPTH;
  float MIN_AREA;
  float MAX_AREA;
  float FOW_WIDTH;
  float FOW_HEIGHT;
  float REGION_WIDTH;
  float REGION_HEIGHT;
  int REGION_OFFSET_X;
  int REGION_OFFSET_Y;
  bool DRAW_SIZE;
};

// The built-in defaults. MAX_AREA lies outside its own accepted range on purpose: it can stand as
// a default, but a client cannot send it back.
ConfigurationStruct DefaultConfiguration();

// Process-wide measurement parameters. Every operation takes the lock, so no thread ever sees part
// of a SetAll or SetDepth; setters check every value first and apply all of them or none.
class Configuration {
 public:
  static Configuration* getInstance();

  ConfigurationStruct GetAll();
  bool SetAll(ConfigurationStruct s);

  int GetVisualPreset();
  bool SetVisualPreset(int value);
  int GetDigitalGain();
  bool SetDigitalGain(int value);
  std::pair<float, float> GetDepth();
  bool SetDepth(std::pair<float, float> depth);
  std::pair<float, float> GetArea();
  bool SetArea(std::pair<float, float> area);
  std::pair<float, float> GetFow();
  bool SetFow(std::pair<float, float> fow);
  std::pair<float, float> GetRegion();
  bool SetRegion(std::pair<float, float> region);
  std::pair<int, int> GetRegionOffset();
  bool SetRegionOffset(std::pair<int, int> offset);
  bool GetDrawSize();
  bool SetDrawSize(bool value);

  Configuration(const Configuration&) = delete;
  Configuration& operator=(const Configuration&) = delete;

 private:
  Configuration();
  static bool CheckParameterInt(ConfigurationEnum parameter, int value);
  static bool CheckParameterFloat(ConfigurationEnum parameter, float value);

  std::mutex lock_;
  ConfigurationStruct currentConfig;
};
