#include "driver/file_roles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "core/error.h"

namespace varnik {

namespace {

struct Identity {
  std::string name;  // absolute, links followed where they exist
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
};

Identity Identify(const std::string& path) {
  Identity id;
  std::error_code error;
  const std::filesystem::path full =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  id.name = error ? path : full.lexically_normal().string();
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  return id;
}

bool Same(const Identity& a, const Identity& b) {
  if (a.name == b.name) return true;
  return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

}  // namespace

void RefuseClashingFiles(const std::vector<NamedFile>& outputs,
                         const std::vector<NamedFile>& inputs) {
  std::vector<Identity> out_ids, in_ids;
  for (const NamedFile& o : outputs) out_ids.push_back(Identify(o.path));
  for (const NamedFile& i : inputs) in_ids.push_back(Identify(i.path));
  auto refuse = [](const NamedFile& o, const NamedFile& other) {
    OnErrorExit(kUnspecifiedError, "The " + o.role + " " + o.path + " is the " + other.role + " " +
                                       other.path + ": choose another name");
  };
  for (size_t k = 0; k < outputs.size(); ++k) {
    if (outputs[k].path.empty()) continue;
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (!inputs[i].path.empty() && Same(out_ids[k], in_ids[i])) refuse(outputs[k], inputs[i]);
    }
    for (size_t j = 0; j < k; ++j) {
      if (!outputs[j].path.empty() && Same(out_ids[k], out_ids[j])) refuse(outputs[k], outputs[j]);
    }
  }
}

void RefuseStandardOutputOver(const std::vector<NamedFile>& inputs) {
  struct stat st {};
  if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return;
  Identity out;  // no name: compared by device and inode only
  out.exists = true;
  out.device = st.st_dev;
  out.inode = st.st_ino;
  for (const NamedFile& i : inputs) {
    if (!i.path.empty() && Same(out, Identify(i.path))) {
      OnErrorExit(kUnspecifiedError,
                  "Standard output is the " + i.role + " " + i.path + ": choose another name");
    }
  }
}

}  // namespace varnik
