#pragma once

// Common base of the process-wide records. Each record is reached through its own static
// getInstance(), which holds a function-local static; GetInstance() is kept for completeness.
template <typename T>
class Singleton {
 public:
  static T& GetInstance() { return *T::getInstance(); }

 protected:
  Singleton() = default;
  Singleton(const Singleton&) = default;
};
