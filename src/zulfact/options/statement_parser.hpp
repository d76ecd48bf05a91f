// The statement parser's working record, private to options/: what one
// step's parse reads (the parsed-statement record) and the facts it derives
// on the way (the input type, the factor count, the rotation list) that
// several concerns share. parseStatement() runs the concerns in a fixed
// order, because messages and host calls follow that order; each concern
// lives in the file of its subject:
//
//   parse_statement.cpp      the order, the tables and the analysis variables
//   parse_method.cpp         METHOD=, tests, priors, weighting, method checks
//   parse_rotation.cpp       ROTATE=, PREROTATE= and the implied rotation
//   parse_factor_count.cpp   NFACTORS=, MAP, parallel analysis, the seed
//   parse_output.cpp         printing, graphs, factor names, OUT=, OUTSTAT=
//   step_arrays.cpp          the per-run arrays from the host pool
//   engine_setup.cpp         threads and the numeric engine
//   parse_log.cpp            the "-zparse" log lines
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zulfact/host/host.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/proc_state.hpp"
#include "zul/abi.h"

namespace zulfact::detail {

// An integer option as int32: values beyond its range are held at its
// ends (the grammar checks integrality, not every bound).
int32_t toInt(double v);
// Raises the completion code to `code` and ends the step (no return).
[[noreturn]] void stop(ProcState& ps, int code);
std::string upper(std::string s);
std::string trimRight(std::string s);
// Copies text into an n-character field, blank padded, NUL after it.
void setPadded(char* field, size_t n, std::string_view text);

// Read access to the parsed-statement record.
class Parsed {
 public:
  explicit Parsed(const zul_parsed& r) : r_(r) {}
  bool bit(int b) const { return zul_flag_test(r_.flags, b) != 0; }
  bool given(int s) const { return r_.slots[s].given != 0; }
  double number(int s, double dflt) const { return given(s) ? r_.slots[s].v.number : dflt; }
  std::string text(int s) const {
    const zul_slot& sl = r_.slots[s];
    if (!sl.given || !sl.data) return {};
    return std::string(static_cast<const char*>(sl.data), static_cast<size_t>(sl.count));
  }
  const zul_code_list* codes(int s) const {
    return given(s) ? static_cast<const zul_code_list*>(r_.slots[s].data) : nullptr;
  }
  const zul_varlist& list(int l) const { return r_.lists[l]; }
  const zul_slot& slot(int s) const { return r_.slots[s]; }
  const zul_parsed& record() const { return r_; }

 private:
  const zul_parsed& r_;
};

// Host pool arrays of the step. A size of 2,147,483,647 bytes or more is
// never requested: it raises the completion code to 1016 instead, as does
// a pool that cannot give the block.
class Arrays {
 public:
  explicit Arrays(StepRecord& ps) : ps_(ps) {}
  template <class T>
  T* get(double count) {
    double bytes = std::max(count, 1.0) * static_cast<double>(sizeof(T));
    if (!(bytes < kMaxAllocationBytes)) {
      raiseCode(ps_, kCodeMemory);
      return nullptr;
    }
    void* p = host().alloc(bytes, kPoolFlags);
    if (!p) raiseCode(ps_, kCodeMemory);
    return static_cast<T*>(p);
  }

 private:
  static constexpr uint32_t kPoolFlags = 0x3006;
  StepRecord& ps_;
};

// One step's parse, concern by concern (see the file comment).
class StatementParser {
 public:
  StatementParser(StepRecord& ps, const zul_parsed& record)
      : ps_(ps), h_(host()), rec_(record), arrays_(ps), missing_(ps.missing) {}

  // Runs every concern in order; ends the step through the host on a
  // failure above 999.
  void run();

 private:
  // parse_statement.cpp
  void dataSets();
  void analysisVariables();
  void targetTable();
  // parse_method.cpp
  void methodOptions();
  void testOptions();
  void weighting();
  void priors();
  void methodChecks();
  // parse_rotation.cpp
  void rotationOptions();
  void checkPowerUsed();
  void checkRotationParameters(const char* option, const int32_t* codes, const double* values,
                               const int32_t* positions, int count);
  // parse_factor_count.cpp
  void factorCountOptions();
  void randomSeed();
  void warnSeedIsModulus(const char* option, double seed);
  void criteriaAgainstMethod();
  void parallelSettings();
  // parse_output.cpp
  void displayOptions();
  void keywordOptions();
  void openSink();
  void graphRequests();
  void factorNamePrefix();
  void factorNames();
  void outTable();
  void outstatTable();
  // parse_path.cpp
  void pathRequests();
  void checkPathLabels(const PathRequest& r);
  // step_arrays.cpp
  void allocateArrays();
  // engine_setup.cpp
  void createEngine();

  std::string varName(int i) const { return std::string(ps_.opt.varNames + 33 * i); }

  StepRecord& ps_;
  Host& h_;
  const Parsed rec_;
  Arrays arrays_;
  const double missing_;

  std::string inputType_;        // DATA='s type, upper case, no blanks
  int p_ = 0;                    // analysis variables
  int m_ = 0;                    // factors to extract
  bool hypGiven_ = false;        // HYPVALUE= given
  bool prerotationGiven_ = false;
  bool priorsStatementWord_ = false;  // the priors method came from a PRIORS statement
  bool nFactorsGiven_ = false;
  std::vector<int32_t> rotations_;  // the last ROTATE= list
  std::string prefix_;           // factor-name prefix
  std::string parPrefix_;        // PARPREFIX=
  bool hasFactorNames_ = false;
  std::vector<std::string> factorNames_;
};

// The "-zparse" log lines: the options as the parser left them.
void logOptions(const ProcState& ps);

}  // namespace zulfact::detail
