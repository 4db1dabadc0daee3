#include "core/output_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "core/error.h"

namespace varnik {

OutputFile::~OutputFile() {
  // Reached on the error path: keep what was written, ignore further failures.
  if (file_ != nullptr) std::fclose(file_);
}

bool OutputFile::Open(const std::string& path) {
  if (file_ != nullptr) std::fclose(file_);
  path_ = path;
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void OutputFile::Printf(const char* format, ...) {
  if (file_ == nullptr) return;
  errno = 0;
  va_list args;
  va_start(args, format);
  const int written = std::vfprintf(file_, format, args);
  va_end(args);
  if (written < 0) Fail(errno);
}

void OutputFile::Flush() {
  if (file_ == nullptr) return;
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) Fail(errno);
}

void OutputFile::Close() {
  if (file_ == nullptr) return;
  errno = 0;
  int error = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) error = errno != 0 ? errno : EIO;
  errno = 0;
  if (std::fclose(file_) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  file_ = nullptr;
  if (error != 0) Fail(error);
}

void OutputFile::Fail(int error) {
  const std::string reason = error != 0 ? std::strerror(error) : "write error";
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  OnErrorExit(kUnspecifiedError, "Cannot write file " + path_ + " (" + reason + ")");
}

}  // namespace varnik
