#include "driver/mask.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/error.h"

namespace varnik {

bool MaskFileIsNil(const std::string& mask_file) { return mask_file.compare(0, 3, "nil") == 0; }

std::vector<int> ReadMaskStream(std::FILE* f, const std::string& path, int L);

std::vector<int> ReadMaskFile(const std::string& path, int L) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    Diagnose("cannot open mask file " + path + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, "Cannot open mask file");
  }
  return ReadMaskStream(f, path, L);
}

std::vector<int> ReadMaskText(const std::string& text, const std::string& path, int L) {
  if (text.empty()) {  // an empty file holds no flags
    if (L > 0) OnErrorExit(kUnspecifiedError, "Unexpected finish of mask file");
    OnErrorExit(kUnspecifiedError, "All bases masked out");
  }
  std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (f == nullptr) OnErrorExit(kUnspecifiedError, "Cannot open mask file");
  return ReadMaskStream(f, path, L);
}

// The flags from f (closed here).
std::vector<int> ReadMaskStream(std::FILE* f, const std::string& path, int L) {
  std::vector<int> flags;
  flags.reserve(static_cast<size_t>(std::max(L, 0)));
  int nonzero = 0;
  std::string line;
  int c = 0;
  while (static_cast<int>(flags.size()) < L && c != EOF) {
    line.clear();
    while ((c = std::fgetc(f)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) break;  // nothing after the last line end
    const long value = std::strtol(line.c_str(), nullptr, 10);
    flags.push_back(value != 0 ? 1 : 0);
    if (value != 0) ++nonzero;
  }
  const bool failed = std::ferror(f) != 0;
  const std::string reason = failed ? SystemReason() : "";
  std::fclose(f);
  if (failed) {
    Diagnose("cannot read mask file " + path + ": " + reason);
    OnErrorExit(kReadFailed, "Cannot read mask file");
  }
  if (static_cast<int>(flags.size()) < L)
    OnErrorExit(kUnspecifiedError, "Unexpected finish of mask file");
  if (nonzero == 0) OnErrorExit(kUnspecifiedError, "All bases masked out");
  return flags;
}

int ApplyMask(SequenceSet& windows, int L, const std::vector<int>& flags) {
  int kept = 0;
  for (int j = 0; j < L; ++j) kept += flags[j] != 0;
  for (int i = 0; i < windows.size(); ++i) {
    char* w = windows[i];
    int k = 0;
    for (int j = 0; j < L; ++j) {
      if (flags[j] != 0) w[k++] = w[j];
    }
    w[k] = '\0';
  }
  return kept;
}

}  // namespace varnik
