#include "sqlgen/scoring_sql.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "sqlgen/column_types.hpp"
#include "sqlgen/put_format.hpp"
#include "sqlgen/sqlite_dates.hpp"

namespace sqlgen {

namespace {

std::string alias(char prefix, size_t i) {
  return "\"_" + std::string(1, prefix) + std::to_string(i) + "_\"";
}

std::string joinList(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
  return out;
}

std::vector<std::string> quoted(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const auto& n : names) out.push_back(quoteIdentifier(n));
  return out;
}

// The copied columns as the views name them: "_c0_", "_c1_", ... Only the
// innermost select names a column of the input, so no input column (one
// called "_v0_" or "_OK_") can stand for a generated one.
std::vector<std::string> copiedAliases(const ScoringSpec& s) {
  std::vector<std::string> out;
  for (size_t c = 0; c < s.copied.size(); ++c) out.push_back(alias('c', c));
  return out;
}

bool present(const std::vector<double>& v, size_t i) { return i < v.size(); }
bool finite(double x) { return std::isfinite(x); }

std::string trimmedText(const ByValue& b) {
  std::string t = b.text;
  while (!t.empty() && t.back() == ' ') t.pop_back();
  return t;
}

std::string formatText(const ByValue& b) {
  std::string f = b.formatName + std::to_string(b.formatWidth) + ".";
  if (b.formatDecimals != 0) f += std::to_string(b.formatDecimals);
  return f;
}

// The column list of the insert, as the output table spells its columns.
std::string insertColumns(const ScoringSpec& s) {
  std::vector<std::string> names = s.copied;
  if (s.byConstants)
    for (const auto& b : s.by) names.push_back(b.name);
  if (!s.partialNames.empty()) names.insert(names.end(), s.residualNames.begin(), s.residualNames.end());
  names.insert(names.end(), s.outputNames.begin(), s.outputNames.end());
  if (s.lowerInsertNames)
    for (auto& n : names)
      for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return " insert into " + s.outputTable + " ( " + joinList(quoted(names)) + " ) ";
}

std::string byConstant(const ScoringSpec& s, const ByValue& b) {
  if (b.numeric) {
    const std::string v = finite(b.number) ? numberLiteral(b.number) : std::string(" null ");
    return "cast(" + v + " as double precision)" + " as " + quoteIdentifier(b.name);
  }
  return textLiteral(s.dialect, trimmedText(b)) + " as " + quoteIdentifier(b.name);
}

// A row with a missing input or partial value gets missing residuals and
// scores, as in the row path: a null reaches a score only through a term
// that is written, and a coefficient of 0 or a score set to 0 has none.
std::string ifComplete(const std::string& expression) {
  return "case when \"_ok_\" = 1 then " + expression + " end";
}

std::string residualColumn(const ScoringSpec& s, size_t i) {
  std::string c;
  if (!present(s.condStd, i) || s.condStd[i] != 0) {
    c = alias('r', i);
    if (present(s.condStd, i)) {
      const double sd = present(s.inputStd, i) ? s.inputStd[i] : 1.0;
      c += " * " + numberLiteral(s.condStd[i] * sd);
    }
  } else {
    c = " cast(0 as double precision)";
  }
  return ifComplete(c) + " as " + quoteIdentifier(s.residualNames[i]);
}

// Score j: null or 0 by the eigenvalue and missing rules, else the linear
// combination of the standardised inputs (or their residuals).
std::string scoreExpression(const ScoringSpec& s, size_t j) {
  const size_t n = s.inputNames.size();
  const bool q = !s.partialNames.empty();
  if (!s.eigval.empty()) {
    const double e = s.eigval[j];
    if (!finite(e)) return " cast(null as double precision)";
    if (e == 0 || (finite(s.eigval[0]) && e <= kTinyEigenvalueRatio * s.eigval[0]))
      return " cast(0 as double precision)";
  }
  if (present(s.intercept, j) && !finite(s.intercept[j])) return " cast(null as double precision)";
  if (!s.score.empty())
    for (size_t i = 0; i < n; ++i)
      if (!finite(s.score[j * n + i])) return " cast(null as double precision)";
  std::string e;
  if (present(s.intercept, j) && s.intercept[j] != 0) e = numberLiteral(s.intercept[j]);
  for (size_t i = 0; !s.score.empty() && i < n; ++i) {
    const double c = s.score[j * n + i];
    if (c == 0) continue;
    if (!e.empty()) e += " + ";
    e += q ? alias('r', i) : alias('v', i);
    if (c != 1) e += " * " + numberLiteral(c);
  }
  return e.empty() ? "0" : e;
}

std::string outerSelect(const ScoringSpec& s) {
  std::vector<std::string> cols = copiedAliases(s);
  if (s.byConstants)
    for (const auto& b : s.by) cols.push_back(byConstant(s, b));
  if (!s.partialNames.empty())
    for (size_t i = 0; i < s.inputNames.size(); ++i) cols.push_back(residualColumn(s, i));
  for (size_t j = 0; j < s.outputNames.size(); ++j)
    cols.push_back(ifComplete(scoreExpression(s, j)) + " as " + quoteIdentifier(s.outputNames[j]));
  return " select " + joinList(cols);
}

std::string residualTerms(const ScoringSpec& s, size_t i) {
  const size_t n = s.inputNames.size();
  std::string t;
  for (size_t k = 0; k < s.partialNames.size(); ++k) {
    const double b = present(s.partial, k * n + i) ? s.partial[k * n + i] : 0.0;
    if (b == 0) continue;
    if (!t.empty()) t += " + ";
    if (b != 1) t += numberLiteral(b) + " * ";
    t += alias('p', k);
  }
  return t.empty() ? "0" : t;
}

std::string middleView(const ScoringSpec& s) {
  std::vector<std::string> cols = copiedAliases(s);
  for (size_t i = 0; i < s.inputNames.size(); ++i) {
    std::string c;
    if (!present(s.prsq, i) || s.prsq[i] < kResidualPrsqLimit) {
      c = " (" + std::string(" (") + alias('v', i) + " - (" + residualTerms(s, i) + ")" + " )";
      if (present(s.condStd, i)) c += " / " + numberLiteral(s.condStd[i]);
      c += ")";
    } else {
      c = " cast(0 as double precision)";
    }
    cols.push_back(c + " as " + alias('r', i));
  }
  cols.push_back("\"_ok_\"");
  return " from " + std::string(" (") + " select " + joinList(cols);
}

// Column `name` of class `type` as a number.
std::string converted(Dialect d, const std::string& name, int type) {
  return columnNumber(d, quoteIdentifier(name), type);
}

// Column `name` of class `type` as a double, null when missing: a NaN or an
// infinity is missing, as it is to the crossproducts.
std::string numberOrNull(const ScoringSpec& s, const std::string& name, int type) {
  const std::string value = "cast(" + converted(s.dialect, name, type) + " as double precision)";
  return type == kTypeNumeric || type == kTypeReal ? finiteOrNull(s.dialect, value) : value;
}

std::string standardised(const ScoringSpec& s, const std::string& name, int type,
                         const std::vector<double>& mean, const std::vector<double>& scale,
                         size_t i, const std::string& as) {
  const bool centred = !mean.empty();
  std::string c = centred ? "(" : "";
  c += numberOrNull(s, name, type);
  if (present(mean, i) && mean[i] != 0) c += " - " + numberLiteral(mean[i]);
  if (centred) c += ")";
  if (present(scale, i) && scale[i] != 0 && scale[i] != 1) c += " / " + numberLiteral(scale[i]);
  return c + " as " + as;
}

int typeOf(const ScoringSpec& s, size_t column) {
  return column < s.columnTypes.size() ? s.columnTypes[column] : kTypeNumeric;
}

// The class of copied column `name`: a boolean and a real are written and
// compared as the numbers zul reads from them.
int copiedType(const ScoringSpec& s, const std::string& name) {
  const auto at = std::find(s.copied.begin(), s.copied.end(), name);
  const size_t c = static_cast<size_t>(at - s.copied.begin());
  return c < s.copiedTypes.size() ? s.copiedTypes[c] : kTypeNumeric;
}

bool readAsNumber(int type) { return type == kTypeBoolean || type == kTypeReal; }

// A BY value of these classes is compared as the number zul reads: dates,
// times and timestamps as days and seconds since 1960.
bool comparedAsNumber(int type) {
  return readAsNumber(type) || type == kTypeDate || type == kTypeTime || type == kTypeTimestamp;
}

std::string asNumber(const ScoringSpec& s, const std::string& name) {
  return "cast(" + converted(s.dialect, name, copiedType(s, name)) + " as double precision)";
}

// Copied column `name` as the row path writes it, or empty for the column
// itself: a boolean or a real as the number zul reads, a NaN or an
// infinity as missing, text without its trailing blanks and a null text
// as empty (zul's one missing text), an infinite date or timestamp as
// missing. Nothing is changed when the database could not say the
// columns' classes.
std::string copiedValue(const ScoringSpec& s, const std::string& name) {
  if (s.copiedTypes.empty()) return {};
  const int type = copiedType(s, name);
  if (type == kTypeBoolean) return asNumber(s, name);
  if (type == kTypeNumeric || type == kTypeReal) return finiteOrNull(s.dialect, asNumber(s, name));
  if (type == kTypeCharacter) return "coalesce(" + comparedText(s.dialect, quoteIdentifier(name)) + ", '')";
  // An infinite PostgreSQL date or timestamp is missing to zul.
  const std::string q = quoteIdentifier(name);
  if (s.dialect == Dialect::kPostgres && (type == kTypeDate || type == kTypeTimestamp))
    return "case when isfinite(" + q + ") then " + q + " end";
  // SQLite keeps a date as text of many spellings, or as zul's count: it
  // is written as the rows read one by one are written.
  if (s.dialect == Dialect::kSqlite && type == kTypeDate) return sqliteTemporalText(quoteIdentifier(name), "date");
  if (s.dialect == Dialect::kSqlite && type == kTypeTime) return sqliteTemporalText(quoteIdentifier(name), "time");
  if (s.dialect == Dialect::kSqlite && type == kTypeTimestamp)
    return sqliteTemporalText(quoteIdentifier(name), "timestamp");
  return {};
}

// The format of a BY variable, when it has one that fits its type.
std::optional<PutFormat> byFormat(const ByValue& b) {
  if (b.formatWidth == 0) return std::nullopt;
  const auto f = parsePutFormat(formatText(b));
  return f && f->character != b.numeric ? f : std::nullopt;
}

// The rows of the current BY group. A formatted BY variable's group is
// every row whose formatted value is the group's: the group's value (its
// first row's) written by the same format, cut to the width for text.
std::string byCondition(const ScoringSpec& s) {
  std::string cond;
  for (const auto& b : s.by) {
    std::string term = "(";
    const auto format = byFormat(b);
    const int type = copiedType(s, b.name);
    // A number is compared as the double zul reads (a bigint beyond 2^53
    // rounded, as its group was formed; a NaN or an infinity null), a
    // character value without its trailing blanks.
    const std::string number = groupNumber(s.dialect, quoteIdentifier(b.name), type);
    // Text is compared byte for byte, as the groups were formed: under a
    // nondeterministic collation (case-blind ICU) 'abc' = 'ABC', and one
    // group's scores would be written for the rows of the other too.
    const std::string text = inByteOrder(s.dialect, comparedText(s.dialect, quoteIdentifier(b.name)));
    const std::string col = format                 ? formattedValue(s, b)
                            : b.numeric              ? number
                            : comparedAsNumber(type) ? asNumber(s, b.name)
                                                     : text;
    if (b.numeric && !finite(b.number)) {
      // "= null" is never true: a missing BY value selects the rows whose
      // value is null, NaN or infinite, all of which zul reads as missing.
      term += number + " is null";
    } else if (b.numeric && format) {
      term += col + "=" + quoteString(putNumber(b.number, *format).value_or(""));
    } else if (b.numeric) {
      term += col + "=" + numberLiteral(b.number);
    } else {
      const std::string t = format ? putText(b.text, *format) : trimmedText(b);
      term += (format ? inByteOrder(s.dialect, col) : col) + "=" + textLiteral(s.dialect, t);
      if (t.empty()) term += " or " + quoteIdentifier(b.name) + " is null";
    }
    cond += (cond.empty() ? "" : " and ") + term + ")";
  }
  return cond;
}

std::string whereClause(const ScoringSpec& s) {
  std::vector<std::string> parts;
  if (!s.inputWhere.empty()) parts.push_back("(" + s.inputWhere + ")");
  if (!s.outputWhere.empty()) parts.push_back("(" + s.outputWhere + ")");
  if (!s.by.empty() && !s.byConstants) parts.push_back("(" + byCondition(s) + ")");
  if (parts.empty()) return "";
  std::string w = " where " + parts[0];
  for (size_t i = 1; i < parts.size(); ++i) w += " and " + parts[i];
  return w;
}

std::string innerView(const ScoringSpec& s) {
  const size_t n = s.inputNames.size();
  std::vector<std::string> cols;
  for (size_t c = 0; c < s.copied.size(); ++c) {
    const std::string value = copiedValue(s, s.copied[c]);
    cols.push_back((value.empty() ? quoteIdentifier(s.copied[c]) : value) + " as " + alias('c', c));
  }
  for (size_t i = 0; i < n; ++i)
    cols.push_back(standardised(s, s.inputNames[i], typeOf(s, i), s.inputMean, s.inputStd, i, alias('v', i)));
  for (size_t k = 0; k < s.partialNames.size(); ++k)
    cols.push_back(standardised(s, s.partialNames[k], typeOf(s, n + k), s.partialMean, s.partialStd, k,
                                alias('p', k)));
  // "_ok_": 1 when every input and partial value is present, else null.
  std::string complete;
  for (size_t i = 0; i < n + s.partialNames.size(); ++i) {
    const std::string& name = i < n ? s.inputNames[i] : s.partialNames[i - n];
    complete += (i ? " and " : "") + numberOrNull(s, name, typeOf(s, i)) + " is not null";
  }
  cols.push_back("case when " + (complete.empty() ? std::string("1 = 1") : complete) + " then 1 end as \"_ok_\"");
  return " from " + std::string(" (") + " select " + joinList(cols) + " from " + s.inputTable + whereClause(s);
}

}  // namespace

