// Reading a saved SVM recogniser back: the header (classifier, window
// length, threshold) and the SVM model file beside it, checked against each
// other.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/error.h"
#include "recognizers/svm_recognizer.h"

namespace varnik {

namespace {
std::unique_ptr<SvmRecognizer> ModelFromFiles(std::unique_ptr<svm_model> model,
                                              const std::string& header, const std::string& path);

std::string ReadWhole(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    OnErrorExit(kUnspecifiedError,
                "Unable to open model file " + path + " (" + SystemReason() + ")");
  }
  std::string text;
  char buffer[4096];
  size_t got;
  // The header is a few short lines: more than a megabyte is no header.
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (1u << 20)) {
    text.append(buffer, got);
  }
  std::fclose(f);
  return text;
}
}  // namespace

std::unique_ptr<SvmRecognizer> LoadModel(const std::string& path) {
  std::string error;
  std::unique_ptr<svm_model> model = svm_load_model(path + ".svm", &error);
  if (model == nullptr) {
    OnErrorExit(kUnspecifiedError, "Error loading SVM model " + path + ".svm: " + error);
  }
  const std::string header = ReadWhole(path);
  return ModelFromFiles(std::move(model), header, path);
}

std::unique_ptr<SvmRecognizer> ModelFromText(const std::string& header, std::string svm_text,
                                             const std::string& path) {
  std::string error;
  std::unique_ptr<svm_model> model = svm_parse_model(std::move(svm_text), &error);
  if (model == nullptr) {
    OnErrorExit(kUnspecifiedError, "Error loading SVM model " + path + ".svm: " + error);
  }
  return ModelFromFiles(std::move(model), header, path);
}

void CheckWindowLength(const SvmRecognizer& R, int scored_length, const std::string& path) {
  const svm_model& model = *R.svm;
  const bool letters = model.param.kernel_type == wd || model.param.kernel_type == wds;
  // Letter kernels: one node per position, 0 ... L - 1. One-hot windows: a
  // node 4 p + 1 ... 4 p + 4 for a base at p, so the last position reached
  // tells the length.
  long long implied = 0;
  bool fits = scored_length >= 1;
  for (int i = 0; i < model.l && fits; ++i) {
    int n = 0;
    for (const svm_node* x = model.SV[i]; x->index != -1 && fits; ++x, ++n) {
      if (letters) {
        fits =
            x->index == n && x->value >= 0 && x->value <= 255 && x->value == std::trunc(x->value);
      } else {
        fits = x->index >= 1 && x->index <= 4LL * scored_length;
        implied = std::max<long long>(implied, (x->index - 1) / 4 + 1);
      }
    }
    if (letters) fits = fits && n == scored_length;
  }
  if (!letters && model.l > 0 && implied != scored_length) fits = false;
  if (!fits) {
    OnErrorExit(kUnspecifiedError, "Model file " + path + ".svm does not fit windows of " +
                                       std::to_string(scored_length) + " letters (its header" +
                                       (scored_length != R.length() ? " and the mask" : "") + ")");
  }
}

