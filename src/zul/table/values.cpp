// zul/table/values.cpp -- missing values, number text in both directions,
// and case-blind names.
#include <cstring>

#include "zul/table/csv.hpp"
#include "zul/table/table.hpp"

namespace zul::table {

double missingValue() {
  const uint64_t bits = 0xFFFFD10000000000ULL;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

bool isMissing(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits & 0x7FF0000000000000ULL) == 0x7FF0000000000000ULL;
}

int formatNumber(double x, char* out) {
  if (isMissing(x)) return 0;
  return detail::shortestNumber(x, out);
}

void appendNumberText(std::string& out, double x) {
  const size_t at = out.size();
  out.resize(at + 32);
  out.resize(at + static_cast<size_t>(formatNumber(x, out.data() + at)));
}

std::string formatNumber(double x) {
  char buf[32];
  return std::string(buf, static_cast<size_t>(formatNumber(x, buf)));
}

bool parseNumber(std::string_view text, double& out) {
  if (detail::classifyNumber(text.data(), text.size(), true) != detail::NumberClass::Number)
    return false;
  return detail::convertNumber(text.data(), text.size(), out);
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace zul::table
