#include "driver/curves.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/error.h"
#include "core/output_file.h"

namespace varnik {

std::vector<CurvePoint> CurvePoints(const std::vector<float>& sp, const std::vector<float>& sn) {
  std::vector<CurvePoint> points;
  size_t i = sp.size(), j = sn.size();  // windows from i (j) on score at least the current one
  while (i > 0 || j > 0) {
    const float v = i == 0 ? sn[j - 1] : j == 0 ? sp[i - 1] : std::max(sp[i - 1], sn[j - 1]);
    while (i > 0 && sp[i - 1] >= v) --i;
    while (j > 0 && sn[j - 1] >= v) --j;
    points.push_back(
        {v, static_cast<long long>(sp.size() - i), static_cast<long long>(sn.size() - j)});
  }
  return points;
}

Curves CurvesOf(const std::vector<float>& sp, const std::vector<float>& sn) {
  return {CurvePoints(sp, sn), static_cast<long long>(sp.size()),
          static_cast<long long>(sn.size())};
}

double AveragePrecision(const std::vector<float>& sp, const std::vector<float>& sn) {
  return AveragePrecision(CurvesOf(sp, sn));
}

double AveragePrecision(const Curves& curves) {
  if (curves.positives == 0 || curves.negatives == 0) return std::nan("");
  const double P = static_cast<double>(curves.positives);
  double ap = 0;
  long long last_tp = 0;
  for (const CurvePoint& c : curves.points) {
    if (c.TP == last_tp) continue;  // no recall added
    const double precision = static_cast<double>(c.TP) / static_cast<double>(c.TP + c.FP);
    ap += static_cast<double>(c.TP - last_tp) / P * precision;
    last_tp = c.TP;
  }
  return ap;
}

AucInterval DelongInterval(const std::vector<float>& sp, const std::vector<float>& sn) {
  AucInterval r;
  const size_t m = sp.size(), n = sn.size();
  if (m == 0 || n == 0) {
    r.auc = r.low = r.high = std::nan("");
    return r;
  }
  // Placement values: the share of the other class each window outranks,
  // ties counting half.
  std::vector<double> v10(m), v01(n);
  for (size_t i = 0; i < m; ++i) {
    const auto low = std::lower_bound(sn.begin(), sn.end(), sp[i]);
    const auto high = std::upper_bound(low, sn.end(), sp[i]);
    v10[i] = (static_cast<double>(low - sn.begin()) + 0.5 * static_cast<double>(high - low)) /
             static_cast<double>(n);
  }
  for (size_t j = 0; j < n; ++j) {
    const auto low = std::lower_bound(sp.begin(), sp.end(), sn[j]);
    const auto high = std::upper_bound(low, sp.end(), sn[j]);
    v01[j] = (static_cast<double>(sp.end() - high) + 0.5 * static_cast<double>(high - low)) /
             static_cast<double>(m);
  }
  double sum = 0;
  for (double v : v10) sum += v;
  r.auc = sum / static_cast<double>(m);
  if (m < 2 || n < 2) {
    r.low = r.high = std::nan("");
    return r;
  }
  auto variance = [&](const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += (x - r.auc) * (x - r.auc);
    return s / static_cast<double>(v.size() - 1);
  };
  const double se =
      std::sqrt(variance(v10) / static_cast<double>(m) + variance(v01) / static_cast<double>(n));
  constexpr double kZ = 1.959963984540054;  // the normal distribution's 97.5 % point
  r.low = std::max(0.0, r.auc - kZ * se);
  r.high = std::min(1.0, r.auc + kZ * se);
  return r;
}

std::string MeasuresText(const AucInterval& auc, double ap) {
  char text[160];
  std::string out;
  if (auc.auc == auc.auc) {
    std::snprintf(text, sizeof text, "AUC %.4f", auc.auc);
  } else {
    std::snprintf(text, sizeof text, "AUC undefined");
  }
  out = text;
  if (auc.defined()) {
    std::snprintf(text, sizeof text, " (95%% CI %.4f to %.4f)", auc.low, auc.high);
  } else {
    std::snprintf(text, sizeof text, " (95%% CI undefined)");
  }
  out += text;
  if (ap == ap) {
    std::snprintf(text, sizeof text, ", AP %.4f", ap);
  } else {
    std::snprintf(text, sizeof text, ", AP undefined");
  }
  return out + text;
}

namespace {

void OpenOrFail(OutputFile& file, const std::string& path, const char* message) {
  if (!file.Open(path)) {
    Diagnose("cannot create " + path + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, message);
  }
}

// The frame of a 400 x 400 plot from (70, 40) with both axes from 0 to 1.
struct Plot {
  static constexpr double x0 = 70, y0 = 440, side = 400;
  static double X(double v) { return x0 + side * v; }
  static double Y(double v) { return y0 - side * v; }
};

void WriteFrame(OutputFile& svg, const std::string& title, const char* x_label,
                const char* y_label) {
  svg.Printf(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"500\" height=\"500\" "
      "viewBox=\"0 0 500 500\" font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect width=\"500\" height=\"500\" fill=\"white\"/>\n");
  svg.Printf("<text x=\"250\" y=\"18\" text-anchor=\"middle\" font-size=\"13\">%s</text>\n",
             XmlEscaped(title).c_str());
  for (int k = 0; k <= 5; ++k) {
    const double v = k / 5.0;
    svg.Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n",
               Plot::X(v), Plot::Y(0), Plot::X(v), Plot::Y(1));
    svg.Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n",
               Plot::X(0), Plot::Y(v), Plot::X(1), Plot::Y(v));
    svg.Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%.1f</text>\n", Plot::X(v),
               Plot::Y(0) + 18, v);
    svg.Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.1f</text>\n", Plot::X(0) - 6,
               Plot::Y(v) + 4, v);
  }
  svg.Printf(
      "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
      "stroke=\"black\"/>\n",
      Plot::X(0), Plot::Y(1), Plot::side, Plot::side);
  svg.Printf("<text x=\"%.1f\" y=\"488\" text-anchor=\"middle\">%s</text>\n", Plot::X(0.5),
             x_label);
  svg.Printf(
      "<text x=\"18\" y=\"%.1f\" text-anchor=\"middle\" transform=\"rotate(-90 18 "
      "%.1f)\">%s</text>\n",
      Plot::Y(0.5), Plot::Y(0.5), y_label);
}

