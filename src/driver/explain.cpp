#include "driver/explain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "core/error.h"
#include "core/output_file.h"
#include "driver/curves.h"
#include "driver/file_roles.h"
#include "driver/model_file.h"
#include "driver/score.h"
#include "learners/methods.h"
#include "recognizers/pwm.h"
#include "recognizers/svm_recognizer.h"

namespace varnik {

namespace {

bool ByWeight(const WdKmer& a, const WdKmer& b) {
  const double x = std::fabs(a.weight), y = std::fabs(b.weight);
  if (x != y) return x > y;
  if (a.start != b.start) return a.start < b.start;
  return a.kmer < b.kmer;
}

}  // namespace

WdExplanation ExplainWeightedDegree(const svm_model& model, size_t top) {
  const std::vector<std::string>& sv = model.sv_letters;
  const int l = model.l;
  const int n = l > 0 ? static_cast<int>(sv[0].size()) : 0;
  const int d = model.param.degree;
  const int cap = std::max(0, std::min(d, n));
  const std::vector<double>& coef = model.sv_coef[0];
  // The kernel's normaliser: what two equal windows sum to.
  double norm = 0;
  for (int k = 1; k <= cap; ++k) norm += static_cast<double>(d - k + 1) * (n - k + 1);
  // Letters the support vectors use: a k-mer none holds weighs 0, and there
  // is one unless every one of the letters^k k-mers is held.
  bool seen[256] = {};
  for (const std::string& s : sv) {
    for (char c : s) seen[static_cast<unsigned char>(c)] = true;
  }
  const double letters = static_cast<double>(std::count(seen, seen + 256, true));

  WdExplanation out;
  out.importance.assign(static_cast<size_t>(n), 0.0);
  out.strongest.resize(static_cast<size_t>(n));
  std::vector<WdKmer> top_list;
  std::vector<int> order(static_cast<size_t>(l)), lcp(static_cast<size_t>(l));
  for (int start = 0; start < n; ++start) {
    const int longest = std::min(cap, n - start);
    // The vectors sorted by their letters from start on: the holders of each
    // k-mer are then one run, and the runs of k + 1 split those of k.
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
      const int c = std::memcmp(sv[a].data() + start, sv[b].data() + start, longest);
      return c != 0 ? c < 0 : a < b;
    });
    for (int j = 1; j < l; ++j) {
      const char* a = sv[order[j - 1]].data() + start;
      const char* b = sv[order[j]].data() + start;
      int m = 0;
      while (m < longest && a[m] == b[m]) ++m;
      lcp[j] = m;
    }
    WdKmer& best = out.strongest[start];
    best.start = start;
    for (int k = 1; k <= longest; ++k) {
      const double beta = static_cast<double>(d - k + 1) / norm;
      double high = -INFINITY, low = INFINITY, sum = 0;
      long long groups = 0;
      for (int j = 0; j < l; ++j) {
        sum += coef[order[j]];
        if (j + 1 < l && lcp[j + 1] >= k) continue;
        const double w = beta * sum;
        high = std::max(high, w);
        low = std::min(low, w);
        ++groups;
        const WdKmer kmer{start, sv[order[j]].substr(static_cast<size_t>(start), k), w};
        if (best.kmer.empty() || ByWeight(kmer, best)) best = kmer;
        if (top_list.size() < top || (!top_list.empty() && ByWeight(kmer, top_list.front()))) {
          top_list.push_back(kmer);
          std::push_heap(top_list.begin(), top_list.end(), ByWeight);
          if (top_list.size() > top) {
            std::pop_heap(top_list.begin(), top_list.end(), ByWeight);
            top_list.pop_back();
          }
        }
        sum = 0;
      }
      if (groups == 0) continue;
      if (static_cast<double>(groups) < std::pow(letters, k)) {
        high = std::max(high, 0.0);
        low = std::min(low, 0.0);
      }
      for (int p = start; p < start + k; ++p) out.importance[p] += (high - low) / k;
    }
  }
  std::sort(top_list.begin(), top_list.end(), ByWeight);
  out.top = std::move(top_list);
  return out;
}

