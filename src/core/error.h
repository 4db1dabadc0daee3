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
  // raw: the message is printed as it stands, without the code's text.
  VarnikError(int code, const std::string& message, bool raw)
      : std::runtime_error(message), code_(code), raw_(raw) {}
  bool raw() const { return raw_; }
  int code() const { return code_; }
  // The line main prints: "<code text>: <message>" (no line end added).
  std::string Line() const;

 private:
  int code_;
  bool raw_ = false;
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