namespace {

// "Key: value" on line `line` of the header, the value's text.
bool HeaderValue(const std::vector<std::string>& lines, size_t line, const char* key,
                 std::string& value) {
  if (line >= lines.size() || lines[line].compare(0, std::strlen(key), key) != 0) return false;
  value = lines[line].substr(std::strlen(key));
  while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
  return true;
}

// The header checked against the SVM model.
std::unique_ptr<SvmRecognizer> ModelFromFiles(std::unique_ptr<svm_model> model,
                                              const std::string& header, const std::string& path) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < header.size() && lines.size() < 3;) {
    size_t end = header.find('\n', at);
    if (end == std::string::npos) end = header.size();
    lines.push_back(header.substr(at, end - at));
    at = end + 1;
  }
  auto malformed = [&](int line, const std::string& what) {
    OnErrorExit(kUnspecifiedError,
                "Malformed model file " + path + ": line " + std::to_string(line) + ": " + what);
  };
  std::string word, length_text, threshold_text;
  if (!HeaderValue(lines, 0, "Classifier: ", word)) malformed(1, "no \"Classifier: \" line");
  if (word != "SVM") malformed(1, "classifier \"" + word + "\" (only SVM models are saved)");
  if (!HeaderValue(lines, 1, "Sequence length: ", length_text)) {
    malformed(2, "no \"Sequence length: \" line");
  }
  char* end = nullptr;
  errno = 0;
  const long length = std::strtol(length_text.c_str(), &end, 10);
  if (length_text.empty() || *end != '\0' || errno == ERANGE || length < 1 || length > INT_MAX) {
    malformed(2, "sequence length \"" + length_text + "\"");
  }
  if (!HeaderValue(lines, 2, "Threshold: ", threshold_text))
    malformed(3, "no \"Threshold: \" line");
  const float threshold = std::strtof(threshold_text.c_str(), &end);
  if (threshold_text.empty() || *end != '\0' || !std::isfinite(threshold)) {
    malformed(3, "threshold \"" + threshold_text + "\" (a finite number)");
  }
  if (model->param.kernel_type == precomputed) {
    OnErrorExit(kUnspecifiedError,
                "Model file " + path + ".svm: kernel_type precomputed cannot score windows");
  }
  // The support vectors must fit windows of the header's length: one node
  // per letter for the string kernels, indexes up to 4 L for one-hot windows
  // (a mask may make the windows shorter still: CheckWindowLength).
  const bool letters = model->param.kernel_type == wd || model->param.kernel_type == wds;
  for (int i = 0; i < model->l; ++i) {
    int n = 0;
    bool fits = true;
    for (const svm_node* x = model->SV[i]; x->index != -1 && fits; ++x) {
      ++n;
      fits = letters ? n <= length : x->index <= 4LL * length;
    }
    if (!fits) {
      OnErrorExit(kUnspecifiedError, "Model file " + path + ".svm does not fit windows of " +
                                         std::to_string(length) + " letters (its header)");
    }
  }
  Settings settings;
  settings.R_method = kSVM;
  settings.Kernel = model->param.kernel_type;
  auto R = std::make_unique<SvmRecognizer>(settings, std::move(model));
  R->set_length(static_cast<int>(length));
  R->set_threshold(threshold);
  return R;
}

}  // namespace

void WriteSvmPayload(const svm_model* model, ModelWriter& w) {
  if (model == nullptr) {
    w.Line("svm", {"0"});
    return;
  }
  std::string text = svm_model_text(*model, true);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  w.Line("svm",
         {ModelWriter::Of(static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1)});
  w.Raw(text);
}

void SvmRecognizer::WritePayload(ModelWriter& w) const { WriteSvmPayload(svm.get(), w); }

std::unique_ptr<svm_model> ReadSvmModel(ModelReader& r, int windows_of) {
  const long long lines = r.ExpectCount("svm", 0, 1LL << 40);
  if (lines == 0) return nullptr;
  r.RefuseCount(lines, 1, "SVM lines");
  const long long first = r.line() + 1;
  std::string text;
  text.reserve(r.Left());  // the lines are the rest of the text at most
  for (long long i = 0; i < lines; ++i) {
    text.append(r.NextLine());
    text += '\n';
  }
  std::string error;
  std::unique_ptr<svm_model> model = svm_parse_model(std::move(text), &error);
  if (model == nullptr) {
    OnErrorExit(kUnspecifiedError,
                r.path() + ":" + std::to_string(first) + ": the SVM does not read: " + error);
  }
  if (model->nr_class != 2 || model->sv_coef.size() != 1) {
    r.Fail("the SVM has " + std::to_string(model->nr_class) + " classes, not 2");
  }
  if (windows_of > 0) {
    // Letter kernels: one node per position; one-hot windows: nodes within
    // 4 L.
    const bool letters = model->param.kernel_type == wd || model->param.kernel_type == wds;
    if (!letters && model->param.kernel_type == precomputed) {
      r.Fail("a precomputed kernel cannot score windows");
    }
    for (int i = 0; i < model->l; ++i) {
      int n = 0;
      for (const svm_node* x = model->SV[i]; x->index != -1; ++x, ++n) {
        const bool fits = letters ? x->index == n && x->value >= 0 && x->value <= 255 &&
                                        x->value == std::trunc(x->value)
                                  : x->index >= 1 && x->index <= 4LL * windows_of;
        if (!fits) {
          r.Fail("support vector " + std::to_string(i + 1) + " does not fit windows of " +
                 std::to_string(windows_of) + " letters");
        }
      }
      if (letters && n != windows_of) {
        r.Fail("support vector " + std::to_string(i + 1) + " has " + std::to_string(n) +
               " letters, not " + std::to_string(windows_of));
      }
    }
  }
  return model;
}

std::unique_ptr<Recognizer> ReadSvmPayload(ModelReader& r, const Settings& settings, int L) {
  std::unique_ptr<svm_model> model = ReadSvmModel(r, L);
  if (model == nullptr) r.Fail("the SVM recogniser has no machine");
  Settings s = settings;
  s.Kernel = model->param.kernel_type;
  return std::make_unique<SvmRecognizer>(s, std::move(model));
}

}  // namespace varnik
