#include "zulfact/data/stored_matrix.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <strings.h>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/data/vardef.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "kernels/eigen.hpp"
#include "kernels/linalg.hpp"

namespace zulfact {

using kernels::covToCorr;
using kernels::zeigen;
using kernels::packedIndex;

namespace {


// A diagonal of a correlation matrix within these bounds counts as 1.
constexpr double kDiagonalLow = 0.999999999999889;
constexpr double kDiagonalHigh = 1.000000000000111;
// Two stored halves of a symmetric element must agree to this fraction of
// the product of the roots of their diagonals.
constexpr double kSymmetryTolerance = 0.0001;
// An element may exceed the root of the product of its diagonals by this
// fraction of it (rounding of a stored table) before the matrix is one no
// data can give. A correlation matrix thus allows 1 + 1e-6.
constexpr double kBoundTolerance = 1e-6;
// A smallest eigenvalue below -kSemidefiniteTolerance times the largest
// (at least 1) is not rounding of a singular matrix.
constexpr double kSemidefiniteTolerance = 1e-8;
// N assumed when a table gives none.
constexpr double kDefaultN = 10000;
// Alternative matrices, in the order they are tried.
constexpr const char* kAlternatives[] = {"CORR", "COV", "UCORR", "UCOV"};

inline bool missing(double x) { return zul_is_missing(x) != 0; }

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return std::string(s);
}

// _TYPE_ compared on 8 characters, blank padded.
bool typeIs(std::string_view type, std::string_view word) {
  return trimmed(type.substr(0, 8)) == word;
}

bool sameNameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool isInterceptName(std::string_view name) {
  return sameNameNoCase(name, "INTERCEP") || sameNameNoCase(name, "INTERCEPT");
}

// Smallest non-missing value of an N or SUMWGT row; `differ` tells whether
// the row held different values. Missing when all are.
double leastOfRow(const double* v, int n, bool& differ) {
  double least = zul_missing();
  differ = false;
  for (int j = 0; j < n; ++j) {
    if (missing(v[j])) continue;
    if (missing(least)) {
      least = v[j];
    } else {
      if (v[j] != least) differ = true;
      least = std::min(least, v[j]);
    }
  }
  return least;
}

}  // namespace

bool isKnownRowType(std::string_view inputType, std::string_view type) {
  const std::string t = trimmed(type.substr(0, std::min<size_t>(8, type.size())));
  if (isStatRowType(t)) return true;
  if (trimmed(inputType) == "EST" && t.compare(0, 3, "COV") == 0) return true;
  for (const char* word : {"COV", "UCOV", "SSCP", "ACE", "PARM", "FACTOR"})
    if (t == word) return true;
  return false;
}

std::string matrixWordFor(std::string_view inputType, bool aboutZero) {
  const std::string t = trimmed(inputType);
  if (t == "FACTOR") return aboutZero ? "UCORR" : "CORR";
  if (t == "EST") return "COV";
  if (t == "CORR" || t == "COV" || t == "UCORR" || t == "UCOV" || t == "SSCP" || t == "ACE")
    return t;
  return {};
}

StoredKind kindOfWord(std::string_view word) {
  if (word == "CORR" || word == "UCORR") return StoredKind::Correlation;
  if (word == "SSCP") return StoredKind::Crossproducts;
  return StoredKind::Covariance;
}

bool storedAboutZero(std::string_view word) {
  return word == "UCORR" || word == "UCOV" || word == "SSCP";
}

StoredMatrixAssembler::StoredMatrixAssembler(const StoredLayout& layout, std::string word)
    : layout_(layout),
      word_(std::move(word)),
      kind_(kindOfWord(word_)),
      storedZero_(storedAboutZero(word_)),
      n_(static_cast<int>(layout.names.size())) {
  const size_t packed = static_cast<size_t>(n_) * (n_ + 1) / 2;
  a_.assign(packed, zul_missing());
  setBy_.assign(packed, -1);
  rowGiven_.assign(static_cast<size_t>(n_), false);
  for (auto* v : {&mean_, &std_, &ustd_, &parm_, &sums_}) v->assign(static_cast<size_t>(n_), zul_missing());
  nRow_ = sumwgtRow_ = interceptW_ = nRowLeast_ = sumwgtLeast_ = zul_missing();
}

double& StoredMatrixAssembler::at(int i, int j) { return a_[packedIndex(i, j)]; }

void StoredMatrixAssembler::note(int number, int var, int other) {
  notes_.push_back({number, word_, var, other});
}

bool StoredMatrixAssembler::isCutName(std::string_view name) const {
  for (const std::string& cut : layout_.cutNames)
    if (!cut.empty() && sameNameNoCase(name, cut)) return true;
  return false;
}

bool StoredMatrixAssembler::isMatrixRow(std::string_view type) const {
  if (!layout_.hasType) return true;
  // EST tables name their covariance rows on the first three characters.
  if (layout_.inputType == "EST") return type.substr(0, 3) == "COV";
  return typeIs(type, word_);
}

