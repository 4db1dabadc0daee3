#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/output_file.h"
#include "svm/internal/kernel.h"
#include "svm/svm.h"

namespace varnik {

namespace {

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Append(std::string& out, const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n > 0) out.append(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

}  // namespace

std::string svm_model_text(const svm_model& model, bool exact) {
  std::string out;
  // Exact: every number as many digits as read back to the same double.
  const char* g = exact ? " %.17g" : " %g";
  const char* coef = exact ? "%.17g " : "%.16g ";
  const char* value = exact ? "%d:%.17g " : "%d:%.8g ";
  const svm_parameter& param = model.param;
  Append(out, "svm_type %s\n", svm_type_table[param.svm_type]);
  Append(out, "kernel_type %s\n", kernel_type_table[param.kernel_type]);
  if (param.kernel_type == polynomial || param.kernel_type == wd || param.kernel_type == wds) {
    Append(out, "degree %d\n", param.degree);
  }
  if (param.kernel_type == polynomial || param.kernel_type == rbf || param.kernel_type == sigmoid ||
      param.kernel_type == wds) {
    Append(out, "gamma");
    Append(out, g, param.gamma);
    out += "\n";
  }
  if (param.kernel_type == polynomial || param.kernel_type == sigmoid) {
    Append(out, "coef0");
    Append(out, g, param.coef0);
    out += "\n";
  }
  const int nr_class = model.nr_class;
  const int l = model.l;
  Append(out, "nr_class %d\n", nr_class);
  Append(out, "total_sv %d\n", l);
  const int pairs = nr_class * (nr_class - 1) / 2;
  out += "rho";
  for (int i = 0; i < pairs; ++i) Append(out, g, model.rho[i]);
  out += "\n";
  if (!model.label.empty()) {
    out += "label";
    for (int i = 0; i < nr_class; ++i) Append(out, " %d", model.label[i]);
    out += "\n";
  }
  if (!model.probA.empty()) {
    out += "probA";
    for (int i = 0; i < pairs; ++i) Append(out, g, model.probA[i]);
    out += "\n";
  }
  if (!model.probB.empty()) {
    out += "probB";
    for (int i = 0; i < pairs; ++i) Append(out, g, model.probB[i]);
    out += "\n";
  }
  if (!model.nSV.empty()) {
    out += "nr_sv";
    for (int i = 0; i < nr_class; ++i) Append(out, " %d", model.nSV[i]);
    out += "\n";
  }
  out += "SV\n";
  for (int i = 0; i < l; ++i) {
    for (int j = 0; j < nr_class - 1; ++j) Append(out, coef, model.sv_coef[j][i]);
    const svm_node* p = model.SV[i];
    if (param.kernel_type == precomputed) {
      Append(out, "0:%d ", static_cast<int>(p->value));
    } else {
      for (; p->index != -1; ++p) Append(out, value, p->index, p->value);
    }
    out += "\n";
  }
  return out;
}

int svm_save_model(const std::string& path, const svm_model& model) {
  // Written whole or not at all; a failure is the caller's to report.
  try {
    OutputFile f;
    if (!f.Open(path)) return -1;
    f.Write(svm_model_text(model));
    f.Close();
    return 0;
  } catch (const VarnikError&) {
    return -1;
  }
}

namespace {

// Reads a model file held in memory: header words, then one line per
// support vector. Every number must be well formed.
class ModelReader {
 public:
  explicit ModelReader(std::string text) : text_(std::move(text)) {}

