// Measures of a ranking of test scores beyond the AUC (average precision, the
// AUC's confidence interval), the table of the curves' points and the two
// pictures (ROC and precision-recall) of a run with Write_AUC_data.
//
// Score lists are sorted ascending. A curve point stands for one distinct
// score t: the windows scoring at least t are called sites.
#pragma once

#include <string>
#include <vector>

namespace varnik {

struct CurvePoint {
  float threshold = 0;
  long long TP = 0;  // positives scoring at least threshold
  long long FP = 0;  // negatives scoring at least threshold
};

// One point per distinct score, from the highest down.
std::vector<CurvePoint> CurvePoints(const std::vector<float>& sorted_pos,
                                    const std::vector<float>& sorted_neg);

// The points with the sizes of the two classes: what the table, the pictures
// and the average precision are drawn from.
struct Curves {
  std::vector<CurvePoint> points;
  long long positives = 0, negatives = 0;
};
Curves CurvesOf(const std::vector<float>& sorted_pos, const std::vector<float>& sorted_neg);

// The step-wise area under the precision-recall curve: the sum over the
// distinct scores, from the highest down, of the precision at that score
// times the recall it adds (windows with equal scores taken together). NaN
// when either list is empty.
double AveragePrecision(const std::vector<float>& sorted_pos, const std::vector<float>& sorted_neg);
double AveragePrecision(const Curves& curves);

// The AUC with its 95 % confidence interval by DeLong's method (the variance
// of the placement values of both classes), clipped to [0, 1]. Not defined
// (NaN bounds) with fewer than two windows in a class.
struct AucInterval {
  double auc = 0;
  double low = 0;
  double high = 0;
  bool defined() const { return low == low; }
};
AucInterval DelongInterval(const std::vector<float>& sorted_pos,
                           const std::vector<float>& sorted_neg);

// How the run's own threshold calls the test windows (a score above it is a
// site).
struct OperatingPoint {
  float threshold = 0;
  double sensitivity = 0;
  double specificity = 0;
  double precision = 0;
};

// "AUC 0.9512 (95% CI 0.9400 to 0.9624), AP 0.8123", with "undefined" for a
// figure that has none.
std::string MeasuresText(const AucInterval& auc, double ap);

// The curves' points as a table: a header, then one line per distinct score,
// from the highest down.
void WriteCurveTable(const std::string& path, const Curves& curves);

// An SVG picture of the ROC curve: axes, the diagonal, the operating point
// and, in the title, the AUC with its interval.
void WriteRocPicture(const std::string& path, const std::string& title, const Curves& curves,
                     const AucInterval& auc, const OperatingPoint& at);

// An SVG picture of the precision-recall curve: axes, the positives' share as
// the line of a ranking by chance, the operating point and, in the title, the
// average precision and that share.
void WritePrPicture(const std::string& path, const std::string& title, const Curves& curves,
                    double ap, const OperatingPoint& at);

// Text for an SVG element: the markup characters escaped, control
// characters left out.
std::string XmlEscaped(const std::string& text);

}  // namespace varnik
