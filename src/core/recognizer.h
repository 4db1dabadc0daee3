// A trained recogniser: it knows its method, its decision threshold, the
// settings it was trained with, and how to score a window by itself. Every
// method has its own type (recognizers/), and the ensembles and stacking hold
// recognisers of their own.
//
// Scoring is const and reads only the recogniser: several threads may score
// with one recogniser at once, each with its own scratch space (a Scorer, or
// a ScoreScratch from NewScratch).
#pragma once

#include <memory>
#include <string>

#include "core/model_text.h"
#include "core/settings.h"

namespace varnik {

// Working space of one scoring thread; each recogniser type that needs some
// derives its own.
class ScoreScratch {
 public:
  virtual ~ScoreScratch() = default;
};

class Recognizer {
 public:
  Recognizer(const Settings& settings, int method) : settings_(settings), method_(method) {}
  virtual ~Recognizer() = default;
  Recognizer(const Recognizer&) = delete;
  Recognizer& operator=(const Recognizer&) = delete;

  // The recognition method code (RecognitionMethod).
  int method() const { return method_; }
  // The settings as they were when it was trained (searched values included).
  const Settings& settings() const { return settings_; }

  // A window is called a site when its score is strictly greater.
  float threshold() const { return threshold_; }
  void set_threshold(float t) { threshold_ = t; }

  // The window length of the windows as read (before a mask), as the saved
  // model records it.
  int length() const { return length_; }
  void set_length(int L) { length_ = L; }

  // The score of a window of L letters, larger meaning closer to a site.
  // offset is where the reading frame starts, for the methods that read one.
  // scratch is null or comes from this recogniser's NewScratch.
  virtual float Score(const char* window, int L, int offset, ScoreScratch* scratch) const = 0;
  // The scores of n windows into out, as Score gives them one by one (a
  // method may take them together, faster).
  virtual void ScoreMany(const char* const* windows, int n, int L, int offset, float* out,
                         ScoreScratch* scratch) const {
    for (int i = 0; i < n; ++i) out[i] = Score(windows[i], L, offset, scratch);
  }
  // Scratch space for Score; null when the method needs none.
  virtual std::unique_ptr<ScoreScratch> NewScratch() const { return nullptr; }

  // Writes the recogniser to its model file(s) at path (written whole, each
  // replacing an earlier file only when complete). Methods that cannot be
  // saved end the run with "Not yet implemented".
  virtual void Save(const std::string& path) const;
  // The method's own part of a self-contained model file, which the
  // registry's reader of the method takes back. Methods that cannot be
  // saved end the run with "Not yet implemented".
  virtual void WritePayload(ModelWriter& w) const;

  // Score with scratch space of its own (convenient, not the fastest).
  float Score(const char* window, int L, int offset = 0) const {
    const std::unique_ptr<ScoreScratch> scratch = NewScratch();
    return Score(window, L, offset, scratch.get());
  }

 private:
  const Settings settings_;
  const int method_;
  float threshold_ = 0.0f;
  int length_ = 0;
};

// Reads a recogniser's payload back (its settings and the window length it
// scores are known from the file around it).
using PayloadReader = std::unique_ptr<Recognizer> (*)(ModelReader& r, const Settings& settings,
                                                      int L);

// A trained recogniser of rows of real numbers (window scores, encoded
// windows): the second level of stacking and the learners of feature
// selection. Scoring is const, as for windows.
class RowRecognizer {
 public:
  RowRecognizer(const Settings& settings, int method, int dim)
      : settings_(settings), method_(method), dim_(dim) {}
  virtual ~RowRecognizer() = default;
  RowRecognizer(const RowRecognizer&) = delete;
  RowRecognizer& operator=(const RowRecognizer&) = delete;

  int method() const { return method_; }
  const Settings& settings() const { return settings_; }
  // Numbers per row.
  int dim() const { return dim_; }
  float threshold() const { return threshold_; }
  void set_threshold(float t) { threshold_ = t; }

  virtual float Score(const float* row, ScoreScratch* scratch) const = 0;
  virtual std::unique_ptr<ScoreScratch> NewScratch() const { return nullptr; }
  // Its part of a model file (see Recognizer::WritePayload).
  virtual void WritePayload(ModelWriter& w) const = 0;
  float Score(const float* row) const {
    const std::unique_ptr<ScoreScratch> scratch = NewScratch();
    return Score(row, scratch.get());
  }

 private:
  const Settings settings_;
  const int method_;
  const int dim_;
  float threshold_ = 0.0f;
};

// A recogniser with scratch space: one per scoring thread.
class Scorer {
 public:
  explicit Scorer(const Recognizer& R) : R_(R), scratch_(R.NewScratch()) {}
  float operator()(const char* window, int L, int offset = 0) {
    return R_.Score(window, L, offset, scratch_.get());
  }
  // 1 when the window is called a site (a NaN score is not).
  int Classify(const char* window, int L, int offset = 0) {
    return (*this)(window, L, offset) > R_.threshold() ? 1 : 0;
  }

 private:
  const Recognizer& R_;
  std::unique_ptr<ScoreScratch> scratch_;
};

}  // namespace varnik