void StoredMatrixAssembler::addRow(const StoredRow& r) {
  anyRow_ = true;
  const std::string_view type = r.type;
  const bool sscp = kind_ == StoredKind::Crossproducts;
  if (isMatrixRow(type)) {
    if (sscp && layout_.hasIntercept && isInterceptName(r.name)) {
      // The intercept row: its intercept cell is the sum of weights and
      // its variable cells are the sums.
      interceptRow_ = true;
      interceptW_ = r.intercept;
      std::copy(r.values, r.values + n_, sums_.begin());
    }
    if (!layout_.hasName) {
      if (matrixRows_ >= n_) {
        if (!tooManyRows_) note(msg::kStoredTooManyRows.number);
        tooManyRows_ = true;
        return;
      }
      matrixRow(matrixRows_++, r);
      return;
    }
    if (r.nameClass == 1) {
      if (!notedSkip_) note(msg::kStoredNameSkipped.number);
      notedSkip_ = true;
      return;
    }
    if (r.nameClass == 2) {
      if (!nameProblem_) note(msg::kStoredNameUnusable.number);
      nameProblem_ = true;
      return;
    }
    // Search from the variable after the one matched last, so that a
    // table in variable order matches each row at the first try. A name
    // cut to 32 characters may stand for several variables: the next one
    // in that order is the row's.
    for (const std::vector<std::string>* names : {&layout_.names, &layout_.cutNames}) {
      if (names->size() != static_cast<size_t>(n_)) continue;
      for (int k = 1; k <= n_; ++k) {
        const int i = (lastMatched_ + k) % n_;
        const std::string& name = (*names)[static_cast<size_t>(i)];
        if (!name.empty() && sameNameNoCase(r.name, name)) {
          lastMatched_ = i;
          ++matrixRows_;
          matrixRow(i, r);
          return;
        }
      }
    }
    return;  // a row of a variable not analysed
  }
  const std::string t = trimmed(type.substr(0, std::min<size_t>(8, type.size())));
  bool differ = false;
  if (t == "N") {
    if (repeated(nValues_, nGiven_, r)) return;
    nRowLeast_ = leastOfRow(r.values, n_, differ);
    nRow_ = missing(nRowLeast_) ? nRowLeast_ : std::max(0.0, nRowLeast_);
    if (differ) note(msg::kStoredNRowDiffers.number);
  } else if (t == "SUMWGT") {
    if (repeated(sumwgtValues_, sumwgtGiven_, r)) return;
    sumwgtLeast_ = leastOfRow(r.values, n_, differ);
    sumwgtRow_ = missing(sumwgtLeast_) ? sumwgtLeast_ : std::max(0.0, sumwgtLeast_);
    if (differ) note(msg::kStoredSumwgtRowDiffers.number);
  } else if (t == "MEAN") {
    repeated(mean_, meanGiven_, r);
  } else if (t == "STD") {
    repeated(std_, stdGiven_, r);
  } else if (t == "USTD") {
    repeated(ustd_, ustdGiven_, r);
  } else if (t == "PARM") {
    repeated(parm_, parmGiven_, r);
  }
  for (const char* alt : kAlternatives)
    if (t == alt && t != word_ &&
        std::find(alternativesSeen_.begin(), alternativesSeen_.end(), t) == alternativesSeen_.end())
      alternativesSeen_.push_back(t);
}

// A row of one kind (the N row, the MEAN row, the matrix row of one
// variable) read a second time in the group with other values: two tables
// put one after the other without a BY variable, whose second would
// silently replace the first. A copy with the same values does no harm.
void StoredMatrixAssembler::noteRepeated(const StoredRow& r, int var) {
  if (!conflict_) {
    StoredNote x{msg::kStoredRowRepeated.number, word_, var, -1};
    x.rowType = r.typeText.empty() ? word_ : std::string(r.typeText);
    x.line = r.line;
    notes_.push_back(x);
  }
  conflict_ = true;
}

// The first row of a moment kind goes to `kept`; a later one must hold the
// same values. True when the group must stop.
bool StoredMatrixAssembler::repeated(std::vector<double>& kept, bool& given, const StoredRow& r) {
  if (!given) {
    kept.assign(r.values, r.values + n_);
    given = true;
    return false;
  }
  for (int j = 0; j < n_; ++j) {
    const double a = kept[static_cast<size_t>(j)], b = r.values[j];
    if (missing(a) && missing(b)) continue;
    if (missing(a) || missing(b) || a != b) {
      noteRepeated(r, -1);
      return true;
    }
  }
  return false;
}

// A second matrix row of variable i must give the elements the first
// gave, within the tolerance of two halves of a symmetric element (a row
// of another variable read in between may have replaced one by its half).
bool StoredMatrixAssembler::repeatedMatrixRow(int i, const StoredRow& r) {
  for (int j = 0; j < n_; ++j) {
    const double a = at(i, j), b = r.values[j];
    if (missing(b)) continue;  // gives nothing that could disagree
    bool differ = missing(a);
    if (!differ) {
      const double di = at(i, i), dj = at(j, j);
      const bool scaled = !missing(di) && !missing(dj) && di > kZeroTolerance && dj > kZeroTolerance;
      differ = scaled ? std::fabs(a - b) >= kSymmetryTolerance * std::sqrt(di) * std::sqrt(dj) : a != b;
    }
    if (differ) {
      noteRepeated(r, i);
      return true;
    }
  }
  return false;
}

void StoredMatrixAssembler::matrixRow(int i, const StoredRow& r) {
  if (rowGiven_[static_cast<size_t>(i)] && repeatedMatrixRow(i, r)) return;
  rowGiven_[static_cast<size_t>(i)] = true;
  const double ownDiagonal = r.values[i];
  for (int j = 0; j < n_; ++j) {
    const double v = r.values[j];
    if (missing(v)) continue;
    const size_t k = packedIndex(i, j);
    if (i != j && setBy_[k] == j) {
      // Row j stored this element first: the two halves must agree.
      const double dj = at(j, j);
      if (missing(ownDiagonal) || missing(dj)) {
        if (!conflict_) note(msg::kStoredMissingDiagonal.number, missing(ownDiagonal) ? i : j);
        conflict_ = true;
        continue;
      }
      if (ownDiagonal > kZeroTolerance && dj > kZeroTolerance &&
          std::fabs(a_[k] - v) >= kSymmetryTolerance * std::sqrt(ownDiagonal) * std::sqrt(dj)) {
        if (!conflict_) note(msg::kStoredNotSymmetric.number, j, i);
        conflict_ = true;
        continue;
      }
    }
    a_[k] = v;
    setBy_[k] = i;
  }
}

