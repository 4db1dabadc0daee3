// A text file written with printf formats whose write failures are never lost:
// a failed write (a full disk, say) ends the run with a clear message, at the
// latest when the file is closed.
#pragma once

#include <cstdio>
#include <string>

namespace varnik {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates (truncates) the file; false when it cannot be created.
  bool Open(const std::string& path);
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }

  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Pushes buffered text to the file; throws on a failed write.
  void Flush();
  // Flushes and closes; throws VarnikError (code 1) when anything written
  // to the file was lost.
  void Close();

 private:
  [[noreturn]] void Fail(int error);
  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace varnik
