// The Python module `varnik`: models loaded, scored, scanned and trained in
// the calling process, on the library the command line is built from. Every
// failure is raised as varnik.Error (a RuntimeError carrying the exit code the
// command line would give and its message); nothing here ends the process or
// writes to standard output. The GIL is released while the library works.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/error.h"
#include "core/output_file.h"
#include "core/parallel.h"
#include "driver/curves.h"
#include "driver/evaluation.h"
#include "driver/model_file.h"
#include "driver/parameters.h"
#include "driver/run.h"
#include "driver/score.h"
#include "learners/methods.h"
#include "sequence/fasta.h"
#include "sequence/fasta_stream.h"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace varnik {
namespace {

PyObject* error_type = nullptr;

int ThreadsOr(std::optional<int> threads) {
  if (threads) {
    if (*threads < 1) throw VarnikError(kUnspecifiedError, "threads must be at least 1");
    return *threads;
  }
  if (const char* env = std::getenv("VARNIK_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && n >= 1 && n <= 4096) return static_cast<int>(n);
  }
  return AvailableCores();
}

// A folder for the files of one call, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "varnik-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw VarnikError(kCannotOpenFile, "cannot make a temporary folder: " + SystemReason());
    }
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Windows given as a list of str or bytes, or a numpy array of fixed-length
// byte strings, as the text of a FASTA file of one record each.
std::string WindowsAsFasta(const py::handle& windows, const char* what) {
  // Views of the windows' letters, which stay alive while the caller holds
  // the windows (a str's UTF-8 form is kept by the str itself).
  std::vector<std::string_view> list;
  if (py::isinstance<py::array>(windows)) {
    const py::array a = py::reinterpret_borrow<py::array>(windows);
    if (a.dtype().kind() != 'S' || a.ndim() != 1) {
      throw VarnikError(kUnspecifiedError, std::string(what) +
                                               ": a numpy array of windows must be one-dimensional "
                                               "with fixed-length byte strings (dtype S)");
    }
    const size_t width = static_cast<size_t>(a.itemsize());
    const auto* data = static_cast<const char*>(a.data());
    list.reserve(static_cast<size_t>(a.shape(0)));
    for (py::ssize_t i = 0; i < a.shape(0); ++i) {
      const char* item = data + static_cast<size_t>(i * a.strides(0));
      size_t n = 0;
      while (n < width && item[n] != '\0') ++n;
      list.emplace_back(item, n);
    }
  } else if (py::isinstance<py::str>(windows) || py::isinstance<py::bytes>(windows)) {
    throw VarnikError(kUnspecifiedError,
                      std::string(what) + ": give a list of windows, not one string");
  } else {
    if (py::hasattr(windows, "__len__")) list.reserve(py::len(windows));
    for (const py::handle item : windows) {
      char* letters = nullptr;
      Py_ssize_t n = 0;
      if (PyBytes_Check(item.ptr())) {
        if (PyBytes_AsStringAndSize(item.ptr(), &letters, &n) != 0) throw py::error_already_set();
      } else if (PyUnicode_Check(item.ptr())) {
        letters = const_cast<char*>(PyUnicode_AsUTF8AndSize(item.ptr(), &n));
        if (letters == nullptr) throw py::error_already_set();
      } else {
        throw VarnikError(kUnspecifiedError,
                          std::string(what) + ": every window must be a str or bytes");
      }
      list.emplace_back(letters, static_cast<size_t>(n));
    }
  }
  size_t size = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].find_first_of("\n\r>") != std::string_view::npos) {
      throw VarnikError(kUnspecifiedError, std::string(what) + ": window " + std::to_string(i) +
                                               " holds a line end or '>'");
    }
    size += list[i].size() + 24;  // ">w", the number, two line ends
  }
  std::string text;
  text.reserve(size);
  char name[24];
  for (size_t i = 0; i < list.size(); ++i) {
    const int n = std::snprintf(name, sizeof name, ">w%zu\n", i);
    text.append(name, static_cast<size_t>(n));
    text.append(list[i]);
    text.push_back('\n');
  }
  return text;
}

