#include "zulfact/data/vardef.hpp"

#include <algorithm>

namespace zulfact {

double vardefDivisor(std::string_view vardef, double n, double k, double w, bool* invalid) {
  if (invalid) *invalid = false;
  char second = vardef.size() >= 2 ? vardef[1] : ' ';
  if (second >= 'a' && second <= 'z') second = static_cast<char>(second - 'a' + 'A');
  switch (second) {
    case 'F':
      return std::max(0.0, n - k);
    case ' ':
    case '\0':
      return std::max(0.0, n);
    case 'E':
    case 'G':
      return std::max(0.0, w);
    case 'D': {
      const double d = w - k;
      // W - k that vanishes beside k in floating point is treated as 0: the
      // weights then carry no degrees of freedom beyond the fitted ones.
      if (0.0001 * d + k == k) return 0.0;
      return std::max(0.0, d);
    }
    default:
      if (invalid) *invalid = true;
      return std::max(0.0, n - k);
  }
}

bool vardefIs(std::string_view vardef, std::string_view name) {
  while (!vardef.empty() && (vardef.back() == ' ' || vardef.back() == '\0')) vardef.remove_suffix(1);
  if (vardef.size() != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = vardef[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != name[i]) return false;
  }
  return true;
}

}  // namespace zulfact