std::string scoringStatement(const ScoringSpec& s) {
  const bool q = !s.partialNames.empty();
  std::string sql = insertColumns(s) + outerSelect(s);
  if (q) sql += middleView(s);
  // Fenced views: each standardised value (and residual) is computed once
  // per row, not once in every score that uses it.
  sql += innerView(s);
  sql += fence(s.dialect) + ") as _view1_";
  if (q) sql += fence(s.dialect) + ") as _view2_";
  return sql + ";";
}

std::string typeProbeStatement(const ScoringSpec& s) {
  std::vector<std::string> cols = quoted(s.inputNames);
  for (const auto& p : s.partialNames) cols.push_back(quoteIdentifier(p));
  return " select " + joinList(cols) + " from " + s.inputTable;
}

std::string formattedValue(const ScoringSpec& s, const ByValue& b) {
  // Not cast to char(w): PostgreSQL would cut a number wider than its
  // format, whose text zul keeps whole, and no longer match its group.
  const bool plain = s.locale == "EN_US" && s.encoding == "wlatin1";
  const bool number = b.numeric && comparedAsNumber(copiedType(s, b.name));
  // Text goes in byte order: the function takes the collation of its
  // argument, and PostgreSQL refuses a nondeterministic one in its
  // regular expressions.
  const std::string column = number      ? asNumber(s, b.name)
                             : b.numeric ? quoteIdentifier(b.name)
                                         : inByteOrder(s.dialect, quoteIdentifier(b.name));
  return putCall(s.dialect, column, formatText(b), plain ? "" : s.locale, s.encoding);
}

std::string formatCheckStatement(const ScoringSpec& s, const ByValue& b) {
  return firstRowQuery(s.dialect, formattedValue(s, b) + " from " + s.inputTable);
}

}  // namespace sqlgen
