// The variance divisor chosen by VARDEF=, shared by the raw-data engine and
// the stored-matrix reader.
#pragma once

#include <string_view>

namespace zulfact {

// Divisor of the corrected sums of squares for `vardef` (the 8-character
// VARDEF= value, blank padded), N observations, k parameters fitted (1 for
// the intercept, 0 under NOINT, plus swept partial variables) and sum of
// weights W. The value is recognised by its second character:
//   "DF"             'F'      max(0, N - k)
//   "N", blank       ' '      max(0, N)
//   "WEIGHT", "WGT"  'E','G'  max(0, W)
//   "WDF"            'D'      W - k, or 0 when W - k is lost in rounding
//                             against k (0.0001 (W - k) + k == k); never < 0
// Anything else sets *invalid (when given) and falls back to max(0, N - k).
double vardefDivisor(std::string_view vardef, double n, double k, double w,
                     bool* invalid = nullptr);

// As vardefDivisor, and writes "ERROR: invalid VARDEF=<value>." to the log
// for an unrecognised value. Defined with the host-facing engine code.
double vardefDivisorLogged(std::string_view vardef, double n, double k, double w);

// True when `vardef` names the given divisor kind, ignoring trailing blanks.
bool vardefIs(std::string_view vardef, std::string_view name);

}  // namespace zulfact
