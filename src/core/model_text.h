// The text of a model file: lines of a word followed by numbers or words,
// written so that every number reads back to the same value (the fewest
// digits that do, at most nine for single precision), and read with every
// count bounded by what the rest of the text can hold before anything is
// allocated. A fault ends the run naming the file, the line and the value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varnik {

class ModelWriter {
 public:
  // "word" and then each value, space-separated, ending the line.
  void Line(const std::string& word, const std::vector<std::string>& values = {});
  // A line of numbers (may be long).
  void Floats(const std::string& word, const float* v, size_t n) { Numbers(word, v, n); }
  void Ints(const std::string& word, const int* v, size_t n) { Numbers(word, v, n); }
  // A line as it stands (must hold no line end).
  void Raw(const std::string& line);
  const std::string& text() const { return text_; }

  static std::string Of(int v);
  static std::string Of(float v);

 private:
  template <typename T>
  void Numbers(const std::string& word, const T* v, size_t n) {
    text_ += word;
    for (size_t i = 0; i < n; ++i) {
      text_ += ' ';
      text_ += Of(v[i]);
    }
    text_ += '\n';
  }
  std::string text_;
};

class ModelReader {
 public:
  // path names the file in messages; first_line is the number of text's
  // first line in the file.
  ModelReader(std::string text, std::string path, long long first_line = 1);

  bool AtEnd() const { return at_ >= text_.size(); }
  // The next line, whole (without its line end); fails at the end.
  std::string_view NextLine();
  // The next line, which must start with word: its fields after the word.
  std::vector<std::string_view> Expect(const std::string& word);
  // The next line must be word and n more fields; else the run ends with
  // "\"word\" takes <takes>".
  std::vector<std::string_view> Expect(const std::string& word, size_t n, const char* takes);
  // The next line must be "word n" and n items of per_item fields each, with
  // n <= max: the items' fields.
  std::vector<std::string_view> ExpectList(const std::string& word, long long max, size_t per_item);
  // The next line must be "word n" with min <= n <= max.
  long long ExpectCount(const std::string& word, long long min, long long max);
  // Whether the next line starts with word (without taking it).
  bool NextIs(const std::string& word) const;

  // Field parsers: whole numbers in [min, max]; finite numbers.
  long long Whole(std::string_view field, long long min, long long max) const;
  float Single(std::string_view field) const;
  // "word" followed by exactly n numbers.
  std::vector<float> Floats(const std::string& word, size_t n);
  std::vector<int> Ints(const std::string& word, size_t n, long long min, long long max);

  // Bytes not yet read: a count of items of at least item_bytes each that
  // could not fit in them is refused before anything is allocated.
  size_t Left() const { return text_.size() - at_; }
  void RefuseCount(long long n, size_t item_bytes, const std::string& what) const;
  // Lines left, counted on demand.
  size_t LinesLeft() const;

  // Ends the run: "<path>:<line>: <message>".
  [[noreturn]] void Fail(const std::string& message) const;
  const std::string& path() const { return path_; }
  long long line() const { return line_; }

 private:
  std::vector<std::string_view> Fields(std::string_view line) const;
  // The fields of the next line, which must be word and exactly n more.
  std::vector<std::string_view> ExpectFields(const std::string& word, size_t n);
  std::string text_;
  std::string path_;
  size_t at_ = 0;
  long long line_ = 0;  // of the line last read
};

}  // namespace varnik
