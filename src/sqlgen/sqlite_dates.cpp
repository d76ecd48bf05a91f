#include "sqlgen/sqlite_dates.hpp"

namespace sqlgen {

namespace {

// Each step names the values it computes for the next, in a derived
// table: a correlated scalar subquery over one row, so that the column's
// text is read once per value rather than written out at every use.
std::string from(const std::string& columns, const std::string& inner) {
  return "(select " + columns + " from " + inner + ")";
}

// "HH:MM[:SS[.f]]" then an offset, in `u`: its clock reading in seconds,
// less the offset when `lessOffset`, or null. Digits of the fraction past
// the ninth are dropped (the nanosecond), as the rows read one by one do.
std::string clock(const std::string& u, bool lessOffset) {
  const std::string q =
      "coalesce(nullif(instr(u, '+'), 0), nullif(instr(u, '-'), 0), nullif(instr(u, 'Z'), 0), length(u) + 1)";
  const std::string parts = from("substr(u, 1, q - 1) as t, substr(u, q) as o",
                                 from("u, " + q + " as q", "(select " + u + " as u)"));
  const std::string timeOk =
      "(t glob '[0-9][0-9]:[0-9][0-9]' or t glob '[0-9][0-9]:[0-9][0-9]:[0-9][0-9]' or "
      "(t glob '[0-9][0-9]:[0-9][0-9]:[0-9][0-9].*' and substr(t, 10) not glob '*[^0-9]*'))";
  const std::string h = "cast(substr(t, 1, 2) as integer)", m = "cast(substr(t, 4, 2) as integer)",
                    s = "cast(substr(t, 7, 2) as integer)";
  const std::string offsetOk =
      "(o in ('', 'Z') or (substr(o, 1, 1) in ('+', '-') and (substr(o, 2) glob '[0-9][0-9]' or "
      "substr(o, 2) glob '[0-9][0-9][0-9][0-9]' or substr(o, 2) glob '[0-9][0-9]:[0-9][0-9]')))";
  const std::string offset =
      " - (case when length(o) < 3 then 0 else (case when substr(o, 1, 1) = '-' then -1 else 1 end) * "
      "(cast(substr(o, 2, 2) as integer) * 3600 + cast(substr(o, length(o) - 1, 2) as integer) * "
      "(case when length(o) > 3 then 60 else 0 end)) end)";
  return from("case when " + timeOk + " and " + offsetOk + " and " + h + " <= 24 and " + m + " <= 59 and " + s +
                  " <= 60 then " + h + " * 3600 + " + m + " * 60 + " + s +
                  " + cast(substr(substr(t, 10) || '000000000', 1, 9) as integer) / 1e9" +
                  (lessOffset ? offset : "") + " end",
              parts);
}

// The date at the start of `column`'s text: `days` (null when it is none)
// and `rest`, the text after it.
std::string dateParts(const std::string& column) {
  std::string t = "(select " + column + " as v)";
  t = from("v, length(v) > 3 and substr(v, -3) = ' BC' as bc", t);
  t = from("bc, case when bc then substr(v, 1, length(v) - 3) else v end as b", t);
  t = from("bc, b, instr(b, '-') as p", t);
  t = from("bc, substr(b, p + 6) as rest, "
           "p between 5 and 10 and substr(b, 1, p - 1) not glob '*[^0-9]*' and "
           "substr(b, p, 6) glob '-[0-9][0-9]-[0-9][0-9]' as ok, cast(substr(b, 1, p - 1) as integer) as y0, "
           "cast(substr(b, p + 1, 2) as integer) as m, cast(substr(b, p + 4, 2) as integer) as d",
           t);
  // The civil-calendar day count of Hinnant ("chrono-compatible low-level
  // date algorithms"), its year starting in March; 1 BC is the year 0.
  t = from("rest, m, d, case when ok and m between 1 and 12 and d between 1 and 31 and not (bc and y0 = 0) "
           "then (case when bc then 1 - y0 else y0 end) - (m <= 2) end as y",
           t);
  t = from("rest, m, d, y, (case when y >= 0 then y else y - 399 end) / 400 as era", t);
  return from("rest, era * 146097 + (y - era * 400) * 365 + (y - era * 400) / 4 - (y - era * 400) / 100 + "
              "(153 * (case when m > 2 then m - 3 else m + 9 end) + 2) / 5 + d - 1 - 719468 + 3653 as days",
              t);
}

// The seconds after the date: 0 for none, the time after ' ' or 'T'.
std::string afterDate(bool lessOffset) {
  return "(case when rest = '' then 0 when substr(rest, 1, 1) in (' ', 'T') then " +
         clock("substr(rest, 2)", lessOffset) + " end)";
}

}  // namespace

std::string sqliteTextDays(const std::string& column) {
  return from("case when " + afterDate(false) + " is not null then days end", dateParts(column));
}

std::string sqliteTextSecondsOfDay(const std::string& column) { return clock(column, false); }

std::string sqliteTextSeconds(const std::string& column) {
  return from("days * 86400 + " + afterDate(true), dateParts(column));
}

namespace {

std::string whenNumber(const std::string& column, const std::string& text) {
  // An infinity is missing, as the rows read it.
  return "(case when typeof(" + column + ") in ('integer', 'real') then (case when abs(" + column +
         ") > 1.7976931348623157e308 then null else " + text + " end) else " + column + " end)";
}

}  // namespace

std::string sqliteNumberAsDateText(const std::string& column) {
  // 1960-01-01 is the Julian day 2436934.5; 0001-01-01 and 10000-01-01
  // are the days -715509 and 2936550 of zul's count.
  return whenNumber(column, "(case when " + column + " >= -715509 and " + column + " < 2936550 then date(" +
                                column + " + 2436934.5) else " + column + " end)");
}

std::string sqliteNumberAsTimeText(const std::string& column) {
  // The microseconds of the day, rounded as the host rounds them.
  const std::string micros = from(
      "cast(round(s * 1e6) as integer) as u",
      from(column + " - 86400 * (cast(" + column + " / 86400 as integer) - (" + column + " / 86400 < cast(" +
               column + " / 86400 as integer))) as s",
           "(select 1)"));
  return whenNumber(column,
                    from("printf('%02d:%02d:%02d', u / 1000000 / 3600, u / 1000000 / 60 % 60, u / 1000000 % 60) || "
                         "(case when u % 1000000 = 0 then '' else printf('.%06d', u % 1000000) end)",
                         micros));
}

}  // namespace sqlgen
