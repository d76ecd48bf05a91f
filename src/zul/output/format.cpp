#include "zul/output/format.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace zul::output {

namespace {

constexpr int kBestWidth = 12;
constexpr int kAutoWidth = 10;
constexpr int kMaxDigits = 17;  // enough for any double

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  }
  return true;
}

// Reads "w.d", "w." or "w" into width and decimals.
bool parseWidthDecimals(std::string_view s, int& width, int& decimals) {
  size_t i = 0;
  int w = 0, d = 0;
  bool digits = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
    w = w * 10 + (s[i++] - '0');
    digits = true;
    if (w > 1000) return false;
  }
  if (!digits) return false;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      d = d * 10 + (s[i++] - '0');
      if (d > 100) return false;
    }
  }
  if (i != s.size() || w == 0) return false;
  width = w;
  decimals = std::min(d, kMaxDigits);
  return true;
}

// "-0.00" and the like print without the sign: a value that rounds to
// zero is zero in a listing.
std::string dropNegativeZero(std::string s) {
  if (!s.empty() && s[0] == '-' &&
      s.find_first_not_of("0.", 1) == std::string::npos) {
    s.erase(0, 1);
  }
  return s;
}

std::string fixed(double x, int decimals, int width) {
  for (int d = decimals; d >= 0; --d) {
    std::string s = dropNegativeZero(fmt::format("{:.{}f}", x, d));
    if (static_cast<int>(s.size()) <= width) return s;
  }
  // Too large for the width even without decimals: exponent form, with as
  // many digits as fit (at least one).
  for (int p = std::max(0, width - 7); p >= 0; --p) {
    std::string s = fmt::format("{:.{}E}", x, p);
    if (static_cast<int>(s.size()) <= width || p == 0) return s;
  }
  return fmt::format("{:E}", x);
}

std::string best(double x, int width) {
  if (x == std::floor(x) && std::fabs(x) < 1e15) {
    std::string s = dropNegativeZero(fmt::format("{:.0f}", x));
    if (static_cast<int>(s.size()) <= width) return s;
  }
  for (int p = std::min(width, kMaxDigits); p >= 1; --p) {
    std::string s = fmt::format("{:.{}G}", x, p);
    if (static_cast<int>(s.size()) <= width || p == 1) return dropNegativeZero(s);
  }
  return fmt::format("{}", x);
}

// Digits of a fixed-point text from its first nonzero digit on.
int significantDigits(std::string_view s) {
  int n = 0;
  bool started = false;
  for (char c : s) {
    if (c == 'E' || c == 'e') break;
    if (c < '0' || c > '9') continue;
    started = started || c != '0';
    if (started) ++n;
  }
  return n;
}

}  // namespace

std::string NumericFormat::text() const {
  switch (kind) {
    case Kind::Best: return fmt::format("BEST{}.", width);
    case Kind::PValue: return fmt::format("PVALUE{}.{}", width, decimals);
    case Kind::Fixed: break;
  }
  return decimals > 0 ? fmt::format("{}.{}", width, decimals) : fmt::format("{}.0", width);
}

NumericFormat parseFormat(std::string_view text, int formatWidth) {
  NumericFormat f;
  f.width = formatWidth > 0 ? formatWidth : kBestWidth;
  int w = 0, d = 0;
  if (text.empty()) return f;
  if (startsWithNoCase(text, "RF") && text.size() == 2) {
    f.kind = NumericFormat::Kind::Fixed;
    f.width = formatWidth > 0 ? formatWidth : kAutoWidth;
    f.automatic = true;
  } else if (startsWithNoCase(text, "BEST")) {
    if (parseWidthDecimals(text.substr(4), w, d)) f.width = w;
  } else if (startsWithNoCase(text, "PVALUE")) {
    if (parseWidthDecimals(text.substr(6), w, d)) {
      f.kind = NumericFormat::Kind::PValue;
      f.width = w;
      f.decimals = std::max(d, 1);
    }
  } else if (parseWidthDecimals(text, w, d)) {
    f.kind = NumericFormat::Kind::Fixed;
    f.width = w;
    f.decimals = d;
  }
  return f;
}

int autoDecimals(double maxAbs, bool hasNegative, int width) {
  int integerDigits = 1;
  if (maxAbs > 0 && std::isfinite(maxAbs)) {
    double tenth = maxAbs / 10;
    integerDigits = std::max(1, static_cast<int>(std::floor(std::log10(tenth))) + 2);
  }
  int decimals = width - integerDigits - 1 - (hasNegative ? 1 : 0);
  return std::clamp(decimals, 0, std::max(0, width - 2));
}

NumericFormat resolveFormat(const Column& column, const std::vector<std::vector<Value>>& rows,
                            size_t index) {
  NumericFormat f = parseFormat(column.format, column.formatWidth);
  if (!f.automatic) return f;
  double maxAbs = 0;
  bool negative = false;
  for (const auto& row : rows) {
    if (index >= row.size() || !row[index].isNumber()) continue;
    double x = row[index].number;
    if (!std::isfinite(x)) continue;
    maxAbs = std::max(maxAbs, std::fabs(x));
    negative = negative || x < 0;
  }
  f.decimals = autoDecimals(maxAbs, negative, f.width);
  f.automatic = false;
  f.keepDigits = true;
  return f;
}

std::string formatNumber(double x, const NumericFormat& format) {
  if (!std::isfinite(x)) return {};
  switch (format.kind) {
    case NumericFormat::Kind::Best:
      return best(x, format.width);
    case NumericFormat::Kind::PValue: {
      double floorValue = std::pow(10.0, -format.decimals);
      if (x >= 0 && x < floorValue) {
        return "<." + std::string(static_cast<size_t>(format.decimals - 1), '0') + "1";
      }
      return fixed(x, format.decimals, format.width);
    }
    case NumericFormat::Kind::Fixed:
      break;
  }
  int decimals = format.automatic ? autoDecimals(std::fabs(x), x < 0, format.width)
                                  : format.decimals;
  std::string s = fixed(x, decimals, format.width);
  if (format.keepDigits && x != 0 && significantDigits(s) < 2) return best(x, format.width);
  return s;
}

}  // namespace zul::output