// Missing elements, negative and zero diagonals, and a correlation matrix
// whose diagonal is not 1.
int StoredMatrixAssembler::validate() {
  int status = 0;
  if (!anyRow_) {
    note(msg::kNoObservations.number);
    return kCodeNoData;
  }
  if (nameProblem_ || tooManyRows_ || conflict_) return kCodeNoData;
  if (notedSkip_) status = kCodeWarning;

  int firstMissing = -1, missingColumn = -1;
  for (int i = 0; i < n_ && firstMissing < 0; ++i)
    for (int j = 0; j <= i; ++j)
      if (missing(at(i, j))) {
        firstMissing = i;
        missingColumn = j;
        break;
      }
  if (firstMissing >= 0) {
    // Tried in a fixed order, whichever came first in the table; a matrix
    // read before is not read again.
    for (const char* alt : kAlternatives)
      if (std::find(alternativesSeen_.begin(), alternativesSeen_.end(), alt) !=
              alternativesSeen_.end() &&
          std::find(tried_.begin(), tried_.end(), alt) == tried_.end()) {
        alternative_ = alt;
        break;
      }
    if (!alternative_.empty() && matrixRows_ == 0) {
      // A table of the other form (an OUTSTAT= table written with or
      // without NOINT) lacks nothing: the note says which rows are read.
      StoredNote x{msg::kStoredOtherMatrixUsed.number, alternative_, -1, -1};
      x.absentWord = word_;
      notes_.push_back(x);
    } else if (!alternative_.empty()) {
      note(msg::kStoredMissingElements.number, firstMissing);
      notes_.push_back({msg::kStoredAlternativeUsed.number, alternative_, -1, -1});
    } else if (matrixRows_ == 0) {
      note(msg::kStoredNoMatrixRows.number);
    } else {
      // Nothing can stand in: a variable without a row is named, else
      // the first empty cell (empty in both rows that could give it).
      const auto absent = std::find(rowGiven_.begin(), rowGiven_.end(), false);
      if (absent != rowGiven_.end())
        note(msg::kStoredMissingRow.number, static_cast<int>(absent - rowGiven_.begin()));
      else
        note(msg::kStoredMissingCell.number, firstMissing, missingColumn);
    }
    return kCodeNoData;
  }

  for (int i = 0; i < n_; ++i) {
    const double d = at(i, i);
    if (d < 0) {
      note(msg::kStoredNegativeDiagonal.number, i);
      return kCodeNoData;
    }
    if (d == 0)
      for (int j = 0; j < n_; ++j)
        if (j != i && at(i, j) != 0) {
          note(msg::kStoredZeroDiagonal.number, i);
          return kCodeNoData;
        }
  }
  if (checkBounds() > kCodeWarning) return kCodeNoData;
  if (kind_ != StoredKind::Correlation) return status;

  bool rescale = false;
  for (int i = 0; i < n_; ++i) {
    const double d = at(i, i);
    // A variable without variance keeps its zero row (checked above).
    if (d == 0) continue;
    if (d < kDiagonalLow || d > kDiagonalHigh) {
      note(msg::kStoredDiagonalNotOne.number, i);
      rescale = true;
    }
  }
  for (int i = 0; i < n_; ++i) {
    bool above = false;
    for (int j = 0; j < i && !above; ++j) above = std::fabs(at(i, j)) > kDiagonalHigh;
    if (above) {
      note(msg::kStoredCorrAboveOne.number);
      status = kCodeWarning;
      break;
    }
  }
  if (rescale) {
    note(msg::kStoredRescaled.number);
    std::vector<double> s(static_cast<size_t>(n_));
    covToCorr(n_, a_.data(), s.data());
    status = kCodeWarning;
  }
  return status;
}

// What no data can give: an element beyond the root of the product of its
// diagonals (Cauchy-Schwarz holds for correlations, covariances and
// crossproducts alike), and an N row below 1. 108 with the message, or 0.
int StoredMatrixAssembler::checkBounds() {
  for (int i = 0; i < n_; ++i)
    for (int j = 0; j < i; ++j) {
      const double bound = std::sqrt(at(i, i)) * std::sqrt(at(j, j));
      if (std::fabs(at(i, j)) > bound * (1.0 + kBoundTolerance)) {
        note(msg::kStoredImpossibleElement.number, j, i);
        return kCodeNoData;
      }
    }
  if (!missing(nRowLeast_) && nRowLeast_ < 1.0) {
    StoredNote x{msg::kStoredNBelowOne.number, word_, -1, -1};
    x.value = nRowLeast_;
    x.hasValue = true;
    notes_.push_back(x);
    return kCodeNoData;
  }
  // Weights that sum to 0 or less leave no observation, as in raw data;
  // taken as 0, the sum would silently skip the recentring NOINT needs.
  if (!missing(sumwgtLeast_) && !(sumwgtLeast_ > 0)) {
    StoredNote x{msg::kStoredSumwgtNotPositive.number, word_, -1, -1};
    x.value = sumwgtLeast_;
    x.hasValue = true;
    notes_.push_back(x);
    return kCodeNoData;
  }
  return 0;
}

