#include "driver/model_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "core/error.h"
#include "core/model_text.h"
#include "core/output_file.h"
#include "driver/parameters.h"
#include "driver/run.h"
#include "learners/methods.h"
#include "sequence/fasta_stream.h"

namespace varnik {

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Gzipped(const std::string& text, const std::string& path) {
  // One call of deflate takes at most 4 GiB.
  z_stream z{};
  if (text.size() > 0xffffffffu ||
      deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    OnErrorExit(kUnspecifiedError, "Cannot compress model file " + path);
  }
  std::string out(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  const size_t written = out.size() - z.avail_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END) {
    OnErrorExit(kUnspecifiedError, "Cannot compress model file " + path);
  }
  out.resize(written);
  return out;
}

std::vector<std::string> WithCount(int n, const std::vector<int>& values) {
  std::vector<std::string> v = {ModelWriter::Of(n)};
  for (int x : values) v.push_back(ModelWriter::Of(x));
  return v;
}

// The file's text, whole (decompressed when it is compressed).
std::string ReadWhole(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    Diagnose("cannot open model file " + path + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, "Cannot open model file " + path);
  }
  // A compressed file can expand without end: the text is bounded first.
  constexpr size_t kLargest = size_t{4} << 30;
  std::string text;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);  // of a plain file, what the text takes
    if (size > 0) text.reserve(std::min(static_cast<size_t>(size), kLargest));
  }
  std::fclose(f);
  ByteStream in(path);
  for (std::string_view block = in.Next(); !block.empty(); block = in.Next()) {
    if (text.size() + block.size() > kLargest) {
      OnErrorExit(kUnspecifiedError, path + ": the model's text is larger than 4 GiB");
    }
    text.append(block);
  }
  return text;
}

int Flag(ModelReader& r, const std::string& word) {
  return static_cast<int>(r.ExpectCount(word, 0, 1));
}

}  // namespace

std::string ModelFileText(const Recognizer& R, const ModelWindow& window, int positives,
                          int negatives) {
  ModelWriter w;
  w.Line(kModelFormatName, {ModelWriter::Of(kModelFormatVersion), kVersion});
  w.Line("method", {MethodName(R.method())});
  w.Line("threshold", {ModelWriter::Of(R.threshold())});
  w.Line("record_length", {ModelWriter::Of(window.record_length)});
  w.Line("offset", {ModelWriter::Of(window.offset)});
  w.Line("sequence_length", {ModelWriter::Of(window.sequence_length)});
  w.Line("protein", {ModelWriter::Of(window.protein ? 1 : 0)});
  w.Line("read_length", {ModelWriter::Of(window.read_length)});
  w.Line("mask", WithCount(static_cast<int>(window.mask.size()), window.mask));
  w.Line("kept", WithCount(static_cast<int>(window.kept.size()), window.kept));
  w.Line("window_length", {ModelWriter::Of(window.length)});
  std::vector<std::string> core = {ModelWriter::Of(static_cast<int>(window.core.size()))};
  for (const auto& [position, letter] : window.core) {
    core.push_back(ModelWriter::Of(position));
    core.push_back(std::string(1, letter));
  }
  w.Line("core", core);
  w.Line("training", {ModelWriter::Of(positives), ModelWriter::Of(negatives)});
  const std::vector<std::string> settings = SettingsAsLines(R.settings());
  w.Line("settings", {ModelWriter::Of(static_cast<int>(settings.size()))});
  for (const std::string& line : settings) w.Raw(line);
  w.Line("payload");
  R.WritePayload(w);
  w.Line("end");
  return w.text();
}

void WriteModelFile(const std::string& path, const Recognizer& R, const ModelWindow& window,
                    int positives, int negatives) {
  const std::string text = ModelFileText(R, window, positives, negatives);
  OutputFile f;
  if (!f.Open(path)) {
    Diagnose("cannot create model file " + path + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, "Unable to open model file " + path + " for writing");
  }
  f.Write(EndsWith(path, ".gz") ? Gzipped(text, path) : text);
  f.Close();
}

bool IsModelFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  ByteStream in(path);
  const std::string_view first = in.Next();
  const std::string name = kModelFormatName;
  return first.substr(0, name.size() + 1) == name + " ";
}

SelfContainedModel ReadModelFile(const std::string& path) {
  return ParseModelFile(ReadWhole(path), path);
}

