// Helpers shared by the tests: temporary directories, files, and running the
// built program.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace varnik::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnik-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) std::abort();
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  std::string line;
  while (std::getline(s, line)) lines.push_back(line);
  return lines;
}

struct CommandResult {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error (RunVarnikSplit only)
};

// Runs a shell command, capturing its standard output.
inline CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  std::FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Runs the built varnik in dir with the given arguments (already quoted as
// needed); standard error is discarded unless keep_stderr.
inline CommandResult RunVarnikIn(const std::string& dir, const std::string& arguments,
                                 bool keep_stderr = false) {
  return RunCommand("cd '" + dir + "' && '" + VARNIK_BINARY + "' " + arguments +
                    (keep_stderr ? " 2>&1" : " 2>/dev/null"));
}

// Runs the built varnik in dir, standard output and standard error apart.
inline CommandResult RunVarnikSplit(const std::string& dir, const std::string& arguments) {
  const std::string err_path = dir + "/.varnik-stderr";
  CommandResult r = RunCommand("cd '" + dir + "' && '" + VARNIK_BINARY + "' " + arguments + " 2>'" +
                               err_path + "'");
  r.err = ReadFile(err_path);
  std::remove(err_path.c_str());
  return r;
}

// Positive and negative windows as strings, handed out as pointer lists.
struct WindowLists {
  std::vector<std::string> pos, neg;
  static std::vector<const char*> Pointers(const std::vector<std::string>& windows) {
    std::vector<const char*> v;
    for (const auto& s : windows) v.push_back(s.c_str());
    return v;
  }
  std::vector<const char*> P() const { return Pointers(pos); }
  std::vector<const char*> N() const { return Pointers(neg); }
};

inline std::string ExamplesDir() { return std::string(VARNIK_SOURCE_DIR) + "/data/examples"; }

}  // namespace varnik::testing
