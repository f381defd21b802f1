#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace servermod {

// Requests larger than this are refused unread: a stray or hostile file must not exhaust the
// board's memory. Real requests are a few hundred bytes.
inline constexpr std::size_t kMaxRequestBytes = 1024 * 1024;

// One exchange document as written to a file: the compact serialisation (members in ascending byte
// order, floats widened to double and written in their shortest exact form, non-finite as null)
// followed by a line feed.
std::string DocumentLine(const nlohmann::json& doc);

// Parses request bytes: exactly one JSON value, whitespace around it allowed, no comments. Throws
// the library's parse_error, or std::length_error when the bytes exceed kMaxRequestBytes.
nlohmann::json ParseRequest(std::string_view bytes);

// An exchange file opened for reading, closed when the object goes. Only regular files count:
// a folder, a FIFO or a device at the path is treated as absent (opening a FIFO would block).
class OpenedFile {
 public:
  explicit OpenedFile(const std::string& path);
  ~OpenedFile();
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // Reads the whole file, at most kMaxRequestBytes. Throws std::length_error when it is larger and
  // std::system_error when reading fails.
  std::string ReadRequestBytes();

 private:
  int fd_ = -1;
};

// True when the file at path can be opened for reading now.
bool CanOpenForReading(const std::string& path);

// Writes the document line to temp (truncating), then renames temp onto path while the stream is
// still open. Returns 0 on success, else the errno of the failed rename. Opening and writing are
// not checked separately: a temp that cannot be written makes the rename fail.
int PublishThroughRename(const std::string& temp, const std::string& path, const std::string& line);

}  // namespace servermod
