// Stored-matrix input: a table of TYPE CORR, COV, UCORR, UCOV, SSCP,
// FACTOR, ACE or EST read for one BY group into what the raw-data pass
// delivers (means, standard deviations, N, sum of weights, the variance
// divisor and the correlation matrix in the wanted form).
//
// The work is split in two: StoredMatrixAssembler takes the rows of one
// group and does every check, default and conversion without the host
// (so that the arithmetic is tested on its own); readStoredMatrix and
// readStoredMoments bind the table through the host, feed the rows, issue
// the group-230 messages the assembler noted and reread the group when an
// alternative matrix must be used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// What kind of matrix the rows of a matrix word hold.
enum class StoredKind { Correlation, Covariance, Crossproducts };

// The matrix word that the table's TYPE reads first ("CORR" for FACTOR,
// "UCORR" for FACTOR under NOINT, as OUTSTAT= writes them; "COV" for EST);
// empty when the TYPE is none of the stored kinds.
std::string matrixWordFor(std::string_view inputType, bool aboutZero = false);
StoredKind kindOfWord(std::string_view word);
bool storedAboutZero(std::string_view word);

// One row of the group as the reader bound it.
struct StoredRow {
  std::string_view type;  // _TYPE_ upper-cased, 8 characters; empty without _TYPE_
  std::string_view typeText;  // _TYPE_ as given (up to 32 characters, no trailing blanks)
  std::string_view name;  // _NAME_ without trailing blanks; empty without _NAME_
  int nameClass = 0;      // the host's name check: 0 ordinary, 1 skip, 2 unusable
  const double* values = nullptr;  // one per variable
  double intercept = 0;   // the SSCP intercept column (missing when absent)
  int64_t line = 0;       // the row's line in the table, for messages
};

// A message the reader must issue (group 230), with the variables it names
// (indices into the layout's names, -1 for none) and the matrix word.
struct StoredNote {
  int number = 0;
  std::string word;
  int var = -1;
  int other = -1;
  double value = 0;      // the number the message gives, when hasValue
  bool hasValue = false;
  std::string rowType{};  // a repeated row: its _TYPE_ and line
  int64_t line = 0;
  std::string absentWord{};  // the matrix word of which the table has no row
};

struct StoredLayout {
  std::vector<std::string> names;  // the nAll variables, in analysis order
  std::string inputType;           // upper case, no trailing blanks
  bool hasType = true;
  bool hasName = true;
  bool hasIntercept = false;       // SSCP: an INTERCEP(T) column exists
  bool wantAboutZero = false;      // NOINT, or the SSCP intercept is a VAR variable
  std::string vardef = "DF";
  double nobs = zul_missing();     // NOBS=: the N of a table without an N row
  // Per variable, the _NAME_ that a partial analysis's OUTSTAT= gives its
  // matrix row when PARPREFIX= and the name pass 32 characters: the two cut
  // to 32 (empty when they fit). Rows so named are matched in table order.
  std::vector<std::string> cutNames;
};

// The cutNames of a layout: prefix + name cut to 32 characters where that
// cuts it, else empty.
std::vector<std::string> cutPrefixedNames(const std::vector<std::string>& names,
                                          std::string_view prefix);

// The results, in the places the data pass keeps them.
struct StoredOutput {
  double* means = nullptr;     // n
  double* stdDevs = nullptr;   // n
  double* corr = nullptr;      // packed n(n+1)/2
  double nObs = 0;
  double sumWeights = 0;
  double varianceDivisor = 0;
};

class StoredMatrixAssembler {
 public:
  StoredMatrixAssembler(const StoredLayout& layout, std::string word);

  // Whether a row of this _TYPE_ is a row of the matrix being read.
  bool isMatrixRow(std::string_view type) const;
  // The name is one of the layout's cutNames.
  bool isCutName(std::string_view name) const;