// The smallest eigenvalue of the finished matrix: clearly negative, the
// matrix is not positive semidefinite, which no data give; a warning.
void StoredMatrixAssembler::checkSemidefinite(const double* corr, int& status) {
  if (n_ < 2) return;
  const size_t packed = static_cast<size_t>(n_) * (n_ + 1) / 2;
  std::vector<double> a(corr, corr + packed), w(static_cast<size_t>(n_)),
      work(static_cast<size_t>(n_) * 9);
  const int code = zeigen(n_, a.data(), w.data(), 0, nullptr, work.data());
  if (code != 0 && code != -1) return;
  const double least = w[static_cast<size_t>(n_ - 1)];
  if (least >= -kSemidefiniteTolerance * std::max(1.0, w[0])) return;
  StoredNote x{msg::kStoredNotSemidefinite.number, word_, -1, -1};
  x.value = least;
  x.hasValue = true;
  notes_.push_back(x);
  status = std::max(status, int(kCodeWarning));
}

// Means, standard deviations and N where the table gives none.
void StoredMatrixAssembler::defaults(int& status) {
  const bool est = layout_.inputType == "EST";
  const bool sscpSums = kind_ == StoredKind::Crossproducts && layout_.hasIntercept;
  if (!missing(nRow_) || !missing(interceptW_)) {
    if (missing(nRow_)) nRow_ = interceptW_;
  } else if (!missing(layout_.nobs)) {
    // NOBS= stands for the N row the table lacks, also in the conversion
    // (the standard deviations of crossproducts are sqrt(SSCP / N)).
    nRow_ = layout_.nobs;
  } else if (!est) {
    nRow_ = kDefaultN;
    note(nGiven_ ? msg::kStoredNRowEmpty.number : msg::kStoredNoN.number);
    status = std::max(status, int(kCodeWarning));
  } else {
    // Parameter estimates carry no N to assume: with N = 0 every divisor
    // is 0, which would blame VARDEF=.
    note(msg::kStoredEstNoN.number);
    status = kCodeNoData;
    return;
  }
  if (sscpSums && !missing(interceptW_)) sumwgtRow_ = interceptW_;
  if (missing(sumwgtRow_)) sumwgtRow_ = nRow_;

  std::vector<double>& means = est ? parm_ : mean_;
  if (sscpSums) {
    for (int i = 0; i < n_; ++i)
      means[static_cast<size_t>(i)] =
          interceptRow_ && !missing(sums_[i]) && sumwgtRow_ > 0 ? sums_[i] / sumwgtRow_ : zul_missing();
  }
  const bool anyMissing =
      std::any_of(means.begin(), means.end(), [](double m) { return missing(m); });
  if (anyMissing) {
    if (est) {
      note(msg::kStoredNoParm.number);
      status = kCodeNoData;
    } else if (storedZero_ != layout_.wantAboutZero) {
      note(sscpSums ? msg::kStoredNoInterceptSums.number : msg::kStoredNoMeans.number);
      status = kCodeNoData;
    } else {
      note(msg::kStoredMeansZero.number);
      for (double& m : means)
        if (missing(m)) m = 0.0;
    }
  }
  if (means.data() != mean_.data()) mean_ = means;

  if (kind_ == StoredKind::Correlation) {
    std::vector<double>& s = storedZero_ ? ustd_ : std_;
    const bool rowGiven = storedZero_ ? ustdGiven_ : stdGiven_;
    bool noted = false;
    for (int i = 0; i < n_; ++i) {
      double& v = s[static_cast<size_t>(i)];
      if (missing(v)) {
        v = 1.0;
        // A gap in a row that was given is named; no row at all is not.
        if (!noted) note(msg::kStoredStdOne.number, rowGiven ? i : -1);
        noted = true;
      } else if (v < 0) {
        // No data give one; taken as given it would turn the signs of the
        // variable's covariances (COV) and of its scores.
        StoredNote x{msg::kStoredNegativeStd.number, word_, i, -1};
        x.value = v;
        x.hasValue = true;
        notes_.push_back(x);
        status = kCodeNoData;
        return;
      }
    }
    if (zeroStdCorrelated(s)) {
      status = kCodeNoData;
      return;
    }
    std_ = s;
  }
}

// A variable without spread correlates with nothing. Taken as given, its
// correlations would enter the analysis while its prior and its variance
// under COV are 0, and only when the matrix is converted would they be
// zeroed: the group stops instead, naming the variable.
bool StoredMatrixAssembler::zeroStdCorrelated(const std::vector<double>& s) {
  for (int i = 0; i < n_; ++i) {
    if (s[static_cast<size_t>(i)] != 0) continue;
    for (int j = 0; j < n_; ++j)
      if (j != i && at(i, j) != 0) {
        note(msg::kStoredZeroStdCorrelated.number, i);
        return true;
      }
  }
  return false;
}

// Crossproducts stored about zero lose digits when the means are taken
// out: sum(x^2) - n*mean^2 keeps about 15.6 - log10(sum(x^2) / its
// corrected part) significant digits (Chan, Golub and LeVeque 1983). The
// variable that keeps fewest is named when it keeps fewer than 8, which the
// printed results can show.
void StoredMatrixAssembler::warnOfCancellation(const ConversionMoments& m, bool sscpSums,
                                               double w, int& status) {
  constexpr double kDigitsWarned = 8;
  int worst = -1;
  double fewest = kDigitsWarned;
  for (int i = 0; i < n_; ++i) {
    const double raw = m.a[packedIndex(i, i)];
    const double term = sscpSums ? m.sums[i] * m.sums[i] / w : m.mean[i] * m.mean[i] * w;
    const double corrected = raw - term;
    if (!(corrected > 0) || !(raw > 0)) continue;  // constant or impossible: said elsewhere
    const double digits = -std::log10(std::numeric_limits<double>::epsilon() * raw / corrected);
    if (digits < fewest) {
      fewest = digits;
      worst = i;
    }
  }
  if (worst < 0) return;
  StoredNote x{msg::kStoredDigitsLost.number, word_, worst, -1};
  x.value = std::max(0.0, std::floor(fewest));
  x.hasValue = true;
  notes_.push_back(x);
  status = std::max(status, int(kCodeWarning));
}