  std::unique_ptr<svm_model> Read() {
    auto model = std::make_unique<svm_model>();
    svm_parameter& param = model->param;
    // Fields the file does not hold are zero.
    param.svm_type = -1;
    param.kernel_type = -1;
    param.degree = 0;
    param.gamma = 0;
    param.coef0 = 0;
    param.cache_size = 0;
    param.eps = 0;
    param.C = 0;
    param.nu = 0;
    param.p = 0;
    param.shrinking = 0;
    param.probability = 0;
    bool have_nr_class = false, have_total = false, have_rho = false;
    std::string word;
    std::vector<std::string> seen;
    while (true) {
      if (!NextWord(word)) return Fail("the header has no SV line");
      if (std::find(seen.begin(), seen.end(), word) != seen.end()) {
        return Fail(word + " is given twice");
      }
      seen.push_back(word);
      if (word == "svm_type" || word == "kernel_type") {
        const bool svm_type = word == "svm_type";
        std::string value;
        if (!NextWord(value)) return Fail("missing " + word);
        const char* const* table = svm_type ? svm_type_table : kernel_type_table;
        int code = -1;
        for (int i = 0; table[i] != nullptr; ++i) {
          if (value == table[i]) code = i;
        }
        if (code < 0) return Fail("unknown " + word + " \"" + value + "\"");
        (svm_type ? param.svm_type : param.kernel_type) = code;
      } else if (word == "degree") {
        if (!NextInt(param.degree)) return Fail("bad degree " + Shown());
      } else if (word == "gamma") {
        if (!NextDouble(param.gamma)) return Fail("bad gamma " + Shown());
      } else if (word == "coef0") {
        if (!NextDouble(param.coef0)) return Fail("bad coef0 " + Shown());
      } else if (word == "nr_class") {
        if (!NextInt(model->nr_class) || model->nr_class < 1 || model->nr_class > 65536) {
          return Fail("bad nr_class " + Shown());
        }
        have_nr_class = true;
      } else if (word == "total_sv") {
        if (!NextInt(model->l) || model->l < 0) return Fail("bad total_sv " + Shown());
        if (model->l > static_cast<long long>(text_.size() - pos_) / 2 + 1) {
          return Fail("total_sv " + std::to_string(model->l) + " is too large for the file");
        }
        have_total = true;
      } else if (word == "rho" || word == "probA" || word == "probB") {
        if (!have_nr_class) return Fail(word + " before nr_class");
        std::vector<double>& v =
            word == "rho" ? model->rho : (word == "probA" ? model->probA : model->probB);
        // Each value takes at least two characters of the file: a count
        // beyond what the file can hold is refused before anything is
        // allocated.
        const long long pairs = static_cast<long long>(model->nr_class) * (model->nr_class - 1) / 2;
        if (pairs > static_cast<long long>(text_.size() - pos_) / 2 + 1) {
          return Fail("nr_class " + std::to_string(model->nr_class) + " is too large for the file");
        }
        v.assign(static_cast<size_t>(pairs), 0.0);
        for (double& x : v) {
          if (!NextDouble(x)) return Fail("bad " + word + " value " + Shown());
        }
        if (word == "rho") have_rho = true;
      } else if (word == "label" || word == "nr_sv") {
        if (!have_nr_class) return Fail(word + " before nr_class");
        std::vector<int>& v = word == "label" ? model->label : model->nSV;
        if (model->nr_class > static_cast<long long>(text_.size() - pos_) / 2 + 1) {
          return Fail("nr_class " + std::to_string(model->nr_class) + " is too large for the file");
        }
        v.assign(static_cast<size_t>(model->nr_class), 0);
        for (int& x : v) {
          if (!NextInt(x)) return Fail("bad " + word + " value " + Shown());
        }
      } else if (word == "SV") {
        SkipLine();
        break;
      } else {
        return Fail("unknown text \"" + word + "\"");
      }
    }
    if (param.svm_type < 0 || param.kernel_type < 0) return Fail("svm_type or kernel_type missing");
    if (!have_nr_class || !have_total || !have_rho)
      return Fail("nr_class, total_sv or rho missing");
    const bool classification = param.svm_type == c_svc || param.svm_type == nu_svc;
    if (!classification && model->nr_class != 2) return Fail("nr_class must be 2");
    if (classification) {
      if (model->label.empty() || model->nSV.empty()) return Fail("label or nr_sv missing");
      long long sum = 0;
      for (int c : model->nSV) {
        if (c < 0) return Fail("negative nr_sv");
        sum += c;
      }
      if (sum != model->l) return Fail("nr_sv does not add up to total_sv");
    }
    if ((param.kernel_type == wd || param.kernel_type == wds) && param.degree < 1) {
      return Fail("string kernel degree below 1");
    }
    if (!ReadSupportVectors(*model)) return nullptr;
    model->free_sv = 1;
    svm_prepare_prediction(*model);
    return model;
  }

  const std::string& error() const { return error_; }

 private:
  // The error, with the line it stands on (the line of the word read last).
  std::unique_ptr<svm_model> Fail(const std::string& what) {
    const size_t at = std::min(word_at_, text_.size());
    const long line = std::count(text_.begin(), text_.begin() + static_cast<long>(at), '\n') + 1;
    error_ = "line " + std::to_string(line) + ": " + what;
    return nullptr;
  }
  // The word read last, quoted (cut short when long).
  std::string Shown() const {
    const std::string w = last_word_.size() > 40 ? last_word_.substr(0, 40) + "..." : last_word_;
    return "\"" + w + "\"";
  }

  static bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }

  // A word of at most 80 characters, as the header holds.
  bool NextWord(std::string& word) {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    const size_t start = pos_;
    word_at_ = start;
    while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
    word.assign(text_, start, std::min<size_t>(pos_ - start, 200));
    last_word_ = word;
    return !word.empty() && pos_ - start <= 80;
  }
  bool NextDouble(double& v) {
    std::string w;
    return NextWord(w) && ParseDouble(w.c_str(), w.size(), v);
  }
  bool NextInt(int& v) {
    std::string w;
    return NextWord(w) && ParseInt(w.c_str(), w.size(), v);
  }
  void SkipLine() {
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    if (pos_ < text_.size()) ++pos_;
  }
  // A run of at most 15 digits: the whole number it writes (exactly what
  // strtod and strtol give for it; the letters of string-kernel vectors are
  // such numbers).
  static bool Digits(const char* s, size_t n, int64_t& v) {
    if (n == 0 || n > 15) return false;
    v = 0;
    for (size_t i = 0; i < n; ++i) {
      const unsigned d = static_cast<unsigned>(s[i] - '0');
      if (d > 9) return false;
      v = 10 * v + d;
    }
    return true;
  }
  static bool ParseDouble(const char* s, size_t n, double& v) {
    int64_t whole = 0;
    if (Digits(s, n, whole)) {
      v = static_cast<double>(whole);
      return true;
    }
    if (n == 0 || n > 400) return false;
    char buf[401];
    std::memcpy(buf, s, n);
    buf[n] = '\0';
    char* end = nullptr;
    errno = 0;
    v = std::strtod(buf, &end);
    // Every number of a model must be finite: nan and inf are refused.
    return end == buf + n && errno != ERANGE && std::isfinite(v);
  }
  static bool ParseInt(const char* s, size_t n, int& v) {
    int64_t whole = 0;
    if (n <= 9 && Digits(s, n, whole)) {
      v = static_cast<int>(whole);
      return true;
    }
    if (n == 0 || n > 20) return false;
    char buf[21];
    std::memcpy(buf, s, n);
    buf[n] = '\0';
    char* end = nullptr;
    errno = 0;
    const long x = std::strtol(buf, &end, 10);
    if (end != buf + n || errno == ERANGE || x < INT_MIN || x > INT_MAX) return false;
    v = static_cast<int>(x);
    return true;
  }

  // One line per support vector: nr_class - 1 coefficients, then index:value
  // pairs in increasing index order.
  bool ReadSupportVectors(svm_model& model) {
    const int k = model.nr_class;
    model.sv_coef.assign(static_cast<size_t>(k - 1), {});
    std::vector<size_t> starts;
    int line_no = 0;
    while (pos_ < text_.size()) {
      size_t end = text_.find('\n', pos_);
      if (end == std::string::npos) end = text_.size();
      const std::string_view line(text_.data() + pos_, end - pos_);
      word_at_ = pos_;
      pos_ = end + 1;
      size_t p = 0;
      auto next_piece = [&](std::string_view& piece) {
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t' || line[p] == '\r')) ++p;
        const size_t s = p;
        while (p < line.size() && line[p] != ' ' && line[p] != '\t' && line[p] != '\r') ++p;
        piece = line.substr(s, p - s);
        return !piece.empty();
      };
      std::string_view piece;
      if (!next_piece(piece)) continue;  // blank line
      ++line_no;
      if (line_no > model.l) {
        Fail("more support vectors than total_sv");
        return false;
      }
      for (int c = 0; c < k - 1; ++c) {
        double v;
        if ((c > 0 && !next_piece(piece)) || !ParseDouble(piece.data(), piece.size(), v)) {
          last_word_ = std::string(piece.substr(0, 200));
          Fail("bad coefficient " + Shown() + " in support vector " + std::to_string(line_no));
          return false;
        }
        model.sv_coef[c].push_back(v);
      }
      if (k == 1) p = 0;  // no coefficients: the first piece is a node
      starts.push_back(model.sv_storage.size());
      int last_index = INT_MIN;
      while (next_piece(piece)) {
        const size_t colon = piece.find(':');
        svm_node node{};
        if (colon == std::string_view::npos || !ParseInt(piece.data(), colon, node.index) ||
            !ParseDouble(piece.data() + colon + 1, piece.size() - colon - 1, node.value) ||
            node.index < 0 || node.index <= last_index) {
          last_word_ = std::string(piece.substr(0, 200));
          Fail("bad or out-of-order node " + Shown() + " in support vector " +
               std::to_string(line_no));
          return false;
        }
        last_index = node.index;
        model.sv_storage.push_back(node);
      }
      model.sv_storage.push_back(svm_node{-1, 0.0});
    }
    if (line_no != model.l) {
      Fail("fewer support vectors than total_sv");
      return false;
    }
    model.SV.resize(starts.size());
    for (size_t i = 0; i < starts.size(); ++i) model.SV[i] = model.sv_storage.data() + starts[i];
    return true;
  }