std::vector<std::array<double, 4>> LinearLetterWeights(const svm_model& model, int length) {
  std::vector<std::array<double, 4>> w(static_cast<size_t>(std::max(length, 0)),
                                       std::array<double, 4>{});
  // One-hot index 4p + code, the codes A 1, T 2, G 3, C 4; columns A C G T.
  constexpr int kColumn[5] = {-1, 0, 3, 2, 1};
  for (int i = 0; i < model.l; ++i) {
    for (const svm_node* x = model.SV[i]; x->index != -1; ++x) {
      const int p = (x->index - 1) / 4, code = x->index - 4 * p;
      if (x->index >= 1 && p < length) w[p][kColumn[code]] += model.sv_coef[0][i] * x->value;
    }
  }
  return w;
}

std::vector<std::array<double, 4>> PwmProbabilities(const PwmRecognizer& R, int positives) {
  const size_t L = R.M[0].size();
  // The matrix holds log2(p / bg) with p = (count + 1) / (positives + 5)
  // among the positives and bg the class's share of all training letters.
  // The other letters' class counts none at some position (p = 1 / (positives
  // + 5) there, its largest weight), which gives its bg; the four bases' bg
  // then make p sum to 1 at every position: the normal equations of those L
  // equations.
  constexpr int kClass[4] = {1, 4, 3, 2};  // A C G T in the matrix's rows
  double e0 = INFINITY;
  for (size_t j = 0; j < L; ++j) e0 = std::min(e0, std::exp2(static_cast<double>(R.M[0][j])));
  const double bg0 = 1 / ((positives + 5.0) * e0);
  double A[4][5] = {};
  for (size_t j = 0; j < L; ++j) {
    double e[4];
    for (int c = 0; c < 4; ++c) e[c] = std::exp2(static_cast<double>(R.M[kClass[c]][j]));
    const double target = 1 - bg0 * std::exp2(static_cast<double>(R.M[0][j]));
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) A[r][c] += e[r] * e[c];
      A[r][4] += e[r] * target;
    }
  }
  bool solved = L >= 4 && positives > 0;
  for (int c = 0; c < 4 && solved; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 4; ++r) {
      if (std::fabs(A[r][c]) > std::fabs(A[pivot][c])) pivot = r;
    }
    solved = std::fabs(A[pivot][c]) > 1e-12 * std::fabs(A[0][0]);
    if (!solved) break;
    for (int k = 0; k < 5; ++k) std::swap(A[c][k], A[pivot][k]);
    for (int r = 0; r < 4; ++r) {
      if (r == c) continue;
      const double f = A[r][c] / A[c][c];
      for (int k = c; k < 5; ++k) A[r][k] -= f * A[c][k];
    }
  }
  double bg[4];
  for (int c = 0; c < 4; ++c) {
    bg[c] = solved ? A[c][4] / A[c][c] : 0.25;
    solved = solved && bg[c] > 0;
  }
  // Too few positions to tell the shares apart: an even background.
  if (!solved) std::fill(bg, bg + 4, 0.25);
  std::vector<std::array<double, 4>> p(L);
  for (size_t j = 0; j < L; ++j) {
    double total = 0;
    for (int c = 0; c < 4; ++c) {
      p[j][c] = bg[c] * std::exp2(static_cast<double>(R.M[kClass[c]][j]));
      total += p[j][c];
    }
    for (double& v : p[j]) v /= total;
  }
  return p;
}

namespace {

// The 1-based position in the cut window of every scored position.
std::vector<int> CutPositions(const ModelWindow& w, int length) {
  std::vector<int> masked;
  for (int p = 0; p < w.read_length; ++p) {
    if (w.mask.empty() || w.mask[p] != 0) masked.push_back(p + 1);
  }
  std::vector<int> out;
  for (int i = 0; i < length; ++i) {
    const int m = w.kept.empty() ? i : w.kept[i];
    out.push_back(m < static_cast<int>(masked.size()) ? masked[m] : m + 1);
  }
  return out;
}

// Positions sorted by importance, the most important first.
std::vector<int> ImportanceOrder(const std::vector<double>& importance) {
  std::vector<int> order(importance.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return importance[a] > importance[b]; });
  return order;
}

constexpr const char* kLetters = "ACGT";
constexpr const char* kLetterColour[4] = {"#2a9d3a", "#1f5fbf", "#e69500", "#d62728"};

// The frame of a picture of one column per position: columns of width col
// from x0, a value axis from y_low (value low) up to y_high (value high).
struct Columns {
  int n = 0;
  double col = 10, x0 = 70;
  double y_top = 0, height = 200;  // the value axis' pixels
  double low = 0, high = 1;
  double X(int p) const { return x0 + col * p; }
  double Y(double v) const { return y_top + height * (high - v) / (high - low); }
  double width() const { return x0 + col * n + 30; }
};

