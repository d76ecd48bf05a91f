// Completion codes of a step, and the words that name a method or a priors
// method in messages and titles: one place for both, so that every folder
// raises the same number for the same failure and names a method alike.
//
// Codes combine with max(): the highest one reached is the step's. Up to
// kCodeWarning the step counts as successful; from kCodeStopped on the
// step ends.
#pragma once

#include <cctype>
#include <string_view>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

enum CompletionCode : int32_t {
  kCodeWarning = 4,          // warnings issued, reported to the host as 0
  kCodeNoData = 108,         // a BY group without usable data, skipped
  kCodeSingular = 112,       // a singular matrix; the fallbacks apply
  kCodeSinkStatus = 120,     // an unexpected status of the output-table sink
  kCodeStopped = 1000,       // the lowest code that ends the step
  kCodeBadVariables = 1008,  // bad or missing variables, a BY mismatch
  kCodeEngine = 1012,        // numeric engine, toolkit or catalog failure
  kCodeMemory = 1016,        // memory
  kCodeWorkFile = 1020,      // host work-file failure
  kCodeNotAllowed = 2000,    // an option not allowed with the input or method
  kCodeConflict = 3000,      // conflicting options
  kCodeInternal = 9999,      // internal fault
};

// Raises the step's completion code to at least `code`.
inline void raiseCode(ProcState& ps, int32_t code) {
  if (ps.completionCode < code) ps.completionCode = code;
}

// METHOD= as the statement spells it ("" for an unknown code).
inline const char* methodWord(int32_t method) {
  switch (method) {
    case kMethodPrincipal: return "PRINCIPAL";
    case kMethodUls: return "ULS";
    case kMethodPrinit: return "PRINIT";
    case kMethodAlpha: return "ALPHA";
    case kMethodMl: return "ML";
    case kMethodGls: return "GLS";
    case kMethodFuller: return "FULLER";
    case kMethodHarris: return "HARRIS";
    case kMethodImage: return "IMAGE";
    case kMethodPattern: return "PATTERN";
    case kMethodScore: return "SCORE";
    default: return "";
  }
}

// True when a table TYPE= word names a stored matrix (CORR, COV, UCORR,
// UCOV, FACTOR, SSCP, ACE, EST) rather than raw data. Trailing blanks and
// NULs are ignored, and so is case: "corr    " is a stored matrix.
inline bool isStoredMatrixType(std::string_view type) {
  while (!type.empty() && (type.back() == ' ' || type.back() == '\0')) type.remove_suffix(1);
  static constexpr std::string_view kTypes[] = {"CORR", "COV",  "UCORR", "UCOV",
                                                "FACTOR", "SSCP", "ACE",   "EST"};
  for (std::string_view k : kTypes) {
    if (k.size() != type.size()) continue;
    bool same = true;
    for (size_t i = 0; i < k.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(type[i])) == k[i];
    if (same) return true;
  }
  return false;
}

// PRIORS= as the statement spells it ("" for none or an unknown code).
inline const char* priorsWord(int32_t priors) {
  switch (priors) {
    case kPriorsSmc: return "SMC";
    case kPriorsInput: return "INPUT";
    case kPriorsMax: return "MAX";
    case kPriorsAsmc: return "ASMC";
    case kPriorsOne: return "ONE";
    case kPriorsRandom: return "RANDOM";
    case kPriorsNumeric: return "NUMERIC";
    default: return "";
  }
}

}  // namespace zulfact