SelfContainedModel ParseModelFile(std::string text, const std::string& path) {
  ModelReader r(std::move(text), path);
  const std::vector<std::string_view> head = r.Expect(kModelFormatName);
  if (head.empty()) r.Fail("the format line names no version");
  const long long version = r.Whole(head[0], 0, 1LL << 40);
  if (version != kModelFormatVersion) {
    r.Fail("format version " + std::to_string(version) + " is not one this varnik reads (" +
           std::to_string(kModelFormatVersion) + ")");
  }
  SelfContainedModel m;
  const std::vector<std::string_view> method = r.Expect("method");
  const int code = method.size() == 1 ? MethodOfName(std::string(method[0])) : -1;
  if (code < 0) {
    r.Fail("unknown method \"" + (method.empty() ? std::string() : std::string(method[0])) + "\"");
  }
  const float t = r.Single(r.Expect("threshold", 1, "one number")[0]);
  constexpr long long kLetters = 1 << 28;
  ModelWindow& w = m.window;
  w.record_length = static_cast<int>(r.ExpectCount("record_length", 0, kLetters));
  w.offset = static_cast<int>(r.ExpectCount("offset", 0, kLetters));
  w.sequence_length = static_cast<int>(r.ExpectCount("sequence_length", 0, kLetters));
  w.protein = Flag(r, "protein") != 0;
  w.read_length = static_cast<int>(r.ExpectCount("read_length", 1, kLetters));
  const std::vector<std::string_view> mask = r.ExpectList("mask", kLetters, 1);
  if (!mask.empty() && static_cast<long long>(mask.size()) != w.read_length) {
    r.Fail("the mask has " + std::to_string(mask.size()) + " flags, the window " +
           std::to_string(w.read_length) + " letters");
  }
  int masked = mask.empty() ? w.read_length : 0;
  for (std::string_view flag : mask) {
    w.mask.push_back(static_cast<int>(r.Whole(flag, 0, 1)));
    masked += w.mask.back();
  }
  const std::vector<std::string_view> kept = r.ExpectList("kept", masked, 1);
  const long long n_kept = static_cast<long long>(kept.size());
  std::vector<char> seen(static_cast<size_t>(masked), 0);
  for (std::string_view field : kept) {
    const int p = static_cast<int>(r.Whole(field, 0, masked - 1));
    if (seen[p]++) r.Fail("position " + std::to_string(p) + " is kept twice");
    w.kept.push_back(p);
  }
  w.length = static_cast<int>(r.ExpectCount("window_length", 1, kLetters));
  const int expected = n_kept > 0 ? static_cast<int>(n_kept) : masked;
  if (w.length != expected) {
    r.Fail("the window length " + std::to_string(w.length) + " is not the " +
           std::to_string(expected) + " letters the cut leaves");
  }
  const std::vector<std::string_view> core = r.ExpectList("core", w.protein ? 0 : w.read_length, 2);
  for (size_t i = 0; i < core.size(); i += 2) {
    const int p = static_cast<int>(r.Whole(core[i], 0, w.read_length - 1));
    const std::string_view letter = core[i + 1];
    if (letter.size() != 1 || std::string_view("ACGT").find(letter[0]) == std::string_view::npos) {
      r.Fail("a core letter must be one of A, C, G, T, not \"" + std::string(letter) + "\"");
    }
    if (!w.core.empty() && p <= w.core.back().first) r.Fail("core positions must ascend");
    w.core.emplace_back(p, letter[0]);
  }
  if (w.protein && w.sequence_length != 0 && w.sequence_length / 3 != w.read_length) {
    r.Fail("translated windows of " + std::to_string(w.sequence_length) + " letters do not give " +
           std::to_string(w.read_length));
  }
  if (!w.protein && w.sequence_length != 0 && w.sequence_length != w.read_length) {
    r.Fail("the cut of " + std::to_string(w.sequence_length) + " letters is not the " +
           std::to_string(w.read_length) + " read");
  }
  const std::vector<std::string_view> training = r.Expect("training", 2, "the two counts");
  m.training_positives = static_cast<int>(r.Whole(training[0], 0, 1LL << 31));
  m.training_negatives = static_cast<int>(r.Whole(training[1], 0, 1LL << 31));
  const long long n_settings = r.ExpectCount("settings", 0, 1000);
  std::string lines;
  for (long long i = 0; i < n_settings; ++i) {
    lines.append(r.NextLine());
    lines += '\n';
  }
  m.settings = SettingsAsWritten(ParameterFile::FromText(lines));
  m.settings.R_method = code;
  m.settings.Stacking = code == kStackingMethod;
  r.Expect("payload");
  const Method& entry = MethodOfCode(code);
  m.recognizer = entry.read(r, m.settings, w.length);
  m.recognizer->set_threshold(t);
  m.recognizer->set_length(w.read_length);
  r.Expect("end");
  while (!r.AtEnd()) {
    if (!r.NextLine().empty()) r.Fail("text after \"end\"");
  }
  return m;
}

}  // namespace varnik