Columns ColumnsFor(int n) {
  Columns c;
  c.n = n;
  c.col = std::clamp(720.0 / std::max(n, 1), 6.0, 24.0);
  return c;
}

void WritePictureHead(OutputFile& svg, double width, double height, const std::string& title) {
  svg.Printf(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
      "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n",
      width, height, width, height, width, height);
  svg.Printf("<text x=\"%.1f\" y=\"20\" text-anchor=\"middle\" font-size=\"13\">%s</text>\n",
             width / 2, XmlEscaped(title).c_str());
}

// Axes: the value axis with ticks at low, 0 (when inside) and high, and the
// positions below every fifth (or tenth) column.
void WriteAxes(OutputFile& svg, const Columns& c, const std::vector<int>& positions,
               const char* value_label) {
  const double bottom = c.y_top + c.height;
  svg.Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n", c.x0,
             c.y_top, c.x0, bottom);
  std::vector<double> ticks = {c.low, c.high};
  if (c.low < 0 && c.high > 0) ticks.push_back(0);
  for (double v : ticks) {
    svg.Printf(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#bbb\"/>\n"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.3g</text>\n",
        c.x0, c.Y(v), c.X(c.n), c.Y(v), c.x0 - 4, c.Y(v) + 4, v);
  }
  const int every = c.col >= 12 ? 5 : 10;
  for (int p = 0; p < c.n; ++p) {
    if (positions[p] % every != 0 && p != 0) continue;
    svg.Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" font-size=\"10\">%d</text>\n",
               c.X(p) + c.col / 2, bottom + 14, positions[p]);
  }
  svg.Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">position in the window</text>\n",
             c.X(c.n) / 2 + c.x0 / 2, bottom + 32);
  svg.Printf(
      "<text x=\"16\" y=\"%.1f\" text-anchor=\"middle\" transform=\"rotate(-90 16 "
      "%.1f)\">%s</text>\n",
      c.y_top + c.height / 2, c.y_top + c.height / 2, value_label);
}

// A letter filling the box from (x, top) of width w and height h.
void WriteGlyph(OutputFile& svg, char letter, double x, double top, double w, double h,
                const char* colour) {
  if (h < 0.05) return;
  // A bold monospace capital of size 100 is about 60 wide and 73 tall.
  svg.Printf(
      "<text transform=\"translate(%.2f %.2f) scale(%.4f %.4f)\" font-family=\"DejaVu Sans Mono, "
      "monospace\" font-weight=\"bold\" font-size=\"100\" fill=\"%s\">%c</text>\n",
      x, top + h, w / 60.2, h / 73.0, colour, letter);
}

// Letters stacked at every position: the positive heights up from 0, the
// largest on top, the negative ones down from 0, the largest at the bottom.
void WriteLogo(OutputFile& svg, const Columns& c, const std::vector<std::array<double, 4>>& h) {
  for (int p = 0; p < c.n; ++p) {
    std::array<int, 4> order = {0, 1, 2, 3};
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return std::fabs(h[p][a]) < std::fabs(h[p][b]); });
    double up = 0, down = 0;
    for (int letter : order) {
      const double v = h[p][letter];
      if (v > 0) {
        WriteGlyph(svg, kLetters[letter], c.X(p) + 0.5, c.Y(up + v), c.col - 1,
                   c.Y(up) - c.Y(up + v), kLetterColour[letter]);
        up += v;
      }
    }
    std::reverse(order.begin(), order.end());
    for (int letter : order) {
      const double v = h[p][letter];
      if (v < 0) {
        // Drawn from the zero line down, the smallest nearest to it.
        WriteGlyph(svg, kLetters[letter], c.X(p) + 0.5, c.Y(down), c.col - 1,
                   c.Y(down + v) - c.Y(down), kLetterColour[letter]);
        down += v;
      }
    }
  }
}

