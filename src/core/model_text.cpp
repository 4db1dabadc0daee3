#include "core/model_text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/error.h"

namespace varnik {

namespace {

std::string Quoted(std::string_view field) {
  constexpr size_t kShown = 40;
  std::string s(field.substr(0, kShown));
  if (field.size() > kShown) s += "...";
  return "\"" + s + "\"";
}

}  // namespace

std::string ModelWriter::Of(int v) { return std::to_string(v); }

// The fewest significant digits that read back to the same value (nine
// always do for single precision).
std::string ModelWriter::Of(float v) {
  char buf[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v));
    if (std::strtof(buf, nullptr) == v || v != v) break;
  }
  return buf;
}

void ModelWriter::Line(const std::string& word, const std::vector<std::string>& values) {
  text_ += word;
  for (const std::string& v : values) {
    text_ += ' ';
    text_ += v;
  }
  text_ += '\n';
}

void ModelWriter::Raw(const std::string& line) {
  text_ += line;
  text_ += '\n';
}

ModelReader::ModelReader(std::string text, std::string path, long long first_line)
    : text_(std::move(text)), path_(std::move(path)), line_(first_line - 1) {}

void ModelReader::Fail(const std::string& message) const {
  OnErrorExit(kUnspecifiedError, path_ + ":" + std::to_string(line_) + ": " + message);
}

std::string_view ModelReader::NextLine() {
  if (AtEnd()) {
    ++line_;
    Fail("the file ends too early");
  }
  size_t end = text_.find('\n', at_);
  if (end == std::string::npos) end = text_.size();
  std::string_view line(text_.data() + at_, end - at_);
  at_ = end < text_.size() ? end + 1 : end;
  ++line_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool ModelReader::NextIs(const std::string& word) const {
  if (AtEnd()) return false;
  const std::string_view rest(text_.data() + at_, text_.size() - at_);
  return rest.substr(0, word.size()) == word &&
         (rest.size() == word.size() || rest[word.size()] == ' ' || rest[word.size()] == '\n' ||
          rest[word.size()] == '\r');
}

std::vector<std::string_view> ModelReader::Fields(std::string_view line) const {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

std::vector<std::string_view> ModelReader::Expect(const std::string& word) {
  const std::string_view line = NextLine();
  std::vector<std::string_view> fields = Fields(line);
  if (fields.empty() || fields[0] != word) {
    Fail("expected \"" + word + "\", not " + Quoted(line));
  }
  fields.erase(fields.begin());
  return fields;
}

std::vector<std::string_view> ModelReader::Expect(const std::string& word, size_t n,
                                                  const char* takes) {
  std::vector<std::string_view> f = Expect(word);
  if (f.size() != n) Fail("\"" + word + "\" takes " + takes);
  return f;
}

std::vector<std::string_view> ModelReader::ExpectList(const std::string& word, long long max,
                                                      size_t per_item) {
  std::vector<std::string_view> f = Expect(word);
  if (f.empty()) Fail("\"" + word + "\" takes a count");
  const long long n = Whole(f[0], 0, max);
  if (f.size() != static_cast<size_t>(n) * per_item + 1) {
    Fail("\"" + word + "\" holds " + std::to_string(f.size() - 1) + " values, not the " +
         std::to_string(static_cast<size_t>(n) * per_item) + " its count gives");
  }
  f.erase(f.begin());
  return f;
}

long long ModelReader::ExpectCount(const std::string& word, long long min, long long max) {
  return Whole(Expect(word, 1, "one number")[0], min, max);
}

long long ModelReader::Whole(std::string_view field, long long min, long long max) const {
  const std::string s(field);
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno == ERANGE) Fail("not a whole number: " + Quoted(field));
  if (v < min || v > max) {
    Fail("the value " + s + " is outside " + std::to_string(min) + " .. " + std::to_string(max));
  }
  return v;
}

float ModelReader::Single(std::string_view field) const {
  const std::string s(field);
  char* end = nullptr;
  const float v = std::strtof(s.c_str(), &end);
  if (s.empty() || *end != '\0') Fail("not a number: " + Quoted(field));
  if (!std::isfinite(v)) Fail("not a finite number: " + Quoted(field));
  return v;
}

std::vector<std::string_view> ModelReader::ExpectFields(const std::string& word, size_t n) {
  RefuseCount(static_cast<long long>(n), 2, word);
  std::vector<std::string_view> f = Expect(word);
  if (f.size() != n) {
    Fail("\"" + word + "\" holds " + std::to_string(f.size()) + " numbers, not " +
         std::to_string(n));
  }
  return f;
}

std::vector<float> ModelReader::Floats(const std::string& word, size_t n) {
  const std::vector<std::string_view> f = ExpectFields(word, n);
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = Single(f[i]);
  return v;
}

std::vector<int> ModelReader::Ints(const std::string& word, size_t n, long long min,
                                   long long max) {
  const std::vector<std::string_view> f = ExpectFields(word, n);
  std::vector<int> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<int>(Whole(f[i], min, max));
  return v;
}

void ModelReader::RefuseCount(long long n, size_t item_bytes, const std::string& what) const {
  if (n < 0 || static_cast<unsigned long long>(n) > Left() / std::max<size_t>(item_bytes, 1)) {
    Fail("the count " + std::to_string(n) + " of " + what + " is more than the rest of the " +
         "file can hold");
  }
}

size_t ModelReader::LinesLeft() const {
  size_t n = 0;
  for (size_t i = at_; i < text_.size(); ++i) n += text_[i] == '\n';
  if (!AtEnd() && text_.back() != '\n') ++n;
  return n;
}

}  // namespace varnik
