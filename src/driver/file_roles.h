// The files a command reads and writes, checked against each other before
// anything is written.
#pragma once

#include <string>
#include <vector>

namespace varnik {

struct NamedFile {
  std::string path;
  std::string role;  // "report", "mask file", ...
};

// Ends the run (code 1) when an output is one of the inputs or another
// output: the same name once made absolute (links in its folders followed),
// or the same existing file (device and inode, so hard links count too).
// Empty paths are left out.
void RefuseClashingFiles(const std::vector<NamedFile>& outputs,
                         const std::vector<NamedFile>& inputs);

// The same for standard output when it is a regular file (a shell's ">" or
// ">>" onto an input).
void RefuseStandardOutputOver(const std::vector<NamedFile>& inputs);

}  // namespace varnik