void ExplainWd(const svm_model& model, const std::vector<int>& positions, const std::string& title,
               OutputFile& tsv, OutputFile* svg) {
  constexpr size_t kTop = 50;
  const WdExplanation e = ExplainWeightedDegree(model, kTop);
  tsv.Printf("position\timportance\tstrongest_kmer\tkmer_weight\n");
  for (int p : ImportanceOrder(e.importance)) {
    tsv.Printf("%d\t%.6g\t%s\t%.6g\n", positions[p], e.importance[p], e.strongest[p].kmer.c_str(),
               e.strongest[p].weight);
  }
  tsv.Printf("start\tend\tkmer\tweight\n");
  for (const WdKmer& k : e.top) {
    tsv.Printf("%d\t%d\t%s\t%.6g\n", positions[k.start],
               positions[k.start + static_cast<int>(k.kmer.size()) - 1], k.kmer.c_str(), k.weight);
  }
  if (svg == nullptr) return;
  // Bars of importance; above them the strongest k-mers at their places,
  // green where they speak for a site, red against, rows packed greedily.
  Columns c = ColumnsFor(static_cast<int>(e.importance.size()));
  constexpr size_t kDrawn = 16;
  std::vector<std::vector<const WdKmer*>> rows;
  std::vector<int> row_end;
  for (size_t i = 0; i < std::min(kDrawn, e.top.size()); ++i) {
    const WdKmer& k = e.top[i];
    size_t r = 0;
    while (r < rows.size() && row_end[r] > k.start) ++r;
    if (r == rows.size()) {
      rows.emplace_back();
      row_end.push_back(0);
    }
    rows[r].push_back(&k);
    row_end[r] = k.start + static_cast<int>(k.kmer.size());
  }
  const double row_height = 16;
  c.y_top = 60 + row_height * static_cast<double>(rows.size());
  c.high = 1e-12;
  for (double v : e.importance) c.high = std::max(c.high, v);
  WritePictureHead(svg[0], c.width(), c.y_top + c.height + 50,
                   title + ": importance of each position and the strongest k-mers");
  const double strongest = e.top.empty() ? 1 : std::fabs(e.top[0].weight);
  for (size_t r = 0; r < rows.size(); ++r) {
    const double y = 40 + row_height * static_cast<double>(r);
    for (const WdKmer* k : rows[r]) {
      const double shade = 0.3 + 0.7 * std::fabs(k->weight) / strongest;
      svg->Printf(
          "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" "
          "fill-opacity=\"%.2f\"><title>%s at %d: %.4g</title></rect>\n",
          c.X(k->start), y, c.col * static_cast<double>(k->kmer.size()), row_height - 3,
          k->weight > 0 ? "#2a9d3a" : "#d62728", shade, XmlEscaped(k->kmer).c_str(),
          positions[k->start], k->weight);
      for (size_t j = 0; j < k->kmer.size(); ++j) {
        svg->Printf(
            "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" font-family=\"monospace\" "
            "font-size=\"%.0f\" fill=\"white\">%s</text>\n",
            c.X(k->start + static_cast<int>(j)) + c.col / 2, y + row_height - 6,
            std::min(12.0, c.col * 1.2), XmlEscaped(std::string(1, k->kmer[j])).c_str());
      }
    }
  }
  for (int p = 0; p < c.n; ++p) {
    svg->Printf(
        "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#1f5fbf\"><title>%d: "
        "%.4g</title></rect>\n",
        c.X(p) + 0.5, c.Y(e.importance[p]), c.col - 1, c.Y(0) - c.Y(e.importance[p]), positions[p],
        e.importance[p]);
  }
  WriteAxes(*svg, c, positions, "importance");
  svg->Printf("</svg>\n");
}

void ExplainLinear(const svm_model& model, int length, const std::vector<int>& positions,
                   const std::string& title, OutputFile& tsv, OutputFile* svg) {
  const std::vector<std::array<double, 4>> w = LinearLetterWeights(model, length);
  std::vector<double> importance;
  for (const auto& v : w) {
    importance.push_back(*std::max_element(v.begin(), v.end()) -
                         *std::min_element(v.begin(), v.end()));
  }
  tsv.Printf("position\timportance\tA\tC\tG\tT\n");
  for (int p : ImportanceOrder(importance)) {
    tsv.Printf("%d\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\n", positions[p], importance[p], w[p][0], w[p][1],
               w[p][2], w[p][3]);
  }
  if (svg == nullptr) return;
  Columns c = ColumnsFor(length);
  c.y_top = 40;
  double up = 1e-12, down = 1e-12;
  for (const auto& v : w) {
    double u = 0, d = 0;
    for (double x : v) (x > 0 ? u : d) += std::fabs(x);
    up = std::max(up, u);
    down = std::max(down, d);
  }
  c.high = up;
  c.low = -down;
  WritePictureHead(*svg, c.width(), c.y_top + c.height + 50,
                   title + ": the weight of each letter at each position");
  WriteLogo(*svg, c, w);
  WriteAxes(*svg, c, positions, "weight");
  svg->Printf("</svg>\n");
}