// Back to crossproducts, recentred or uncentred as wanted, divided by the
// variance divisor and made a correlation matrix again.
void StoredMatrixAssembler::convert(StoredOutput& out, int& status) {
  const std::string_view vardef = layout_.vardef;
  const bool wantZero = layout_.wantAboutZero;
  const double nObs = nRow_, w = sumwgtRow_;
  const double d = vardefDivisor(vardef, nObs, wantZero ? 0 : 1, w);
  out.nObs = nObs;
  out.sumWeights = w;
  out.varianceDivisor = d;
  std::copy(mean_.begin(), mean_.end(), out.means);

  if (kind_ == StoredKind::Correlation && storedZero_ == wantZero) {
    std::copy(a_.begin(), a_.end(), out.corr);
    std::copy(std_.begin(), std_.end(), out.stdDevs);
    return;
  }

  const double d1 = vardefDivisor(vardef, nObs, storedZero_ ? 0 : 1, w);
  const bool recentre = storedZero_ != wantZero && w > 0;
  const bool sscpSums = kind_ == StoredKind::Crossproducts && layout_.hasIntercept;
  const int k = conversionExponent(d1, w, recentre, sscpSums);
  ConversionMoments m = scaledMoments(k);
  std::vector<double>& a = m.a;
  for (int i = 0; i < n_; ++i)
    for (int j = 0; j <= i; ++j) {
      double& x = a[packedIndex(i, j)];
      if (kind_ == StoredKind::Correlation) x *= d1 * m.sd[i] * m.sd[j];
      else if (kind_ == StoredKind::Covariance) x *= d1;
    }

  if (recentre) {
    const bool subtract = !wantZero;
    if (subtract) warnOfCancellation(m, sscpSums, w, status);
    for (int i = 0; i < n_; ++i)
      for (int j = 0; j <= i; ++j) {
        const double term = sscpSums ? m.sums[i] * m.sums[j] / w : m.mean[i] * m.mean[j] * w;
        double& x = a[packedIndex(i, j)];
        if (subtract) {
          x -= term;
          if (std::fabs(x) < kZeroDiagonalAfterSweep * std::fabs(term)) x = 0.0;
        } else {
          x += term;
        }
      }
    if (subtract) {
      for (int i = 0; i < n_; ++i) {
        const double dii = a[packedIndex(i, i)];
        if (dii < 0) {
          notes_.push_back({msg::kStoredNegativeVariance.number, word_, i, -1});
          status = std::max(status, int(kCodeWarning));
        }
        if (dii <= 0)
          for (int j = 0; j < n_; ++j) a[packedIndex(i, j)] = 0.0;
      }
      for (int i = 0; i < n_; ++i)
        for (int j = 0; j < i; ++j) {
          double& x = a[packedIndex(i, j)];
          if (std::fabs(x) < std::sqrt(a[packedIndex(i, i)] * a[packedIndex(j, j)]) * kZeroTolerance)
            x = 0.0;
        }
    }
  }

  if (d <= 0) {
    note(msg::kVardefDivisorNotPositive.number);
    status = kCodeNoData;
    return;
  }
  for (double& x : a) x /= d;
  covToCorr(n_, a.data(), out.stdDevs);
  for (int i = 0; i < n_; ++i) out.stdDevs[i] = std::ldexp(out.stdDevs[i], k);
  std::copy(a.begin(), a.end(), out.corr);
}

// Crossproducts of variables whose standard deviations or means reach
// about 1e154 overflow (and those near 1e-154 underflow), although their
// correlations exist. The conversion then runs on moments scaled by 2^-k,
// exactly, with k the exponent of the largest root of a crossproduct
// diagonal or mean term; 0 while that root lies within [2^-450, 2^450].
int StoredMatrixAssembler::conversionExponent(double d1, double w, bool recentre,
                                              bool sscpSums) const {
  double largest = 0.0;
  auto consider = [&largest](double root) {
    if (std::isfinite(root)) largest = std::max(largest, std::fabs(root));
  };
  for (int i = 0; i < n_; ++i) {
    if (kind_ == StoredKind::Correlation) {
      consider(std_[i] * std::sqrt(std::fabs(d1)));
    } else {
      const double factor = kind_ == StoredKind::Covariance ? std::fabs(d1) : 1.0;
      consider(std::sqrt(std::fabs(a_[packedIndex(i, i)])) * std::sqrt(factor));
    }
    if (recentre) consider(sscpSums ? sums_[i] / std::sqrt(w) : mean_[i] * std::sqrt(w));
  }
  constexpr double kHigh = 0x1p450, kLow = 0x1p-450;
  if (largest <= kHigh && !(largest > 0.0 && largest < kLow)) return 0;
  int k = 0;
  std::frexp(largest, &k);
  return k;
}

// The matrix as stored at the scale 2^-2k, the standard deviations, means
// and sums at 2^-k (correlations keep theirs).
StoredMatrixAssembler::ConversionMoments StoredMatrixAssembler::scaledMoments(int k) const {
  ConversionMoments m{a_, std_, mean_, sums_};
  if (k == 0) return m;
  if (kind_ != StoredKind::Correlation)
    for (double& x : m.a) x = std::ldexp(x, -2 * k);
  for (auto* v : {&m.sd, &m.mean, &m.sums})
    for (double& x : *v) x = std::ldexp(x, -k);
  return m;
}

