// The stored-matrix assembler on rows given here: every stored kind turned
// back into the moments of a small raw data set, computed here by the
// two-pass textbook formulas, and the checks that must stop a group.
#include "zulfact/data/stored_matrix.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "zul/abi.h"
#include "kernels/packed.hpp"

namespace zulfact {

using kernels::packedIndex;

namespace {

const double M = zul_missing();

// Three observations of two variables: x = (1, 2, 6), y = (2, 1, 3).
// Means 3 and 2; corrected sums of squares 14, 2, cross 4; uncorrected
// 41, 14, cross 22; covariances 7, 1, cross 2.
constexpr double kMean[2] = {3.0, 2.0};
const double kSd[2] = {std::sqrt(14.0 / 2), std::sqrt(2.0 / 2)};  // divisor N - 1
const double kR = 4.0 / std::sqrt(14.0 * 2.0);

struct Rows {
  std::vector<std::string> types, names;
  std::vector<std::vector<double>> values;
  std::vector<double> intercepts;
  std::vector<int> nameClasses;
  Rows& add(std::string type, std::string name, std::vector<double> v, double icpt = M,
            int nameClass = 0) {
    type.resize(8, ' ');
    types.push_back(type);
    names.push_back(name);
    values.push_back(v);
    intercepts.push_back(icpt);
    nameClasses.push_back(nameClass);
    return *this;
  }
};

struct Result {
  int status;
  std::vector<int> notes;
  std::vector<StoredNote> full;  // the notes with the variables they name
  std::string alternative;
  double means[3], sds[3], corr[6];  // up to three variables
  double nObs, sumWeights, divisor;
};

Result assembleWith(const StoredLayout& layout, const Rows& rows,
                    const std::vector<std::string>& tried = {}) {
  StoredMatrixAssembler a(layout, matrixWordFor(layout.inputType, layout.wantAboutZero));
  a.setTried(tried);
  for (size_t k = 0; k < rows.types.size(); ++k) {
    StoredRow r;
    r.type = rows.types[k];
    r.name = layout.hasName ? std::string_view(rows.names[k]) : std::string_view();
    r.nameClass = rows.nameClasses[k];
    r.values = rows.values[k].data();
    r.intercept = rows.intercepts[k];
    a.addRow(r);
  }
  Result res{};
  StoredOutput out{res.means, res.sds, res.corr};
  res.status = a.finish(out);
  for (const StoredNote& n : a.notes()) res.notes.push_back(n.number);
  res.full = a.notes();
  res.alternative = a.alternative();
  res.nObs = out.nObs;
  res.sumWeights = out.sumWeights;
  res.divisor = out.varianceDivisor;
  return res;
}

Result assemble(const Rows& rows, std::string inputType, bool aboutZero = false,
                bool hasName = true, bool hasIntercept = false,
                std::vector<std::string> names = {"x", "y"},
                std::vector<std::string> tried = {}, double nobs = M, std::string vardef = "DF") {
  StoredLayout layout;
  layout.nobs = nobs;
  layout.vardef = vardef;
  layout.names = names;
  layout.inputType = inputType;
  layout.hasName = hasName;
  layout.hasIntercept = hasIntercept;
  layout.wantAboutZero = aboutZero;
  return assembleWith(layout, rows, tried);
}

void expectMoments(const Result& r, double tol = 1e-12) {
  EXPECT_LE(r.status, 4);
  EXPECT_NEAR(r.means[0], kMean[0], tol);
  EXPECT_NEAR(r.means[1], kMean[1], tol);
  EXPECT_NEAR(r.sds[0], kSd[0], tol);
  EXPECT_NEAR(r.sds[1], kSd[1], tol);
  EXPECT_NEAR(r.corr[packedIndex(1, 0)], kR, tol);
  EXPECT_EQ(r.corr[0], 1.0);
  EXPECT_EQ(r.corr[2], 1.0);
}

bool has(const Result& r, int number) {
  return std::find(r.notes.begin(), r.notes.end(), number) != r.notes.end();
}

TEST(StoredMatrix, EveryKindGivesTheMomentsOfItsData) {
  // Covariances (divisor N - 1) with means: used as they are.
  Rows cov;
  cov.add("MEAN", "", {3, 2}).add("N", "", {3, 3}).add("COV", "x", {7, 2}).add("COV", "y", {2, 1});
  expectMoments(assemble(cov, "COV"));
  Rows ace = cov;
  for (auto& t : ace.types) if (t.rfind("COV", 0) == 0) t = "ACE     ";
  expectMoments(assemble(ace, "ACE"));

  // Uncorrected covariances (divisor N) recentred with the means.
  Rows ucov;
  ucov.add("MEAN", "", {3, 2}).add("N", "", {3, 3});
  ucov.add("UCOV", "x", {41.0 / 3, 22.0 / 3}).add("UCOV", "y", {22.0 / 3, 14.0 / 3});
  expectMoments(assemble(ucov, "UCOV"));

  // Crossproducts about zero with the intercept row: the means and N come
  // from its sums and its intercept cell.
  Rows sscp;
  sscp.add("SSCP", "INTERCEPT", {9, 6}, 3).add("SSCP", "x", {41, 22}, 9).add("SSCP", "y", {22, 14}, 6);
  Result s = assemble(sscp, "SSCP", false, true, true);
  expectMoments(s);
  EXPECT_EQ(s.nObs, 3);

  // EST: means in the PARM row, covariance rows named on three letters.
  Rows est;
  est.add("PARM", "", {3, 2}).add("N", "", {3, 3}).add("COVB", "x", {7, 2}).add("COV", "y", {2, 1});
  expectMoments(assemble(est, "EST"));
}

TEST(StoredMatrix, CrossproductsOfLargeMeansWarnOfLostDigits) {
  // x + 1e6: the crossproducts are exact here, but with sums of squares
  // near 3e12 about a corrected 14 only 4 digits of the variance are sure.
  Rows sscp;
  sscp.add("SSCP", "INTERCEPT", {3000009, 6}, 3)
      .add("SSCP", "x", {3000018000041.0, 6000022}, 3000009)
      .add("SSCP", "y", {6000022, 14}, 6);
  Result s = assemble(sscp, "SSCP", false, true, true);
  EXPECT_EQ(s.status, 4);
  ASSERT_TRUE(has(s, 72));
  EXPECT_EQ(s.full.back().var, 0);
  EXPECT_EQ(s.full.back().value, 4);
  EXPECT_NEAR(s.corr[packedIndex(1, 0)], kR, 1e-12);
  // The same about the means, or with small means, keeps every digit.
  Rows small;
  small.add("SSCP", "INTERCEPT", {9, 6}, 3).add("SSCP", "x", {41, 22}, 9).add("SSCP", "y", {22, 14}, 6);
  EXPECT_FALSE(has(assemble(small, "SSCP", false, true, true), 72));
}

TEST(StoredMatrix, CorrelationsConvertOnlyWhenTheFormDiffers) {
  Rows corr;
  corr.add("MEAN", "", {3, 2}).add("STD", "", {kSd[0], kSd[1]}).add("N", "", {3, 3});
  corr.add("CORR", "X", {1, kR}).add("CORR", "Y", {kR, 1});  // _NAME_ in another case
  Result r = assemble(corr, "CORR");
  expectMoments(r);
  EXPECT_EQ(r.divisor, 2);

  // Read about zero (NOINT): crossproducts r s s (N - 1) + m m N, divisor N.
  Result z = assemble(corr, "CORR", true);
  EXPECT_NEAR(z.sds[0], std::sqrt(41.0 / 3), 1e-12);
  EXPECT_NEAR(z.sds[1], std::sqrt(14.0 / 3), 1e-12);
  EXPECT_NEAR(z.corr[packedIndex(1, 0)], 22.0 / std::sqrt(41.0 * 14.0), 1e-12);
  EXPECT_EQ(z.divisor, 3);
}

TEST(StoredMatrix, VardefNamesTheDivisorTheTableWasMadeWith) {
  // The covariances of the data with divisor N. Read under VARDEF=N they
  // stand as stored; about zero they become the uncorrected moments / N.
  Rows cov;
  cov.add("MEAN", "", {3, 2}).add("N", "", {3, 3});
  cov.add("COV", "x", {14.0 / 3, 4.0 / 3}).add("COV", "y", {4.0 / 3, 2.0 / 3});
  const std::vector<std::string> xy = {"x", "y"};
  Result n = assemble(cov, "COV", false, true, false, xy, {}, M, "N");
  EXPECT_NEAR(n.sds[0], std::sqrt(14.0 / 3), 1e-12);
  EXPECT_NEAR(n.corr[packedIndex(1, 0)], kR, 1e-12);
  EXPECT_EQ(n.divisor, 3);
  Result z = assemble(cov, "COV", true, true, false, xy, {}, M, "N");
  EXPECT_NEAR(z.sds[0], std::sqrt(41.0 / 3), 1e-12);
  EXPECT_NEAR(z.sds[1], std::sqrt(14.0 / 3), 1e-12);
  EXPECT_NEAR(z.corr[packedIndex(1, 0)], 22.0 / std::sqrt(41.0 * 14.0), 1e-12);
  EXPECT_EQ(z.divisor, 3);
}

TEST(StoredMatrix, MomentsNear1e154ConvertWithoutOverflow) {
  // The data times s = 2^510: the crossproducts that UCOV (times N = 3)
  // and CORR read about zero (r s s (N - 1) + m m N) go back to pass
  // 1.8e308, though every moment exists. The correlations are those of
  // the data at scale 1, the means and standard deviations s times theirs.
  const double s = std::ldexp(1.0, 510);
  Rows ucov;
  ucov.add("MEAN", "", {3 * s, 2 * s}).add("N", "", {3, 3});
  ucov.add("UCOV", "x", {41.0 / 3 * s * s, 22.0 / 3 * s * s});
  ucov.add("UCOV", "y", {22.0 / 3 * s * s, 14.0 / 3 * s * s});
  Result u = assemble(ucov, "UCOV");
  for (int i = 0; i < 2; ++i) {
    u.means[i] /= s;
    u.sds[i] /= s;
  }
  expectMoments(u);

  Rows corr;
  corr.add("MEAN", "", {3 * s, 2 * s}).add("STD", "", {kSd[0] * s, kSd[1] * s});
  corr.add("N", "", {3, 3}).add("CORR", "x", {1, kR}).add("CORR", "y", {kR, 1});
  const Result z = assemble(corr, "CORR", true);
  EXPECT_LE(z.status, 4);
  EXPECT_NEAR(z.sds[0] / s, std::sqrt(41.0 / 3), 1e-12);
  EXPECT_NEAR(z.sds[1] / s, std::sqrt(14.0 / 3), 1e-12);
  EXPECT_NEAR(z.corr[packedIndex(1, 0)], 22.0 / std::sqrt(41.0 * 14.0), 1e-12);
}

TEST(StoredMatrix, DefaultsWhenRowsAreMissing) {
  // A covariance table without N: N = 10000, and under NOINT its means are
  // added back with W = N: (c (N - 1) + m^2 N) / N.
  Rows cov;
  cov.add("MEAN", "", {3, 2}).add("COV", "x", {7, 2}).add("COV", "y", {2, 1});
  Result r = assemble(cov, "COV", true);
  EXPECT_TRUE(has(r, 17));
  EXPECT_EQ(r.nObs, 10000);
  EXPECT_NEAR(r.sds[0], std::sqrt((7 * 9999.0 + 9 * 10000.0) / 10000), 1e-12);
  // An N row without a value is said to be empty, not absent.
  Rows emptyN = cov;
  emptyN.add("N", "", {M, M});
  Result e = assemble(emptyN, "COV", true);
  EXPECT_TRUE(has(e, 76));
  EXPECT_FALSE(has(e, 17));
  EXPECT_EQ(e.nObs, 10000);

  // Without MEAN rows: 0 when no conversion needs them, an error when it does.
  Rows corr;
  corr.add("N", "", {3, 3}).add("CORR", "x", {1, kR}).add("CORR", "y", {kR, 1});
  Result keep = assemble(corr, "CORR");
  EXPECT_TRUE(has(keep, 38));
  EXPECT_TRUE(has(keep, 39));
  EXPECT_EQ(keep.means[0], 0);
  EXPECT_EQ(keep.sds[1], 1);
  Result need = assemble(corr, "CORR", true);
  EXPECT_EQ(need.status, 108);
  EXPECT_TRUE(has(need, 36));

  Rows est;
  est.add("N", "", {3, 3}).add("COV", "x", {7, 2}).add("COV", "y", {2, 1});
  EXPECT_TRUE(has(assemble(est, "EST"), 35));

  // NOBS= stands for a missing N row, in the conversion too: crossproducts
  // about zero of the three observations give sqrt(41 / 3), not
  // sqrt(41 / 10000); no warning then. An EST table has no N to assume.
  Rows sscp;
  sscp.add("SSCP", "x", {41, 22}).add("SSCP", "y", {22, 14});
  const Result given = assemble(sscp, "SSCP", true, true, false, {"x", "y"}, {}, 3);
  EXPECT_FALSE(has(given, 17));
  EXPECT_EQ(given.nObs, 3);
  EXPECT_NEAR(given.sds[0], std::sqrt(41.0 / 3), 1e-12);
  Rows estNoN;
  estNoN.add("PARM", "", {3, 2}).add("COV", "x", {7, 2}).add("COV", "y", {2, 1});
  const Result noN = assemble(estNoN, "EST");
  EXPECT_EQ(noN.status, 108);
  EXPECT_TRUE(has(noN, 73));
  expectMoments(assemble(estNoN, "EST", false, true, false, {"x", "y"}, {}, 3));

  // N rows that disagree: the smallest, with message 11.
  Rows n;
  n.add("N", "", {5, 3}).add("COV", "x", {7, 2}).add("COV", "y", {2, 1});
  Result rn = assemble(n, "COV");
  EXPECT_TRUE(has(rn, 11));
  EXPECT_EQ(rn.nObs, 3);
}

// Rows without names go to the variables in order (the stored_variables
// program); one row more than there are variables stops the group.
TEST(StoredMatrix, RowsWithoutNamesGoInOrder) {
  Rows rows;
  rows.add("N", "", {3, 3}).add("COV", "", {7, 2}).add("COV", "", {2, 1}).add("COV", "", {1, 1});
  Result more = assemble(rows, "COV", false, false);
  EXPECT_EQ(more.status, 108);
  EXPECT_TRUE(has(more, 21));
}

// A partial analysis names its rows R_ + the variable's name, cut to 32
// characters: two 31-character names that differ in their last character
// give the same _NAME_, and their rows are taken in table order.
TEST(StoredMatrix, RowsNamedByACutPrefixedNameGoInOrder) {
  const std::string a = "abcdefghijklmnopqrstuvwxyz12345", b = "abcdefghijklmnopqrstuvwxyz12346";
  const std::vector<std::string> cut = cutPrefixedNames({a, b, "y"}, "R_");
  EXPECT_EQ(cut[0], "R_abcdefghijklmnopqrstuvwxyz1234");
  EXPECT_EQ(cut[1], cut[0]);
  EXPECT_EQ(cut[2], "");  // R_y fits: named whole
  EXPECT_TRUE(cutPrefixedNames({a}, "").front().empty());

  StoredLayout layout;
  layout.names = {a, b};
  layout.inputType = "FACTOR";
  layout.cutNames = cutPrefixedNames(layout.names, "R_");
  StoredMatrixAssembler m(layout, matrixWordFor("FACTOR"));
  EXPECT_TRUE(m.isCutName("r_ABCDEFGHIJKLMNOPQRSTUVWXYZ1234"));
  EXPECT_FALSE(m.isCutName(a));
  Rows rows;
  rows.add("N", "", {3, 3}).add("MEAN", "", {3, 2}).add("STD", "", {kSd[0], kSd[1]});
  rows.add("CORR", cut[0], {1, kR}).add("CORR", cut[1], {kR, 1});
  const Result res = assembleWith(layout, rows);
  expectMoments(res);
  EXPECT_TRUE(res.full.empty());
}

TEST(StoredMatrix, BadMatricesStopTheGroup) {
  auto corr = [](std::vector<double> a, std::vector<double> b, int nameClass = 0) {
    Rows r;
    r.add("N", "", {3, 3}).add("CORR", "x", a, M, nameClass).add("CORR", "y", b);
    return assemble(r, "CORR");
  };
  Result neg = corr({-1, 0}, {0, 1});
  EXPECT_EQ(neg.status, 108);
  EXPECT_TRUE(has(neg, 27));
  Result zero = corr({0, 0.5}, {0.5, 1});
  EXPECT_EQ(zero.status, 108);
  EXPECT_TRUE(has(zero, 26));
  // A variable without variance keeps its zero row and is no error.
  EXPECT_LE(corr({0, 0}, {0, 1}).status, 4);
  // Halves that agree within 0.0001 sqrt(a_ii a_jj) are one element.
  EXPECT_LE(corr({1, 0.5}, {0.50009, 1}).status, 4);
  EXPECT_TRUE(has(corr({1, 0.5}, {0.5002, 1}), 23));
  EXPECT_TRUE(has(corr({1, 0.5}, {0.5, 1}, 1), 13));
  Result unusable = corr({1, 0.5}, {0.5, 1}, 2);
  EXPECT_EQ(unusable.status, 108);
  EXPECT_TRUE(has(unusable, 14));

  // A second row of one kind with other values, as when two tables are put
  // one after the other without a BY variable, stops the group (67) rather
  // than replace the first; a copy within the rounding allowed between the
  // two halves of an element is one row (a second N row and an exact copy:
  // the stored_bad program).
  struct Twice {
    const char* what;
    std::vector<double> n2, x2;
    int status;
  };
  const Twice twice[] = {
      {"x row within rounding of y's half", {3, 3}, {1, 0.50009}, 4},
      {"x row with gap", {3, 3}, {1, M}, 4},
      {"x row differs", {3, 3}, {1, 0.4}, 108},
  };
  for (const Twice& c : twice) {
    SCOPED_TRACE(c.what);
    Rows r;
    r.add("N", "", {3, 3}).add("MEAN", "", {1, 2}).add("CORR", "x", {1, 0.5});
    r.add("CORR", "y", {0.5, 1}).add("N", "", c.n2).add("MEAN", "", {1, 2}).add("CORR", "x", c.x2);
    const Result res = assemble(r, "CORR");
    if (c.status == 108) {
      EXPECT_EQ(res.status, 108);
      EXPECT_TRUE(has(res, 67));
    } else {
      EXPECT_LE(res.status, 4);
      EXPECT_FALSE(has(res, 67));
      EXPECT_NEAR(res.corr[packedIndex(1, 0)], 0.5, 1e-4);
    }
  }
}

TEST(StoredMatrix, AlternativeMatrixAfterAMissingElement) {
  Rows r;
  r.add("N", "", {3, 3}).add("CORR", "x", {1, M}).add("UCOV", "x", {1, 1});
  r.add("COV", "x", {7, 2}).add("CORR", "y", {M, 1});
  Result first = assemble(r, "CORR");
  EXPECT_EQ(first.status, 108);
  EXPECT_EQ(first.alternative, "COV");  // CORR, COV, UCORR, UCOV in that order
  EXPECT_TRUE(has(first, 16));
  EXPECT_TRUE(has(first, 28));
  // An OUTSTAT= table of the other form has no row of the first word at
  // all: nothing is missing, a note says which rows are read. Under NOINT
  // the UCORR rows of a TYPE=FACTOR table are read first, as stored.
  Rows uncentred;
  uncentred.add("N", "", {3, 3}).add("MEAN", "", {3, 2}).add("USTD", "", {1, 1});
  uncentred.add("UCORR", "x", {1, 0.5}).add("UCORR", "y", {0.5, 1});
  Result other = assemble(uncentred, "FACTOR");
  EXPECT_EQ(other.alternative, "UCORR");
  ASSERT_EQ(other.full.size(), 1u);
  EXPECT_EQ(other.full[0].number, 75);
  EXPECT_EQ(other.full[0].word, "UCORR");
  EXPECT_EQ(other.full[0].absentWord, "CORR");
  Result asStored = assemble(uncentred, "FACTOR", true);
  EXPECT_EQ(asStored.status, 0);
  EXPECT_TRUE(asStored.full.empty());
  EXPECT_EQ(asStored.corr[1], 0.5);
  Rows none;
  none.add("N", "", {3, 3}).add("MEAN", "", {1, 1});
  Result empty = assemble(none, "CORR");
  EXPECT_TRUE(has(empty, 15));
  EXPECT_TRUE(empty.alternative.empty());
  EXPECT_TRUE(has(assemble(Rows{}, "CORR"), 5));
}

// With nothing to stand in, the group stops on an error that names the
// empty cell by its row and column (the stored_missing_cell program), or
// the variable that has no row (stored_bad); a matrix read before is not
// offered again.
TEST(StoredMatrix, MissingElementWithoutAlternativeNamesTheCell) {
  Rows both;
  both.add("N", "", {3, 3}).add("CORR", "x", {1, M}).add("CORR", "y", {M, 1});
  both.add("COV", "x", {7, M}).add("COV", "y", {M, 1});
  const Result r = assemble(both, "COV", false, true, false, {"x", "y"}, {"CORR", "COV"});
  EXPECT_EQ(r.status, 108);
  EXPECT_TRUE(r.alternative.empty());
  ASSERT_EQ(r.full.size(), 1u);
  EXPECT_EQ(r.full[0].number, 65);
  EXPECT_EQ(r.full[0].var, 1);
  EXPECT_EQ(r.full[0].other, 0);
}

// Matrices that no data can have stop the group. Notes: 60 out of range,
// 61 N below 1, 62 not semidefinite. The stored_invalid program checks a
// correlation of 1.5, N of -5 and 0, a covariance above sqrt(c11 c22), one
// rounded above 1 and a matrix only not semidefinite; here the other sides.
TEST(StoredMatrix, ImpossibleMatricesAndCountsStopTheGroup) {
  auto two = [](std::string word, std::vector<double> a, std::vector<double> b,
                std::vector<double> n = {3, 3}) {
    Rows r;
    r.add("N", "", n).add(word, "x", a).add(word, "y", b);
    return assemble(r, word);
  };
  auto sumwgt = [](double w) {
    Rows r;
    r.add("N", "", {3, 3}).add("SUMWGT", "", {w, w}).add("CORR", "x", {1, .5}).add("CORR", "y", {.5, 1});
    return assemble(r, "CORR");
  };
  struct Case {
    const char* what;
    Result r;
    int status;  // 108 stops the group, 4 at most goes on
    int note;
  };
  const Case cases[] = {
      {"correlation -1.01", two("CORR", {1, -1.01}, {-1.01, 1}), 108, 60},
      {"uncorrected covariance too", two("UCOV", {4, -6.5}, {-6.5, 9}), 108, 60},
      {"crossproducts too", two("SSCP", {4, 6.1}, {6.1, 9}), 108, 60},
      {"N row of 0.5", two("CORR", {1, .5}, {.5, 1}, {0.5, 0.5}), 108, 61},
      {"SUMWGT row of -5", sumwgt(-5), 108, 71},
      {"SUMWGT row of 0", sumwgt(0), 108, 71},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.status == 108) EXPECT_EQ(c.r.status, 108);
    else EXPECT_LE(c.r.status, c.status);
    EXPECT_TRUE(has(c.r, c.note));
  }
  // A negative standard deviation (70) would turn the signs of the
  // variable's covariances under COV.
  Rows negativeStd;
  negativeStd.add("N", "", {3, 3}).add("STD", "", {1, -2}).add("CORR", "x", {1, .5});
  negativeStd.add("CORR", "y", {.5, 1});
  const Result negative = assemble(negativeStd, "CORR");
  EXPECT_EQ(negative.status, 108);
  EXPECT_TRUE(has(negative, 70));
  // A standard deviation of 0 without correlations is a constant, and is
  // analysed as such (beside correlations it stops the group: 7zerostd of
  // the stored_invalid program).
  Rows constant;
  constant.add("N", "", {3, 3}).add("STD", "", {0, 2}).add("CORR", "x", {1, 0});
  constant.add("CORR", "y", {0, 1});
  EXPECT_LE(assemble(constant, "CORR").status, 4);
  // |c12| = sqrt(c11 c22) exactly is a perfect correlation, not an error.
  EXPECT_LE(two("COV", {4, 6}, {6, 9}).status, 4);
  EXPECT_FALSE(has(two("CORR", {1, .5}, {.5, 1}), 62));
}

}  // namespace
}  // namespace zulfact

