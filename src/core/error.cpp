#include "core/error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varnik {

const char* ErrorText(int code) {
  switch (code) {
    case kNoError:
      return "No error";
    case kUnspecifiedError:
      return "Unspecified error";
    case kCannotOpenFile:
      return "Cannot open file";
    case kCannotAllocateMemory:
      return "Cannot allocate memory";
    case kReadFailed:
      return "Read failed";
    default:
      return "Unknown error";
  }
}

std::string VarnikError::Line() const { return std::string(ErrorText(code_)) + ": " + what(); }

void OnErrorExit(int code, const std::string& message) { throw VarnikError(code, message); }

void Diagnose(const std::string& text) { std::fprintf(stderr, "varnik: %s\n", text.c_str()); }

void Warn(const std::string& text) { std::fprintf(stderr, "varnik: warning: %s\n", text.c_str()); }

std::string SystemReason() { return std::strerror(errno); }

}  // namespace varnik