void ExplainPwm(const PwmRecognizer& R, int positives, const std::vector<int>& positions,
                const std::string& title, OutputFile& tsv, OutputFile* svg) {
  const std::vector<std::array<double, 4>> p = PwmProbabilities(R, positives);
  std::vector<double> information;
  std::vector<std::array<double, 4>> heights;
  for (const auto& q : p) {
    double entropy = 0;
    for (double v : q) entropy -= v > 0 ? v * std::log2(v) : 0;
    information.push_back(std::max(0.0, 2 - entropy));
    heights.push_back({q[0] * information.back(), q[1] * information.back(),
                       q[2] * information.back(), q[3] * information.back()});
  }
  constexpr int kClass[4] = {1, 4, 3, 2};
  tsv.Printf("position\tinformation\tA\tC\tG\tT\tweight_A\tweight_C\tweight_G\tweight_T\n");
  for (int j : ImportanceOrder(information)) {
    tsv.Printf("%d\t%.6g", positions[j], information[j]);
    for (double v : p[j]) tsv.Printf("\t%.6g", v);
    for (int c : kClass) tsv.Printf("\t%.6g", static_cast<double>(R.M[c][j]));
    tsv.Printf("\n");
  }
  if (svg == nullptr) return;
  Columns c = ColumnsFor(static_cast<int>(p.size()));
  c.y_top = 40;
  c.high = 2;
  WritePictureHead(*svg, c.width(), c.y_top + c.height + 50,
                   title + ": sequence logo of the positives");
  WriteLogo(*svg, c, heights);
  WriteAxes(*svg, c, positions, "information (bits)");
  svg->Printf("</svg>\n");
}

}  // namespace

int RunExplain(const std::vector<std::string>& args) {
  if (args.size() < 3 || args.size() > 4) {
    std::fprintf(stderr, "usage: varnik explain MODEL [OUTPUT]\n");
    return 1;
  }
  const std::string& model_path = args[2];
  const std::string output = args.size() == 4 && args[3] != "-" ? args[3] : "";
  if (!output.empty()) {
    RefuseClashingFiles({{output, "explanation table"}, {output + ".svg", "explanation picture"}},
                        {{model_path, "model file"}});
  } else {
    RefuseStandardOutputOver({{model_path, "model file"}});
  }
  if (!IsModelFile(model_path)) {
    OnErrorExit(kUnspecifiedError, "explain: " + model_path + " is not a varnik model file");
  }
  const SelfContainedModel m = ReadModelFile(model_path);
  const Recognizer& R = *m.recognizer;
  const int length = m.window.length;
  const std::vector<int> positions = CutPositions(m.window, length);
  const auto* svm = dynamic_cast<const SvmRecognizer*>(&R);
  const auto* pwm = dynamic_cast<const PwmRecognizer*>(&R);
  const int kernel = svm != nullptr ? svm->svm->param.kernel_type : -1;
  const bool two_class = svm != nullptr && svm->svm->nr_class == 2 && !svm->svm->sv_coef.empty();
  const bool wd_view =
      two_class && kernel == wd && static_cast<int>(svm->svm->sv_letters.size()) == svm->svm->l;
  const bool linear_view = two_class && kernel == linear;
  if (!wd_view && !linear_view && pwm == nullptr) {
    std::string what = MethodName(R.method());
    if (svm != nullptr) what += " (kernel " + std::to_string(kernel) + ")";
    OnErrorExit(kUnspecifiedError,
                "explain: " + what +
                    " models have no view per position; weighted-degree SVMs (kernel 5), linear "
                    "SVMs (kernel 0) and PWMs have");
  }
  const std::string title = (wd_view       ? "weighted-degree SVM "
                             : linear_view ? "linear SVM "
                                           : "PWM ") +
                            model_path;
  OutputFile tsv;
  OpenOutput(tsv, output, "explain: cannot write " + output);
  OutputFile picture;
  if (!output.empty())
    OpenOutput(picture, output + ".svg", "explain: cannot write " + output + ".svg");
  OutputFile* svg = output.empty() ? nullptr : &picture;
  if (wd_view) {
    ExplainWd(*svm->svm, positions, title, tsv, svg);
  } else if (linear_view) {
    ExplainLinear(*svm->svm, length, positions, title, tsv, svg);
  } else {
    ExplainPwm(*pwm, m.training_positives, positions, title, tsv, svg);
  }
  if (svg != nullptr) picture.Close();
  tsv.Close();
  return 0;
}

}  // namespace varnik
