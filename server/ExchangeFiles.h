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
// the library's parse_error (or its out_of_range for a number beyond a double), or
// std::length_error when the bytes exceed kMaxRequestBytes.
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

// How a publication through a temporary file and a rename went.
struct Publication {
  // The temporary file was created but its content could not be written whole (a full disk): it
  // was removed and nothing was renamed, so a reader never finds a truncated document.
  int writeError = 0;
  // The rename failed (a missing or read-only folder, another file system): errno of the rename.
  int renameError = 0;
};

// Writes the document line to temp (truncating), then renames temp onto path while the file is
// still open. A temp that cannot be opened at all is not checked separately: the rename then fails.
Publication PublishThroughRename(const std::string& temp, const std::string& path,
                                 const std::string& line);

}  // namespace servermod