int StoredMatrixAssembler::finish(StoredOutput& out) {
  int status = validate();
  if (status > kCodeWarning) return status;
  defaults(status);
  if (status > kCodeWarning) return status;
  convert(out, status);
  if (status <= kCodeWarning) checkSemidefinite(out.corr, status);
  return status;
}

int storedMoments(const StoredLayout& layout, const std::vector<StoredRow>& rows,
                  StoredOutput& out, std::vector<StoredNote>& notes) {
  const int n = static_cast<int>(layout.names.size());
  for (int i = 0; i < n; ++i) {
    out.means[i] = 0.0;
    out.stdDevs[i] = 1.0;
  }
  const bool nobsGiven = !missing(layout.nobs);
  out.nObs = nobsGiven ? layout.nobs : kDefaultN;
  out.sumWeights = zul_missing();
  int status = 0;
  if (!layout.hasType) {
    notes.push_back({msg::kStoredNoTypeMoments.number, {}, -1, -1});
  } else if (rows.empty()) {
    notes.push_back({msg::kNoObservations.number, {}, -1, -1});
    return kCodeNoData;
  } else {
    bool nRow = false, nRowEmpty = false;
    for (const StoredRow& row : rows) {
      const std::string t = trimmed(row.type);
      if (t == "MEAN" || t == "STD") {
        double* to = t == "MEAN" ? out.means : out.stdDevs;
        for (int i = 0; i < n; ++i) {
          if (missing(row.values[i])) continue;
          if (t == "STD" && row.values[i] < 0) {
            StoredNote x{msg::kStoredNegativeStd.number, {}, i, -1};
            x.value = row.values[i];
            x.hasValue = true;
            notes.push_back(x);
            return kCodeNoData;
          }
          to[i] = row.values[i];
        }
      } else if (t == "N" || t == "SUMWGT") {
        bool differ = false;
        const double least = leastOfRow(row.values, n, differ);
        if (differ)
          notes.push_back({t == "N" ? msg::kStoredNRowDiffers.number
                                    : msg::kStoredSumwgtRowDiffers.number, {}, -1, -1});
        if (missing(least)) {
          nRowEmpty = nRowEmpty || t == "N";
          continue;
        }
        if ((t == "N" && least < 1.0) || (t == "SUMWGT" && !(least > 0))) {
          StoredNote x{t == "N" ? msg::kStoredNBelowOne.number : msg::kStoredSumwgtNotPositive.number,
                       {}, -1, -1};
          x.value = least;
          x.hasValue = true;
          notes.push_back(x);
          return kCodeNoData;
        }
        const double v = std::max(0.0, least);
        if (t == "N") {
          out.nObs = v;
          nRow = true;
        } else {
          out.sumWeights = v;
        }
      }
    }
    if (!nRow && !nobsGiven) {
      const int number = nRowEmpty ? msg::kStoredNRowEmpty.number : msg::kStoredNoN.number;
      notes.push_back({number, {}, -1, -1});
      status = kCodeWarning;
    }
  }
  if (missing(out.sumWeights)) out.sumWeights = out.nObs;
  out.varianceDivisor = vardefDivisor(layout.vardef, out.sumWeights, 1, out.sumWeights);
  return status;
}

// ---------------------------------------------------------------------
// The readers over the host's table services
// ---------------------------------------------------------------------

std::vector<std::string> cutPrefixedNames(const std::vector<std::string>& names,
                                          std::string_view prefix) {
  std::vector<std::string> cut;
  for (const std::string& name : names) {
    const std::string whole = std::string(prefix) + name;
    cut.push_back(prefix.empty() || whole.size() <= 32 ? std::string() : whole.substr(0, 32));
  }
  return cut;
}

