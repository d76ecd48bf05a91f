// zul/table/db_dates.cpp -- ISO 8601 text to zul's day and second counts
// and back, with the civil-calendar algorithms of Hinnant ("chrono-
// compatible low-level date algorithms", 2013).
#include "zul/table/db_dates.hpp"

#include <cmath>
#include <cstdio>

namespace zul::table::db {

namespace {

constexpr long kEpoch1960 = -3653;  // 1960-01-01 in days since 1970-01-01
constexpr double kDay = 86400.0;

long daysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void civilFromDays(long z, long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<long>(yoe) + era * 400 + (m <= 2);
}

// Reads exactly n digits at p[i]; false when they are not digits.
bool digits(std::string_view s, size_t& i, int n, long& out) {
  if (s.size() - i < static_cast<size_t>(n)) return false;
  out = 0;
  for (int k = 0; k < n; ++k, ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

bool expect(std::string_view s, size_t& i, char c) {
  if (i >= s.size() || s[i] != c) return false;
  ++i;
  return true;
}

// A year of four digits or more (PostgreSQL writes 10000-01-01); `bc` (the
// text ended in " BC") counts it back: 1 BC is the astronomical year 0.
bool readDate(std::string_view s, size_t& i, bool bc, double& days) {
  long y, m, d;
  if (!digits(s, i, 4, y)) return false;
  for (long more, n = 4; i < s.size() && s[i] >= '0' && s[i] <= '9' && n < 9; ++n) {
    digits(s, i, 1, more);
    y = y * 10 + more;
  }
  if (!expect(s, i, '-') || !digits(s, i, 2, m) || !expect(s, i, '-') || !digits(s, i, 2, d)) return false;
  if (m < 1 || m > 12 || d < 1 || d > 31 || (bc && y == 0)) return false;
  if (bc) y = 1 - y;
  days = static_cast<double>(daysSince1960(y, static_cast<unsigned>(m), static_cast<unsigned>(d)));
  return true;
}

bool readTime(std::string_view s, size_t& i, double& seconds) {
  long h, mi, se;
  if (!digits(s, i, 2, h) || !expect(s, i, ':') || !digits(s, i, 2, mi)) return false;
  se = 0;
  long nanos = 0;
  if (i < s.size() && s[i] == ':') {
    if (!(++i, digits(s, i, 2, se))) return false;
    // A fraction follows the seconds only. Its first nine digits count (to
    // the nanosecond, as one exact division), the others are dropped.
    if (i < s.size() && s[i] == '.') {
      int n = 0;
      for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++n)
        if (n < 9) nanos = nanos * 10 + (s[i] - '0');
      for (; n < 9; ++n) nanos *= 10;
    }
  }
  if (h > 24 || mi > 59 || se > 60) return false;
  seconds = static_cast<double>(h * 3600 + mi * 60 + se) + static_cast<double>(nanos) / 1e9;
  return true;
}

// "+HH", "+HH:MM", "+HHMM", "Z" after a time: its offset in seconds.
bool readOffset(std::string_view s, size_t& i, double& offset) {
  offset = 0;
  if (i == s.size()) return true;
  if (s[i] == 'Z') return ++i == s.size();
  if (s[i] != '+' && s[i] != '-') return false;
  const double sign = s[i] == '-' ? -1 : 1;
  ++i;
  long h, m = 0;
  if (!digits(s, i, 2, h)) return false;
  const bool colon = i < s.size() && s[i] == ':';
  if (colon) ++i;
  if ((colon || i < s.size()) && !digits(s, i, 2, m)) return false;
  offset = sign * static_cast<double>(h * 3600 + m * 60);
  return i == s.size();
}

}  // namespace

long daysSince1960(long y, unsigned m, unsigned d) { return daysFromCivil(y, m, d) - kEpoch1960; }

bool parseTemporal(ColumnKind kind, std::string_view s, double& out) {
  size_t i = 0;
  double day = 0, sec = 0, offset = 0;
  const bool bc = s.size() > 3 && s.substr(s.size() - 3) == " BC";
  if (bc) s.remove_suffix(3);
  if (kind == ColumnKind::Time) {
    if (bc || !readTime(s, i, sec) || !readOffset(s, i, offset)) return false;
    out = sec;  // a time of day keeps its clock reading
    return true;
  }
  if (kind != ColumnKind::Date && kind != ColumnKind::Timestamp) return false;
  if (!readDate(s, i, bc, day)) return false;
  if (i < s.size() && (s[i] == ' ' || s[i] == 'T')) {
    ++i;
    if (!readTime(s, i, sec) || !readOffset(s, i, offset)) return false;
  } else if (i != s.size()) {
    return false;
  }
  // A time after a date (text SQLite keeps in any column) leaves the day
  // as written, whatever its offset; a timestamp is counted in UTC.
  out = kind == ColumnKind::Date ? day : day * kDay + sec - offset;
  return true;
}

namespace {

// The date, and whether it is before the year 1, which is written with
// its year counted back and " BC" at the end of the value.
std::string dateText(long days, bool& bc) {
  long y;
  unsigned m, d;
  civilFromDays(days + kEpoch1960, y, m, d);
  bc = y <= 0;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04ld-%02u-%02u", bc ? 1 - y : y, m, d);
  return buf;
}

// Seconds since midnight (0 <= s < 86400) as HH:MM:SS[.ffffff].
std::string timeText(double s) {
  long micros = std::lround(s * 1e6);
  const long whole = micros / 1000000;
  micros %= 1000000;
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                        whole % 60);
  if (micros) std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%06ld", micros);
  return buf;
}

}  // namespace

std::string formatTemporal(ColumnKind kind, double v) {
  if (!std::isfinite(v)) return {};
  switch (kind) {
    case ColumnKind::Date: {
      bool bc;
      const std::string date = dateText(static_cast<long>(std::floor(v)), bc);
      return bc ? date + " BC" : date;
    }
    case ColumnKind::Time:
      return timeText(v - std::floor(v / kDay) * kDay);
    case ColumnKind::Timestamp: {
      // Rounded to the microsecond first, so that 23:59:59.9999999 moves
      // to the next day rather than printing 24:00:00.
      const double r = std::round(v * 1e6) / 1e6;
      const double day = std::floor(r / kDay);
      bool bc;
      const std::string stamp = dateText(static_cast<long>(day), bc) + " " + timeText(r - day * kDay);
      return bc ? stamp + " BC" : stamp;
    }
    default:
      return {};
  }
}

}  // namespace zul::table::db
