#include "server/ExchangeFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

namespace servermod {
namespace {

std::length_error TooLarge(unsigned long long size) {
  return std::length_error("request file of " + std::to_string(size) +
                           " bytes exceeds the limit of " + std::to_string(kMaxRequestBytes) +
                           " bytes; it was not read");
}

std::length_error GrewTooLarge() {
  return std::length_error("request file grew beyond the limit of " +
                           std::to_string(kMaxRequestBytes) + " bytes; it was not read");
}

}  // namespace

std::string DocumentLine(const nlohmann::json& doc) { return doc.dump() + "\n"; }

nlohmann::json ParseRequest(std::string_view bytes) {
  if (bytes.size() > kMaxRequestBytes) throw TooLarge(bytes.size());
  return nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/true,
                               /*ignore_comments=*/false);
}

OpenedFile::OpenedFile(const std::string& path) {
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  struct stat info {};
  if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd_);
    fd_ = -1;
  }
}

OpenedFile::~OpenedFile() {
  if (fd_ >= 0) close(fd_);
}

std::string OpenedFile::ReadRequestBytes() {
  struct stat info {};
  if (fstat(fd_, &info) == 0 && static_cast<unsigned long long>(info.st_size) > kMaxRequestBytes) {
    throw TooLarge(static_cast<unsigned long long>(info.st_size));
  }
  if (lseek(fd_, 0, SEEK_SET) < 0) throw std::system_error(errno, std::generic_category(), "seek");
  // The file may still grow while it is read: never take more than the limit plus one byte.
  std::string bytes;
  char buffer[16384];
  while (true) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "reading the request file");
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > kMaxRequestBytes) throw GrewTooLarge();
  }
  return bytes;
}

bool CanOpenForReading(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

Publication PublishThroughRename(const std::string& temp, const std::string& path,
                                 const std::string& line) {
  Publication result;
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    size_t written = 0;
    while (written < line.size()) {
      const ssize_t n = write(fd, line.data() + written, line.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        result.writeError = n < 0 ? errno : EIO;
        break;
      }
      written += static_cast<size_t>(n);
    }
    if (result.writeError != 0) {
      // Only a regular file is ours to remove (the path may name a device or a link to one).
      struct stat info {};
      const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
      close(fd);
      if (regular) unlink(temp.c_str());
      return result;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) result.renameError = errno;
  if (fd >= 0) close(fd);
  return result;
}

}  // namespace servermod