bool IsPath(const py::handle& x) {
  return py::isinstance<py::str>(x) ||
         py::isinstance(x, py::module_::import("os").attr("PathLike"));
}

std::string PathOf(const py::handle& x) {
  return py::module_::import("os").attr("fspath")(x).cast<std::string>();
}

class Model {
 public:
  static std::shared_ptr<Model> Load(const std::string& path, int threads) {
    auto m = std::make_shared<Model>();
    {
      py::gil_scoped_release release;
      if (!IsModelFile(path)) {
        throw VarnikError(kUnspecifiedError, path + " is not a varnik model file");
      }
      m->file_ = ReadModelFile(path);
      m->scorer_ = std::make_unique<SavedScorer>(path, threads, false);
    }
    return m;
  }

  void Save(const std::string& path) const {
    py::gil_scoped_release release;
    WriteModelFile(path, *file_.recognizer, file_.window, file_.training_positives,
                   file_.training_negatives);
  }

  std::string method() const { return MethodName(file_.recognizer->method()); }
  float threshold() const { return file_.recognizer->threshold(); }
  int window_length() const { return scorer_->window_letters(); }
  std::vector<std::tuple<int, std::string>> core() const {
    std::vector<std::tuple<int, std::string>> out;
    for (const auto& [p, letter] : file_.window.core) out.emplace_back(p, std::string(1, letter));
    return out;
  }
  py::dict settings() const {
    py::dict d;
    for (const std::string& line : SettingsAsLines(file_.settings)) {
      const size_t colon = line.find(':');
      std::string value = line.substr(colon + 1);
      while (!value.empty() && value[0] == ' ') value.erase(0, 1);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
      d[py::str(line.substr(0, colon))] = value;
    }
    return d;
  }

  py::array_t<float> Score(const py::handle& windows, std::optional<int> threads) const {
    const std::string text = WindowsAsFasta(windows, "score");
    std::vector<float> scores;
    {
      py::gil_scoped_release release;
      if (!text.empty()) {
        SequenceSet set;
        std::vector<std::string> names;
        const int read = ReadFastaText(&text, "windows", scorer_->settings(), set, &names);
        scores = ScoreWindowsOf(*scorer_, set, read, "the windows", ThreadsOr(threads), false);
      }
    }
    py::array_t<float> out(static_cast<py::ssize_t>(scores.size()));
    std::copy(scores.begin(), scores.end(), out.mutable_data());
    return out;
  }

  py::array_t<bool> Call(const py::handle& windows, std::optional<int> threads) const {
    const py::array_t<float> scores = Score(windows, threads);
    py::array_t<bool> out(scores.size());
    const float t = threshold();
    for (py::ssize_t i = 0; i < scores.size(); ++i) out.mutable_data()[i] = scores.data()[i] > t;
    return out;
  }

  const SavedScorer& scorer() const { return *scorer_; }

 private:
  SelfContainedModel file_;
  std::unique_ptr<SavedScorer> scorer_;
};

