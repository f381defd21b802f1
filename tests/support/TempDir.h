#pragma once

#include <string>

namespace testsupport {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// True once a PNG file has been written to its end: the station writes its pictures in place, so a
// picture that merely exists may still be half written.
bool PngComplete(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// Writes through a temporary file in the same folder and a rename, as a client must.
void WriteFileAtomically(const std::string& path, const std::string& content);

}  // namespace testsupport