namespace {

struct TableNames {
  std::string library, member;
};

TableNames namesOf(zul_table* table) {
  char lib[33] = {0}, member[33] = {0};
  host().getAttribute(table, ZUL_ATTR_LIBRARY, lib);
  host().getAttribute(table, ZUL_ATTR_MEMBER, member);
  lib[32] = member[32] = '\0';
  return {lib, member};
}

std::string varNameOf(const ProcState& ps, int i) {
  return i >= 0 && ps.opt.varNames ? std::string(ps.opt.varNames + 33 * static_cast<size_t>(i)) : std::string();
}

void issue(const ProcState& ps, const TableNames& t, const StoredNote& n) {
  // The one message of the raw-data reader: its argument is the table.
  if (n.number == msg::kNoObservations.number) {
    host().message(msg::kNoObservations, {host().displayName(ps.opt.mainInput)});
    return;
  }
  if (!n.absentWord.empty()) {
    host().message(msg::input(n.number), {n.word, t.library, t.member, n.absentWord});
    return;
  }
  if (!n.rowType.empty()) {
    host().message(msg::input(n.number),
                   {n.word, t.library, t.member, n.rowType, varNameOf(ps, n.var), n.line});
    return;
  }
  if (n.hasValue) {
    host().message(msg::input(n.number), {n.word, t.library, t.member, n.value, varNameOf(ps, n.var)});
    return;
  }
  const std::string v = varNameOf(ps, n.var), o = varNameOf(ps, n.other);
  host().message(msg::input(n.number), {n.word, t.library, t.member, v, o});
}

[[noreturn]] void stopWith(ProcState& ps, int code) {
  raiseCode(ps, code);
  host().endStep(code, 0);
}

// _TYPE_, _NAME_ and the SSCP intercept variable: present, and of the
// right type. A wrong type ends the step.
void checkSpecialVariables(ProcState& ps, const TableNames& t, const std::string& word,
                           bool matrixReader, bool sscp) {
  Host& h = host();
  for (int v : {ps.opt.typeVarNumber, matrixReader ? ps.opt.nameVarNumber : 0}) {
    if (v <= 0) continue;
    zul_var_desc d{};
    if (h.varDesc(ps.opt.mainInput, v, d) == 0 && d.type != 2) {
      h.message(msg::kStoredNotCharacter, {word, t.library, t.member, std::string(d.name)});
      stopWith(ps, kCodeBadVariables);
    }
  }
  if (sscp && ps.opt.interceptVarNumber > 0) {
    zul_var_desc d{};
    if (h.varDesc(ps.opt.mainInput, ps.opt.interceptVarNumber, d) == 0 && d.type != 1) {
      h.message(msg::kStoredInterceptNotNumeric, {word, t.library, t.member, std::string(d.name)});
      stopWith(ps, kCodeBadVariables);
    }
  }
}

// Characters of _TYPE_ read, of which the first 8 are compared.
constexpr int kTypeText = 32;

// The first row of the step that no reader uses is quoted with its line,
// so that a mistyped _TYPE_ is found rather than silently passed over.
void noteUnknownType(ProcState& ps, const TableNames& t, const StoredRow& row) {
  if (ps.unknownTypeNoted || row.type.empty() || isKnownRowType(std::string_view(ps.opt.inputType, 8), row.type)) return;
  ps.unknownTypeNoted = true;
  host().message(msg::kStoredUnknownRowType,
                 {t.library, t.member, host().recordLine(ps.opt.mainInput), row.typeText});
}

// A matrix row whose _NAME_ names no column of the table (a mistyped
// name) leaves its variable's row empty; the group's first is quoted with its line
// so that the missing elements reported later can be traced to it. A row
// naming a column the step does not analyse is passed over without a word.
void noteUnknownName(ProcState& ps, const TableNames& t, const StoredRow& row,
                     const StoredMatrixAssembler& assembler, bool& noted) {
  if (noted || row.name.empty() || row.nameClass != 0 ||
      !assembler.isMatrixRow(row.type) || isInterceptName(row.name) ||
      assembler.isCutName(row.name) ||
      host().varNumber(ps.opt.mainInput, row.name) != 0)
    return;
  noted = true;
  host().message(msg::kStoredUnknownRowName,
                 {t.library, t.member, host().recordLine(ps.opt.mainInput), row.typeText, row.name});
}

// A partial analysis's OUTSTAT= names its correlation rows with the
// PARPREFIX= text before the variable's name (R_a). Such a row is the
// variable's own when the table has a column of the bare name and none of
// the prefixed one, so that the table reads back like any other.
std::string matrixRowName(const ProcState& ps, std::string name) {
  const size_t k = static_cast<size_t>(std::max(0, ps.opt.parPrefixLength));
  if (k == 0 || name.size() <= k ||
      !sameNameNoCase(std::string_view(name).substr(0, k), std::string_view(ps.opt.parPrefix, k)) ||
      host().varNumber(ps.opt.mainInput, name) != 0)
    return name;
  std::string bare = name.substr(k);
  return host().varNumber(ps.opt.mainInput, bare) != 0 ? bare : name;
}

// Reads the rows of the current group and hands each to `take`. Ends the
// step when the read list cannot be made or a read fails.
template <class Take>
void forEachRow(ProcState& ps, bool withName, bool withIntercept, Take take) {
  Host& h = host();
  const int n = ps.opt.nAll;
  const bool hasType = ps.opt.typeVarNumber > 0;
  const bool hasName = withName && ps.opt.nameVarNumber > 0;
  const int slots = n + (hasType ? 1 : 0) + (hasName ? 1 : 0) + (withIntercept ? 1 : 0);
  zul_readlist* list = h.readListCreate(ps.opt.mainInput, slots);
  if (!list) stopWith(ps, kCodeEngine);
  struct Release {
    zul_readlist* l;
    ~Release() { host().readListRelease(l); }
  } release{list};
  bool ok = true;
  int slot = 0;
  for (int i = 0; i < n && ok; ++i) ok = h.readListBind(list, slot++, ps.opt.varNumbers[i], false, 8) == 0;
  if (ok && withIntercept) ok = h.readListBind(list, slot++, ps.opt.interceptVarNumber, false, 8) == 0;
  // _TYPE_ is compared on 8 characters but read whole enough to be quoted.
  if (ok && hasType) ok = h.readListBind(list, slot++, ps.opt.typeVarNumber, true, kTypeText) == 0;
  if (ok && hasName) ok = h.readListBind(list, slot++, ps.opt.nameVarNumber, true, 32) == 0;
  if (!ok) stopWith(ps, kCodeEngine);

  std::vector<double> values(static_cast<size_t>(n) + 1);
  char text[kTypeText + 32 + 1] = {};
  int status = 0;
  while (h.readNext(list, values.data(), text, status) == 1) {
    if (!readOk(status)) stopWith(ps, kCodeEngine);
    char type[9] = {};
    if (hasType)
      for (int k = 0; k < 8; ++k)
        type[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[k])));
    StoredRow row;
    row.type = hasType ? std::string_view(type, 8) : std::string_view();
    const std::string typeText = hasType ? trimmed(std::string_view(text, kTypeText)) : std::string();
    row.typeText = typeText;
    std::string name;
    if (hasName) {
      name = matrixRowName(ps, trimmed(std::string_view(text + (hasType ? kTypeText : 0), 32)));
      row.name = name;
      row.nameClass = name.empty() ? 0 : h.nameCheck(name);
    }
    row.values = values.data();
    row.line = h.recordLine(ps.opt.mainInput);
    row.intercept = withIntercept ? values[static_cast<size_t>(n)] : zul_missing();
    take(row);
  }
  if (!readOk(status)) stopWith(ps, kCodeEngine);
}