  // One row of the group, in table order.
  void addRow(const StoredRow& row);
  // Checks, defaults and conversion. Returns 0, 4 (warnings), 108 (the
  // group cannot be analysed) and fills `out` only below 108. A matrix no
  // data can give (an element beyond the root of its two diagonals by more
  // than rounding), an N row below 1 and a standard deviation of 0 beside
  // correlations give 108; a matrix that is not positive semidefinite gives
  // a warning naming its smallest eigenvalue. When it returns 108 with a
  // non-empty alternative(), the group should be read again with that
  // matrix word (message 28 is noted).
  int finish(StoredOutput& out);
  const std::string& alternative() const { return alternative_; }
  // Matrix words read before in this group: not offered as alternatives.
  void setTried(std::vector<std::string> words) { tried_ = std::move(words); }
  const std::vector<StoredNote>& notes() const { return notes_; }

 private:
  void matrixRow(int row, const StoredRow& r);
  void note(int number, int var = -1, int other = -1);
  bool repeated(std::vector<double>& kept, bool& given, const StoredRow& r);
  bool repeatedMatrixRow(int i, const StoredRow& r);
  void noteRepeated(const StoredRow& r, int var);
  int validate();
  int checkBounds();
  void checkSemidefinite(const double* corr, int& status);
  void defaults(int& status);
  bool zeroStdCorrelated(const std::vector<double>& s);
  void convert(StoredOutput& out, int& status);
  // The stored matrix and the moments the conversion takes, possibly scaled.
  struct ConversionMoments {
    std::vector<double> a, sd, mean, sums;
  };
  int conversionExponent(double d1, double w, bool recentre, bool sscpSums) const;
  ConversionMoments scaledMoments(int k) const;
  void warnOfCancellation(const ConversionMoments& m, bool sscpSums, double w, int& status);
  double& at(int i, int j);

  const StoredLayout& layout_;
  std::string word_;
  StoredKind kind_;
  bool storedZero_;
  int n_;
  std::vector<double> a_;         // packed, missing until a row sets it
  std::vector<int> setBy_;        // packed: the row index that stored the element
  std::vector<bool> rowGiven_;    // a row of the variable was read
  std::vector<double> mean_, std_, ustd_, parm_, sums_;
  // The N and SUMWGT rows as read, and which moment rows were read, so
  // that a second row of a kind with other values is caught.
  std::vector<double> nValues_, sumwgtValues_;
  bool nGiven_ = false, sumwgtGiven_ = false, meanGiven_ = false, stdGiven_ = false,
       ustdGiven_ = false, parmGiven_ = false;
  double nRow_, sumwgtRow_, interceptW_;
  double nRowLeast_;              // the N row's smallest value, below 0 too
  double sumwgtLeast_;            // the same of the SUMWGT row
  bool anyRow_ = false, nameProblem_ = false, tooManyRows_ = false, interceptRow_ = false;
  bool notedSkip_ = false, conflict_ = false;
  int matrixRows_ = 0;
  int lastMatched_ = -1;
  std::vector<std::string> alternativesSeen_, tried_;
  std::string alternative_;
  std::vector<StoredNote> notes_;
};

// True when some reader of a stored table uses rows of this _TYPE_ (upper
// case, 8 characters): the rows any OUTSTAT= table is written with, the
// matrix words, PARM and FACTOR, and for an EST table every COV... row.
bool isKnownRowType(std::string_view inputType, std::string_view type);

// The moments alone from the rows of one group (MEAN, STD, N and SUMWGT;
// every other row is passed over): means 0, standard deviations 1 and
// N = NOBS= (else 10000) where the table gives none, the sum of weights N
// without a SUMWGT row, and the VARDEF= divisor of the sum of weights.
// `out.corr` is not used. Returns 0, 4 (no N row nor NOBS=) or 108 (no row
// at all, or an N row below 1); the messages to issue go to `notes`.
int storedMoments(const StoredLayout& layout, const std::vector<StoredRow>& rows,
                  StoredOutput& out, std::vector<StoredNote>& notes);

// The matrix reader of one BY group (ps.mainInput positioned on it): fills
// means, stdDevs, corrMatrix (nAll), nObs, sumWeights, varianceDivisor and
// the observation counts. Returns 0, 4, 108; ends the step with 1008 when
// _TYPE_, _NAME_ or the intercept variable has the wrong type.
int readStoredMatrix(ProcState& ps);

// The moments-only reader (METHOD=PATTERN or SCORE without a need for the
// correlations): MEAN, STD, N and SUMWGT rows. Returns 0, 4 or 108.
int readStoredMoments(ProcState& ps);

}  // namespace zulfact