// The windows of a scan scoring above the cut-off, record by record, read a
// piece at a time.
class Scan {
 public:
  Scan(std::shared_ptr<Model> model, const py::handle& source, const std::string& strands,
       bool candidates, std::optional<double> min_score, int threads)
      : model_(std::move(model)),
        cutoff_(min_score ? *min_score : static_cast<double>(model_->threshold())) {
    if (strands != "both" && strands != "plus") {
      throw VarnikError(kUnspecifiedError,
                        "strands must be \"both\" or \"plus\", not \"" + strands + "\"");
    }
    if (min_score && !std::isfinite(*min_score)) {
      throw VarnikError(kUnspecifiedError, "min_score must be a finite number");
    }
    both_ = strands == "both";
    const std::string text = py::isinstance<py::str>(source) ? source.cast<std::string>() : "";
    if (IsPath(source) && fs::exists(PathOf(source))) {
      path_ = PathOf(source);
    } else if (py::isinstance<py::str>(source) && !text.empty() &&
               text.find_first_not_of("ACGTNacgtnRYKMSWBDHVrykmswbdhvUu-") == std::string::npos) {
      sequence_ = text;
      for (char& c : sequence_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else {
      throw VarnikError(kUnspecifiedError,
                        "scan: give a FASTA file's path or the letters of a sequence");
    }
    pieces_ =
        std::make_unique<PieceScanner>(model_->scorer(), both_, !candidates, threads, cutoff_);
    W_ = pieces_->window_letters();
    if (!path_.empty()) {
      py::gil_scoped_release release;
      in_ = std::make_unique<FastaStream>(path_);
    }
  }

  py::tuple Next() {
    while (hits_.empty()) {
      if (done_) throw py::stop_iteration();
      py::gil_scoped_release release;
      Advance();
    }
    py::tuple t = py::make_tuple(std::get<0>(hits_.front()), std::get<1>(hits_.front()),
                                 std::get<1>(hits_.front()) + W_, std::get<2>(hits_.front()),
                                 std::get<3>(hits_.front()));
    hits_.pop_front();
    return t;
  }

 private:
  static constexpr size_t kPiece = size_t{1} << 20;
  // Reads and scores the next piece (or record), collecting its hits.
  void Advance() {
    if (!in_record_) {
      if (in_ != nullptr) {
        if (!in_->NextRecord(name_)) {
          done_ = true;
          return;
        }
        if (name_.empty()) {
          throw VarnikError(
              kUnspecifiedError,
              path_ + ": line " + std::to_string(in_->header_line()) + ": a record without a name");
        }
      } else {
        if (sequence_done_) {
          done_ = true;
          return;
        }
        name_ = "sequence";
      }
      in_record_ = true;
      letters_.clear();
      base_ = 0;
    }
    bool more;
    const size_t old = letters_.size();
    if (in_ != nullptr) {
      letters_.resize(old + kPiece);
      const size_t got = in_->Read(&letters_[old], kPiece);
      letters_.resize(old + got);
      more = got == kPiece;
    } else {
      letters_ += sequence_;
      sequence_done_ = true;
      more = false;
    }
    pieces_->Score(letters_, plus_, minus_);
    const int count = static_cast<int>(plus_.size());
    for (int p = 0; p < count; ++p) {
      if (plus_[p] > cutoff_) hits_.emplace_back(name_, base_ + p, "+", plus_[p]);
      if (both_ && minus_[p] > cutoff_) hits_.emplace_back(name_, base_ + p, "-", minus_[p]);
    }
    letters_.erase(0, static_cast<size_t>(count));
    base_ += count;
    if (!more) in_record_ = false;
  }

  std::shared_ptr<Model> model_;
  double cutoff_;
  bool both_ = true;
  std::string path_, sequence_;
  bool sequence_done_ = false;
  std::unique_ptr<FastaStream> in_;
  std::unique_ptr<PieceScanner> pieces_;
  int W_ = 0;
  bool in_record_ = false, done_ = false;
  std::string name_, letters_;
  long long base_ = 0;
  std::vector<float> plus_, minus_;
  std::deque<std::tuple<std::string, long long, std::string, float>> hits_;
};

py::object Figure(double x) { return std::isnan(x) ? py::none() : py::cast(x); }

py::dict Measures(const EvaluationResults& r) {
  py::dict d;
  d["error"] = r.error;
  d["sensitivity"] = r.sensitivity;
  d["specificity"] = r.specificity;
  d["precision"] = r.precision;
  d["G"] = r.G_measure;
  d["F"] = r.F_measure;
  d["TP"] = static_cast<long long>(r.TP);
  d["FN"] = static_cast<long long>(r.FN);
  d["TN"] = static_cast<long long>(r.TN);
  d["FP"] = static_cast<long long>(r.FP);
  return d;
}

// The windows of one class as the file prefix + suffix: a FASTA file's path
// is linked, a list written.
void PlaceWindows(const py::handle& windows, const std::string& path, const char* what) {
  if (IsPath(windows)) {
    const std::string source = fs::absolute(PathOf(windows)).string();
    if (!fs::exists(source)) {
      throw VarnikError(kCannotOpenFile, std::string(what) + ": " + source + " does not exist");
    }
    fs::create_symlink(source, path);
    return;
  }
  const std::string text = WindowsAsFasta(windows, what);
  OutputFile out;
  if (!out.Open(path)) throw VarnikError(kCannotOpenFile, "cannot write " + path);
  out.Write(text);
  out.Close();
}

std::string ValueText(const py::handle& v) {
  if (py::isinstance<py::bool_>(v)) return v.cast<bool>() ? "true" : "false";
  if (py::isinstance<py::float_>(v)) {
    return py::repr(v).cast<std::string>();
  }
  return py::str(v).cast<std::string>();
}

std::tuple<std::shared_ptr<Model>, py::dict> Train(const py::handle& positives,
                                                   const py::handle& negatives,
                                                   const py::dict& settings, const py::object& test,
                                                   std::optional<int> threads) {
  const int n = ThreadsOr(threads);
  TemporaryFolder dir;
  PlaceWindows(positives, dir / "tr_pos", "positives");
  PlaceWindows(negatives, dir / "tr_neg", "negatives");
  const bool tested = !test.is_none();
  if (tested) {
    const py::tuple pair = test.cast<py::tuple>();
    if (pair.size() != 2) {
      throw VarnikError(kUnspecifiedError, "test must be a pair (positives, negatives)");
    }
    PlaceWindows(pair[0], dir / "te_pos", "test positives");
    PlaceWindows(pair[1], dir / "te_neg", "test negatives");
  }
  std::string params;
  for (const auto& [key, value] : settings) {
    params += ParameterLine(py::str(key).cast<std::string>(), ValueText(value)) + "\n";
  }
  {
    OutputFile out;
    if (!out.Open(dir / "params")) throw VarnikError(kCannotOpenFile, "cannot write parameters");
    out.Write(params);
    out.Close();
  }
  const std::vector<std::string> args = {"varnik", dir / "tr_", tested ? dir / "te_" : "NIL",
                                         dir / "params", dir / "report"};
  TrainingOutcome outcome;
  std::string report;
  {
    py::gil_scoped_release release;
    try {
      outcome = TrainInProcess(args, n, dir / "model", 0);
    } catch (const VarnikError& e) {
      // Messages name what the caller gave, not the call's own files.
      std::string message = e.what();
      const std::vector<std::pair<std::string, std::string>> names = {
          {dir / "params", "settings"},       {dir / "tr_pos", "positives"},
          {dir / "tr_neg", "negatives"},      {dir / "te_pos", "test positives"},
          {dir / "te_neg", "test negatives"}, {dir / "", ""}};
      for (const auto& [from, to] : names) {
        for (size_t at; (at = message.find(from)) != std::string::npos;) {
          message.replace(at, from.size(), to);
        }
      }
      throw VarnikError(e.code(), message, e.raw() ? VarnikError::kRaw : VarnikError::kLine);
    }
    std::ifstream in(dir / "report", std::ios::binary);
    report.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::shared_ptr<Model> model = Model::Load(dir / "model", n);
  py::dict result;
  result["report"] = report;
  if (outcome.tested) {
    py::dict t = Measures(outcome.test);
    t["AUC"] = Figure(outcome.auc.auc);
    t["AUC_low"] = Figure(outcome.auc.low);
    t["AUC_high"] = Figure(outcome.auc.high);
    t["AP"] = Figure(outcome.ap);
    py::list roc;
    static const char* kColumns[9] = {"Error", "Sn",   "Sp",     "Sp(Bio)", "G",
                                      "F",     "Prec", "FPrate", "FNrate"};
    for (const RocRow& row : outcome.roc) {
      py::dict r;
      for (int c = 0; c < 9; ++c) r[kColumns[c]] = row[c];
      roc.append(r);
    }
    t["roc"] = roc;
    result["test"] = t;
  }
  if (outcome.training_evaluated) result["training"] = Measures(outcome.training);
  return {model, result};
}

}  // namespace
}  // namespace varnik

PYBIND11_MODULE(varnik, m) {
  using namespace varnik;
  m.doc() =
      "Recognisers of functional sites in DNA windows: load, score, scan and train models in "
      "process, with the results of the varnik command line.";
  error_type = PyErr_NewExceptionWithDoc(
      "varnik.Error",
      "A failure of varnik: `code` is the exit status the command line would give, `message` "
      "its message.",
      PyExc_RuntimeError, nullptr);
  m.add_object("Error", py::handle(error_type));
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const VarnikError& e) {
      const std::string line = e.raw() ? std::string(e.what()) : e.Line();
      py::object error = py::reinterpret_borrow<py::object>(error_type)(line);
      error.attr("code") = e.code();
      error.attr("message") = std::string(e.what());
      PyErr_SetObject(error_type, error.ptr());
    }
  });

  py::class_<Model, std::shared_ptr<Model>>(m, "Model",
                                            "A trained recogniser from a self-contained model "
                                            "file.")
      .def_static(
          "load", [](const py::object& path) { return Model::Load(PathOf(path), ThreadsOr({})); },
          py::arg("path"), "Reads a model file (plain or gzip-compressed).")
      .def(
          "save", [](const Model& self, const py::object& path) { self.Save(PathOf(path)); },
          py::arg("path"), "Writes the model file whole (gzip-compressed when path ends in .gz).")
      .def_property_readonly("method", &Model::method, "The recognition method's name.")
      .def_property_readonly("threshold", &Model::threshold, "Scores above it are calls of a site.")
      .def_property_readonly("window_length", &Model::window_length,
                             "Letters of the window scan slides (the window as training cut it).")
      .def_property_readonly("core", &Model::core,
                             "(position from 0, letter) pairs every training window held.")
      .def_property_readonly("settings", &Model::settings,
                             "The parameters the model was trained with, as parameters-file "
                             "keys and values.")
      .def("score", &Model::Score, py::arg("windows"), py::arg("threads") = py::none(),
           "The scores (float32) of windows: a list of str, or a numpy array of fixed-length "
           "byte strings, cut as training cut them (as `varnik score` does).")
      .def("call", &Model::Call, py::arg("windows"), py::arg("threads") = py::none(),
           "Whether each window's score is above the threshold (numpy bool).")
      .def(
          "scan",
          [](const std::shared_ptr<Model>& self, const py::object& source,
             const std::string& strands, bool candidates, std::optional<double> min_score,
             std::optional<int> threads) {
            return std::make_unique<Scan>(self, source, strands, candidates, min_score,
                                          ThreadsOr(threads));
          },
          py::arg("path_or_sequence"), py::arg("strands") = "both", py::arg("candidates") = true,
          py::arg("min_score") = py::none(), py::arg("threads") = py::none(),
          "Iterates over (name, start, end, strand, score) of the windows scoring above the "
          "threshold (or min_score), as `varnik scan` writes its BED lines: 0-based, end "
          "exclusive. With candidates only the windows holding the model's core (and only "
          "A, C, G, T) are scored. Reads a FASTA file (plain or gzip) a piece at a time, or "
          "takes the letters of one sequence (named \"sequence\").");
  py::class_<Scan>(m, "Scan", "The hits of a scan, in position order record by record.")
      .def("__iter__", [](Scan& s) -> Scan& { return s; })
      .def("__next__", &Scan::Next);
  m.def("train", &Train, py::arg("positives"), py::arg("negatives"), py::arg("settings"),
        py::arg("test") = py::none(), py::arg("threads") = py::none(),
        "Trains a recogniser as the command line does: windows as lists of str (or numpy byte "
        "strings) or FASTA paths, settings a dict of parameters-file keys, test None or a pair "
        "(positives, negatives). Returns (model, result): result holds the report's text "
        "(\"report\"), the test figures (\"test\": error, sensitivity, specificity, precision, "
        "G, F, the counts, AUC with AUC_low and AUC_high, AP and the ROC rows) when test is "
        "given, and the training figures (\"training\") when Evaluate_training_error asks "
        "for them.");
}