StoredLayout layoutOf(const ProcState& ps) {
  StoredLayout l;
  for (int i = 0; i < ps.opt.nAll; ++i) l.names.push_back(varNameOf(ps, i));
  l.cutNames = cutPrefixedNames(
      l.names, std::string_view(ps.opt.parPrefix,
                                static_cast<size_t>(std::max(0, ps.opt.parPrefixLength))));
  l.inputType = trimmed(std::string_view(ps.opt.inputType, 8));
  for (char& c : l.inputType) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  l.hasType = ps.opt.typeVarNumber > 0;
  l.hasName = ps.opt.nameVarNumber > 0;
  l.hasIntercept = l.inputType == "SSCP" && ps.opt.interceptVarNumber > 0;
  l.wantAboutZero = ps.opt.flags.noIntercept;
  l.vardef = std::string(ps.opt.vardef, strnlen(ps.opt.vardef, 8));
  l.nobs = ps.opt.nObsOption;
  return l;
}

// The observation counts of a stored table: its N stands for every count.
void storedCounts(ProcState& ps) {
  ps.obsCounts = {ps.nObs, ps.nObs, ps.nObs, ps.nObs, ps.sumWeights, ps.sumWeights};
}

// A stored pattern is used without the matrix unless a request needs it:
// a table of a solution alone can still be printed and rotated.
void notePatternWithoutMatrix(const ProcState& ps, const std::vector<StoredNote>& notes) {
  if (ps.opt.method != kMethodPattern) return;
  for (const StoredNote& n : notes)
    if (n.number == msg::kStoredNoMatrixRows.number) {
      host().logLine(ZUL_LOG_NOTE, "METHOD=PATTERN reads the " + n.word +
                                       " rows only for OUTSTAT=, SCORE, RESIDUALS, CORR and MSA:"
                                       " add the rows to the table, or leave those requests out"
                                       " (with NOCORR, OUTSTAT= is written without them).");
      return;
    }
}

}  // namespace

int readStoredMatrix(ProcState& ps) {
  Host& h = host();
  const StoredLayout layout = layoutOf(ps);
  std::string word = matrixWordFor(layout.inputType, layout.wantAboutZero);
  const TableNames names = namesOf(ps.opt.mainInput);
  const bool sscp = layout.inputType == "SSCP";
  checkSpecialVariables(ps, names, word, true, sscp);
  if (!layout.hasType) issue(ps, names, {msg::kStoredNoType.number, word});
  if (!layout.hasName) issue(ps, names, {msg::kStoredNoName.number, word});
  if (sscp && !layout.hasIntercept) issue(ps, names, {msg::kStoredNoIntercept.number, word});

  std::vector<std::string> tried;
  bool unknownNameNoted = false;  // once per group, also when read again
  for (;;) {
    tried.push_back(word);
    StoredMatrixAssembler assembler(layout, word);
    assembler.setTried(tried);
    forEachRow(ps, true, layout.hasIntercept,
               [&](const StoredRow& row) {
                 noteUnknownType(ps, names, row);
                 noteUnknownName(ps, names, row, assembler, unknownNameNoted);
                 assembler.addRow(row);
               });
    StoredOutput out{ps.means, ps.stdDevs, ps.corrMatrix};
    const int status = assembler.finish(out);
    for (const StoredNote& n : assembler.notes()) issue(ps, names, n);
    notePatternWithoutMatrix(ps, assembler.notes());
    const std::string& alt = assembler.alternative();
    if (status > kCodeWarning && !alt.empty() &&
        std::find(tried.begin(), tried.end(), alt) == tried.end()) {
      if (h.rewind(ps.opt.mainInput) != 0) stopWith(ps, kCodeEngine);
      word = alt;
      continue;
    }
    if (status > kCodeWarning) return kCodeNoData;
    ps.nObs = out.nObs;
    ps.sumWeights = out.sumWeights;
    ps.varianceDivisor = out.varianceDivisor;
    storedCounts(ps);
    return status;
  }
}

int readStoredMoments(ProcState& ps) {
  const StoredLayout layout = layoutOf(ps);
  const TableNames names = namesOf(ps.opt.mainInput);
  const std::string word = matrixWordFor(layout.inputType);
  checkSpecialVariables(ps, names, word, false, false);
  std::vector<StoredNote> notes;
  StoredOutput out{ps.means, ps.stdDevs, nullptr};
  int status = 0;
  if (!layout.hasType) {
    status = storedMoments(layout, {}, out, notes);
  } else {
    std::vector<std::vector<double>> values;
    std::vector<std::string> types;
    forEachRow(ps, false, false, [&](const StoredRow& row) {
      noteUnknownType(ps, names, row);
      // Only the moment rows are kept, so a big table costs no memory; the
      // first row is kept whatever it is, to tell a group with rows from
      // one without (the other kinds are passed over by storedMoments).
      const std::string t = trimmed(row.type);
      const bool moment = t == "MEAN" || t == "STD" || t == "N" || t == "SUMWGT";
      if (!moment && !types.empty()) return;
      types.push_back(t);
      values.emplace_back(row.values, row.values + ps.opt.nAll);
    });
    std::vector<StoredRow> rows(types.size());
    for (size_t k = 0; k < rows.size(); ++k) {
      rows[k].type = types[k];
      rows[k].values = values[k].data();
    }
    status = storedMoments(layout, rows, out, notes);
  }
  for (StoredNote& n : notes) {
    n.word = word;
    issue(ps, names, n);
  }
  if (status > kCodeWarning) return status;
  ps.nObs = out.nObs;
  ps.sumWeights = out.sumWeights;
  ps.varianceDivisor = out.varianceDivisor;
  storedCounts(ps);
  return status;
}

}  // namespace zulfact