// A polyline through the points; points closer than a thousandth of the axis
// to the last one drawn are left out, the last one never.
class Curve {
 public:
  explicit Curve(OutputFile& svg) : svg_(svg) {
    svg_.Printf("<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\" points=\"");
  }
  void Point(double x, double y, bool last = false) {
    if (!first_ && !last && std::fabs(x - last_x_) < 1e-3 && std::fabs(y - last_y_) < 1e-3) return;
    svg_.Printf("%s%.1f,%.1f", first_ ? "" : " ", Plot::X(x), Plot::Y(y));
    first_ = false;
    last_x_ = x;
    last_y_ = y;
  }
  void End() { svg_.Printf("\"/>\n"); }

 private:
  OutputFile& svg_;
  bool first_ = true;
  double last_x_ = 0, last_y_ = 0;
};

// The run's threshold on the curve: a red dot at (x, y), and its figures in
// red under the title.
void WriteOperatingPoint(OutputFile& svg, double x, double y, const OperatingPoint& at) {
  svg.Printf("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"5\" fill=\"#d62728\"/>\n", Plot::X(x),
             Plot::Y(y));
  svg.Printf(
      "<text x=\"250\" y=\"34\" text-anchor=\"middle\" font-size=\"11\" fill=\"#d62728\">"
      "&#9679; threshold %.6g: Sn %.4f, Sp %.4f, precision %.4f</text>\n",
      static_cast<double>(at.threshold), at.sensitivity, at.specificity, at.precision);
}

}  // namespace

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<unsigned char>(c) >= 32) out.push_back(c);
    }
  }
  return out;
}

