#include "vision/PictureFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <vector>

namespace visionmod {
namespace {

bool WriteAll(int fd, const std::vector<uchar>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool WritePicture(const std::string& path, const cv::Mat& picture) {
  const size_t slash = path.rfind('/');
  const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  const std::string extension =
      dot == std::string::npos || dot < nameAt ? std::string() : path.substr(dot);
  std::vector<uchar> bytes;
  if (!cv::imencode(extension, picture, bytes)) return false;

  const std::string temporary = path.substr(0, nameAt) + "." + path.substr(nameAt) + ".part";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, bytes);
  const bool closed = close(fd) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace visionmod
