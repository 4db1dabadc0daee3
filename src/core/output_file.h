// A text file written with printf formats whose write failures are never lost:
// a failed write (a full disk, say) ends the run with a clear message, at the
// latest when the file is closed.
//
// A file is written whole or not at all: the text goes to a temporary file in
// the target's folder, which Close renames into place. A file that is not
// closed (the run ended early) is removed, unless it keeps what was written
// (the report, see keep_on_error). A path that names something other than a
// regular file (/dev/null, a FIFO, a terminal) is written directly.
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

  // Starts the file; false (errno set) when it cannot be created.
  bool Open(const std::string& path);
  // Writes to standard output as the process inherited it (never reopened,
  // so ">>" appends and pipes work).
  void OpenStandardOutput();
  // Keeps the text in memory until TakeText (lines written by work running
  // beside other work, put into the report in order afterwards).
  void OpenMemory();
  // The text kept by OpenMemory; the file is closed.
  std::string TakeText();
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }
  // Where the text goes now: the temporary file until Close.
  const std::string& written_path() const { return temporary_.empty() ? target_ : temporary_; }
  // Written straight to its target: standard output, or a path that is not a
  // regular file. Files that would stand beside such a target are not made.
  bool direct() const { return file_ != nullptr && temporary_.empty(); }
  // When the run ends before Close, what was written is renamed into place
  // instead of being thrown away.
  void set_keep_on_error(bool keep) { keep_on_error_ = keep; }

  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Write(const std::string& text);
  // Pushes buffered text to the file; throws on a failed write.
  void Flush();
  // Flushes, closes and puts the file in place; throws VarnikError (code 1)
  // when anything written to the file was lost.
  void Close();

 private:
  [[noreturn]] void Fail(int error);
  void Discard();
  std::FILE* file_ = nullptr;
  bool standard_output_ = false;
  bool in_memory_ = false;
  char* memory_ = nullptr;  // OpenMemory's text
  size_t memory_size_ = 0;
  bool keep_on_error_ = false;
  std::string path_;       // as given
  std::string target_;     // where the file is put (a link's target)
  std::string temporary_;  // empty when written directly
};

// SIGTERM, SIGINT, SIGHUP and SIGPIPE remove every temporary output file and
// end the process with status 128 + the signal's number (signals that were
// ignored when the process started stay ignored, as nohup wants). Called once
// by main.
void RemoveTemporariesOnSignals();

}  // namespace varnik