void WriteCurveTable(const std::string& path, const Curves& curves) {
  OutputFile out;
  OpenOrFail(out, path, "Error opening curve file");
  const long long P = curves.positives, N = curves.negatives;
  out.Printf("threshold\tsensitivity\tspecificity\tprecision\tTP\tFP\tTN\tFN\n");
  for (const CurvePoint& c : curves.points) {
    const double sensitivity = P > 0 ? static_cast<double>(c.TP) / static_cast<double>(P) : 0;
    const double specificity = N > 0 ? static_cast<double>(N - c.FP) / static_cast<double>(N) : 0;
    const double precision = static_cast<double>(c.TP) / static_cast<double>(c.TP + c.FP);
    out.Printf("%.9g\t%.6f\t%.6f\t%.6f\t%lld\t%lld\t%lld\t%lld\n", static_cast<double>(c.threshold),
               sensitivity, specificity, precision, c.TP, c.FP, N - c.FP, P - c.TP);
  }
  out.Close();
}

void WriteRocPicture(const std::string& path, const std::string& title, const Curves& curves,
                     const AucInterval& auc, const OperatingPoint& at) {
  OutputFile svg;
  OpenOrFail(svg, path, "Error opening AUC file");
  char figures[96];
  if (auc.defined()) {
    std::snprintf(figures, sizeof figures, ": AUC = %.4f (95%% CI %.4f to %.4f)", auc.auc, auc.low,
                  auc.high);
  } else {
    std::snprintf(figures, sizeof figures, ": AUC = %.4f (95%% CI undefined)", auc.auc);
  }
  WriteFrame(svg, title + figures, "1 - specificity (false-positive rate)",
             "sensitivity (true-positive rate)");
  svg.Printf(
      "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"gray\" "
      "stroke-dasharray=\"6,4\"/>\n",
      Plot::X(0), Plot::Y(0), Plot::X(1), Plot::Y(1));
  const double P = static_cast<double>(curves.positives), N = static_cast<double>(curves.negatives);
  Curve curve(svg);
  curve.Point(0, 0);
  if (P > 0 && N > 0) {
    const std::vector<CurvePoint>& points = curves.points;
    for (size_t k = 0; k < points.size(); ++k) {
      curve.Point(static_cast<double>(points[k].FP) / N, static_cast<double>(points[k].TP) / P,
                  k + 1 == points.size());
    }
  }
  curve.End();
  WriteOperatingPoint(svg, 1 - at.specificity, at.sensitivity, at);
  svg.Printf("</svg>\n");
  svg.Close();
}

void WritePrPicture(const std::string& path, const std::string& title, const Curves& curves,
                    double ap, const OperatingPoint& at) {
  OutputFile svg;
  OpenOrFail(svg, path, "Error opening precision-recall picture");
  const double P = static_cast<double>(curves.positives), N = static_cast<double>(curves.negatives);
  const double share = P + N > 0 ? P / (P + N) : 0;
  char figures[96];
  if (ap == ap) {
    std::snprintf(figures, sizeof figures, ": AP = %.4f, positives %.2f%%", ap, 100 * share);
  } else {
    std::snprintf(figures, sizeof figures, ": AP undefined, positives %.2f%%", 100 * share);
  }
  WriteFrame(svg, title + figures, "recall (sensitivity)", "precision");
  // A ranking by chance: the precision is the positives' share at every recall.
  svg.Printf(
      "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"gray\" "
      "stroke-dasharray=\"6,4\"/>\n",
      Plot::X(0), Plot::Y(share), Plot::X(1), Plot::Y(share));
  Curve curve(svg);
  if (P > 0 && N > 0) {
    // The steps the average precision sums: from the last recall to the
    // next at the precision of the next.
    const std::vector<CurvePoint>& points = curves.points;
    double recall = 0;
    for (size_t k = 0; k < points.size(); ++k) {
      const double precision =
          static_cast<double>(points[k].TP) / static_cast<double>(points[k].TP + points[k].FP);
      const double next = static_cast<double>(points[k].TP) / P;
      curve.Point(recall, precision);
      curve.Point(next, precision, k + 1 == points.size());
      recall = next;
    }
  }
  curve.End();
  WriteOperatingPoint(svg, at.sensitivity, at.precision, at);
  svg.Printf("</svg>\n");
  svg.Close();
}

}  // namespace varnik
