#include "core/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/error.h"

namespace varnik {

namespace {

// The temporary files being written, for the signal handler: a fixed table
// of pointers it can read without locking or allocating. This is the one
// piece of process-wide state of the program; it holds names only while
// their files are open.
constexpr int kTemporarySlots = 64;
std::atomic<const char*> g_temporaries[kTemporarySlots];

// Takes a slot for name (a copy that lives until Forget); -1 when all are
// taken (the file is then only removed on the ordinary paths).
int Remember(const std::string& name) {
  char* copy = strdup(name.c_str());
  if (copy == nullptr) return -1;
  for (int i = 0; i < kTemporarySlots; ++i) {
    const char* expected = nullptr;
    if (g_temporaries[i].compare_exchange_strong(expected, copy)) return i;
  }
  std::free(copy);
  return -1;
}

void Forget(const std::string& name) {
  for (int i = 0; i < kTemporarySlots; ++i) {
    const char* p = g_temporaries[i].load();
    if (p != nullptr && name == p && g_temporaries[i].compare_exchange_strong(p, nullptr)) {
      std::free(const_cast<char*>(p));
      return;
    }
  }
}

extern "C" void RemoveTemporariesAndExit(int signal) {
  for (int i = 0; i < kTemporarySlots; ++i) {
    const char* p = g_temporaries[i].load();
    if (p != nullptr) unlink(p);
  }
  _exit(128 + signal);
}

// The folder part of a path ("." for a bare name) and the name in it.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
  } else {
    folder = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

mode_t CreationMode() {
  // umask can only be read by setting it; outputs are opened by the main
  // thread alone.
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void RemoveTemporariesOnSignals() {
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
    struct sigaction old {};
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN && s != SIGPIPE) continue;
    struct sigaction act {};
    act.sa_handler = RemoveTemporariesAndExit;
    sigemptyset(&act.sa_mask);
    sigaction(s, &act, nullptr);
  }
}

OutputFile::~OutputFile() {
  // Reached when the run ends early.
  if (file_ == nullptr) return;
  if (in_memory_) {
    Discard();
    return;
  }
  if (standard_output_) {
    std::fflush(file_);
    return;
  }
  if (keep_on_error_ && !temporary_.empty()) {
    std::fclose(file_);
    file_ = nullptr;
    std::rename(temporary_.c_str(), target_.c_str());
    Forget(temporary_);
    return;
  }
  Discard();
}

bool OutputFile::Open(const std::string& path) {
  if (file_ != nullptr) Discard();
  path_ = target_ = path;
  temporary_.clear();
  standard_output_ = false;
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
  }
  // A link is followed: the file it names is replaced, the link stays.
  struct stat lst {};
  if (lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) && exists) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) target_ = resolved;
  }
  std::string folder, name;
  SplitPath(target_, folder, name);
  std::string pattern = folder + "/." + name + ".XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0 && errno == ENAMETOOLONG) {
    // A name near the system's limit leaves no room for the suffix.
    pattern = folder + "/.varnik-XXXXXX";
    fd = mkstemp(pattern.data());
  }
  if (fd < 0) {
    // A folder where nothing new may be made, but a file there that may be
    // written: written directly, as it always could be.
    if (exists && access(target_.c_str(), W_OK) == 0) {
      file_ = std::fopen(target_.c_str(), "w");
      return file_ != nullptr;
    }
    return false;
  }
  // The mode a newly created file would get, or the replaced file's.
  fchmod(fd, exists ? (st.st_mode & 07777) : CreationMode());
  file_ = fdopen(fd, "w");
  if (file_ == nullptr) {
    const int error = errno;
    close(fd);
    unlink(pattern.c_str());
    errno = error;
    return false;
  }
  temporary_ = pattern;
  Remember(temporary_);
  return true;
}

void OutputFile::OpenStandardOutput() {
  if (file_ != nullptr) Discard();
  path_ = target_ = "standard output";
  temporary_.clear();
  standard_output_ = true;
  file_ = stdout;
}

void OutputFile::OpenMemory() {
  if (file_ != nullptr) Discard();
  path_ = target_ = "memory";
  temporary_.clear();
  standard_output_ = false;
  file_ = open_memstream(&memory_, &memory_size_);
  if (file_ == nullptr) throw std::bad_alloc();
  in_memory_ = true;
}

std::string OutputFile::TakeText() {
  if (file_ == nullptr || !in_memory_) return "";
  if (std::fflush(file_) != 0) throw std::bad_alloc();
  std::string text(memory_, memory_size_);
  Discard();
  return text;
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

void OutputFile::Write(const std::string& text) {
  if (file_ == nullptr || text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) Fail(errno);
}

void OutputFile::Flush() {
  if (file_ == nullptr) return;
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) Fail(errno);
}

void OutputFile::Close() {
  if (file_ == nullptr) return;
  if (in_memory_) {
    Discard();
    return;
  }
  errno = 0;
  int error = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) error = errno != 0 ? errno : EIO;
  if (standard_output_) {
    file_ = nullptr;
    if (error != 0) Fail(error);
    return;
  }
  errno = 0;
  if (std::fclose(file_) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  file_ = nullptr;
  if (error == 0 && !temporary_.empty() && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    error = errno != 0 ? errno : EIO;
  }
  if (error != 0) Fail(error);
  if (!temporary_.empty()) Forget(temporary_);
  temporary_.clear();
}

void OutputFile::Discard() {
  if (file_ == nullptr) return;
  if (!standard_output_) std::fclose(file_);
  file_ = nullptr;
  if (in_memory_) {
    std::free(memory_);  // set by the stream's close
    memory_ = nullptr;
    memory_size_ = 0;
    in_memory_ = false;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    Forget(temporary_);
    temporary_.clear();
  }
}

void OutputFile::Fail(int error) {
  // What was written is lost: the earlier file of the name stays as it was.
  const bool broken_pipe = error == EPIPE;
  if (standard_output_) std::clearerr(file_);
  Discard();
  if (broken_pipe) {
    // The reader has gone (a pipe into head, say): the end it asked for.
    throw VarnikError(128 + SIGPIPE, "", VarnikError::kQuiet);
  }
  const std::string reason = error != 0 ? std::strerror(error) : "write error";
  OnErrorExit(kUnspecifiedError, "Cannot write file " + path_ + " (" + reason + ")");
}

}  // namespace varnik