  std::string text_;
  size_t pos_ = 0;
  size_t word_at_ = 0;
  std::string last_word_;
  std::string error_;
};

}  // namespace

namespace {

// A number as printf with the format writes it and strtod reads it back.
double Through(const char* format, double v);

// The same for "%.8g" (node values): whole numbers of up to 8 digits come
// back unchanged, without formatting them.
double Through8(double v) {
  if (v < 1e8 && v > -1e8 && v == std::trunc(v)) return v;
  return Through("%.8g", v);
}

double Through(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return std::strtod(buf, nullptr);
}

}  // namespace

std::unique_ptr<svm_model> svm_model_as_stored(const svm_model& model) {
  auto stored = std::make_unique<svm_model>();
  const svm_parameter& from = model.param;
  svm_parameter& param = stored->param;
  // Only what the header holds survives; every other field reads as zero.
  param.svm_type = from.svm_type;
  param.kernel_type = from.kernel_type;
  const int k = from.kernel_type;
  param.degree = (k == polynomial || k == wd || k == wds) ? from.degree : 0;
  param.gamma =
      (k == polynomial || k == rbf || k == sigmoid || k == wds) ? Through("%g", from.gamma) : 0;
  param.coef0 = (k == polynomial || k == sigmoid) ? Through("%g", from.coef0) : 0;
  param.cache_size = param.eps = param.C = param.nu = param.p = 0;
  param.shrinking = param.probability = 0;
  stored->nr_class = model.nr_class;
  stored->l = model.l;
  const int pairs = model.nr_class * (model.nr_class - 1) / 2;
  for (int i = 0; i < pairs; ++i) stored->rho.push_back(Through("%g", model.rho[i]));
  stored->label = model.label;
  if (!model.probA.empty()) {
    for (int i = 0; i < pairs; ++i) stored->probA.push_back(Through("%g", model.probA[i]));
  }
  if (!model.probB.empty()) {
    for (int i = 0; i < pairs; ++i) stored->probB.push_back(Through("%g", model.probB[i]));
  }
  stored->nSV = model.nSV;
  stored->sv_coef.assign(static_cast<size_t>(std::max(model.nr_class - 1, 0)), {});
  for (int j = 0; j < model.nr_class - 1; ++j) {
    for (int i = 0; i < model.l; ++i)
      stored->sv_coef[j].push_back(Through("%.16g", model.sv_coef[j][i]));
  }
  std::vector<size_t> starts;
  for (int i = 0; i < model.l; ++i) {
    starts.push_back(stored->sv_storage.size());
    const svm_node* p = model.SV[i];
    if (k == precomputed) {
      stored->sv_storage.push_back({0, static_cast<double>(static_cast<int>(p->value))});
    } else {
      for (; p->index != -1; ++p) stored->sv_storage.push_back({p->index, Through8(p->value)});
    }
    stored->sv_storage.push_back({-1, 0.0});
  }
  for (size_t start : starts) stored->SV.push_back(stored->sv_storage.data() + start);
  stored->free_sv = 1;
  svm_prepare_prediction(*stored);
  return stored;
}

std::unique_ptr<svm_model> svm_load_model(const std::string& path, std::string* error) {
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (fp == nullptr) {
    if (error != nullptr) *error = std::strerror(errno);
    return nullptr;
  }
  std::string text;
  char buf[1 << 16];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, fp)) > 0) text.append(buf, got);
  const bool read_error = std::ferror(fp) != 0;
  if (std::fclose(fp) != 0 || read_error) {
    if (error != nullptr) *error = "cannot read the file";
    return nullptr;
  }
  return svm_parse_model(std::move(text), error);
}

std::unique_ptr<svm_model> svm_parse_model(std::string text, std::string* error) {
  ModelReader reader(std::move(text));
  std::unique_ptr<svm_model> model = reader.Read();
  if (model == nullptr) {
    if (error != nullptr) {
      *error = reader.error();
    } else {
      std::fprintf(stderr, "malformed model file: %s\n", reader.error().c_str());
    }
  }
  return model;
}

}  // namespace varnik
