#include "tests/support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace testsupport {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/dimcore-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Make read-only folders made by a test removable again.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) chmod(it->path().c_str(), 0700);
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool PngComplete(const std::string& path) {
  // The last chunk of every PNG: IEND, empty, with its fixed checksum.
  static const std::string kEnd("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return content.size() > kEnd.size() &&
         content.compare(content.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
  const std::string temp = path + ".writing";
  WriteFile(temp, content);
  if (std::rename(temp.c_str(), path.c_str()) != 0) throw std::runtime_error("rename " + path);
}

}  // namespace testsupport