namespace zulfact {
namespace {

// The moments-only read: MEAN, STD, N and SUMWGT rows, defaults for the
// rest, the divisor from the sum of weights (VARDEF=DF: W - 1).
TEST(StoredMoments, RowsAndDefaults) {
  StoredLayout layout;
  layout.names = {"x", "y"};
  layout.inputType = "FACTOR";
  double means[2], sds[2];
  auto run = [&](const Rows& rows, std::vector<int>& numbers) {
    std::vector<StoredRow> in(rows.types.size());
    for (size_t k = 0; k < in.size(); ++k) {
      in[k].type = rows.types[k];
      in[k].values = rows.values[k].data();
    }
    StoredOutput out{means, sds, nullptr};
    std::vector<StoredNote> notes;
    const int status = storedMoments(layout, in, out, notes);
    numbers.clear();
    for (const StoredNote& n : notes) numbers.push_back(n.number);
    return std::make_pair(status, out);
  };
  std::vector<int> notes;
  Rows rows;
  rows.add("MEAN", "", {3, M}).add("PATTERN", "Factor1", {9, 9}).add("N", "", {12, 12});
  rows.add("SUMWGT", "", {20, 21});
  auto [status, out] = run(rows, notes);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(means[0], 3);
  EXPECT_EQ(means[1], 0);  // missing: 0
  EXPECT_EQ(sds[0], 1);    // no STD row: 1
  EXPECT_EQ(out.nObs, 12);
  EXPECT_EQ(out.sumWeights, 20);  // the smallest, with message 12
  EXPECT_EQ(notes, std::vector<int>{12});
  EXPECT_EQ(out.varianceDivisor, 19);

  Rows noN;
  noN.add("STD", "", {2, 4});
  auto [s2, o2] = run(noN, notes);
  EXPECT_EQ(s2, 4);
  EXPECT_EQ(notes, std::vector<int>{17});
  Rows emptyN = noN;
  emptyN.add("N", "", {M, M});
  EXPECT_EQ(run(emptyN, notes).first, 4);
  EXPECT_EQ(notes, std::vector<int>{76});
  EXPECT_EQ(o2.nObs, 10000);
  EXPECT_EQ(o2.sumWeights, 10000);
  EXPECT_EQ(sds[1], 4);
  layout.nobs = 12;  // NOBS= in place of the missing N row
  auto [s4, o4] = run(noN, notes);
  EXPECT_EQ(s4, 0);
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(o4.varianceDivisor, 11);
  layout.nobs = M;

  auto [s3, o3] = run(Rows{}, notes);
  EXPECT_EQ(s3, 108);
  EXPECT_EQ(notes, std::vector<int>{5});

  Rows negativeStd;
  negativeStd.add("STD", "", {2, -4}).add("N", "", {12, 12});
  EXPECT_EQ(run(negativeStd, notes).first, 108);
  EXPECT_EQ(notes, std::vector<int>{70});
}

}  // namespace
}  // namespace zulfact
