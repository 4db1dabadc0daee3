// The one failure type of the program. Every failure that ends a run is thrown
// as a VarnikError; main catches it, prints "<code text>: <message>" on standard
// output and returns the code as the exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace varnik {

enum ErrorCode : int {
  kNoError = 0,
  kUnspecifiedError = 1,
  kCannotOpenFile = 2,
  kCannotAllocateMemory = 3,
  kReadFailed = 4,
};

// "No error", "Unspecified error", ... for the five codes; "Unknown error" else.
const char* ErrorText(int code);

class VarnikError : public std::runtime_error {
 public:
  VarnikError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  // How main shows the error: "<code text>: <message>", the message as it
  // stands, or nothing (the end was asked for, as when a pipe's reader left).
  enum Form { kLine, kRaw, kQuiet };
  VarnikError(int code, const std::string& message, bool raw)
      : std::runtime_error(message), code_(code), form_(raw ? kRaw : kLine) {}
  VarnikError(int code, const std::string& message, Form form)
      : std::runtime_error(message), code_(code), form_(form) {}
  bool raw() const { return form_ == kRaw; }
  bool quiet() const { return form_ == kQuiet; }
  int code() const { return code_; }
  // Commands whose standard output is data (score, scan) print their errors
  // on standard error.
  bool on_standard_error() const { return on_standard_error_; }
  VarnikError OnStandardError() const {
    VarnikError e = *this;
    e.on_standard_error_ = true;
    return e;
  }
  // The line main prints: "<code text>: <message>" (no line end added).
  std::string Line() const;

 private:
  int code_;
  Form form_ = kLine;
  bool on_standard_error_ = false;
};

// Ends the run with the given code and message (throws VarnikError).
[[noreturn]] void OnErrorExit(int code, const std::string& message);

// One line on standard error, "varnik: <text>": where an error happened and
// why, beside the error's own message on standard output.
void Diagnose(const std::string& text);
// "varnik: warning: <text>" on standard error; the run goes on.
void Warn(const std::string& text);
// The system's reason for the last failed call ("No such file or directory").
std::string SystemReason();

}  // namespace varnik
