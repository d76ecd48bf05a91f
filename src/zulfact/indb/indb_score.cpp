// The OUT= scores of one BY group written inside the database.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "sqlgen/column_types.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/indb/indb.hpp"
#include "zulfact/state/catalog_ids.hpp"
#include "zulfact/state/codes.hpp"

namespace zulfact {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string trimmed(const char* p, size_t width) {
  std::string s(p, strnlen(p, width));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The current group's BY values, read from the "_ZSQL_" table.
std::vector<sqlgen::ByValue> byValues(ProcState& ps) {
  Host& h = host();
  std::vector<sqlgen::ByValue> out;
  const zul_varlist& by = ps.opt.parsed->lists[ZUL_LIST_BY];
  for (int k = 0; k < by.count; ++k) {
    zul_var_desc d{};
    if (h.varDesc(ps.opt.mainInput, by.numbers[k], d) != 0) continue;
    sqlgen::ByValue b;
    b.name = d.name;
    b.numeric = d.type != 2;
    b.formatName = d.formatName;
    b.formatWidth = d.formatWidth;
    b.formatDecimals = d.formatDecimals;
    zul_readlist* list = h.readListCreate(ps.opt.indbInput, 1);
    const int number = h.varNumber(ps.opt.indbInput, d.name);
    std::vector<char> text(static_cast<size_t>(std::max(1, d.width)) + 1, '\0');
    double value = zul_missing();
    int status = 0;
    if (list && h.readListBind(list, 0, number, !b.numeric, b.numeric ? 8 : d.width) == 0 &&
        h.rewind(ps.opt.indbInput) == 0 && h.readNext(list, &value, text.data(), status) == 1) {
      b.number = value;
      // The whole field: an SQLite text may hold a NUL byte, and cut there
      // it would select another group's rows.
      b.text.assign(text.data(), static_cast<size_t>(d.width));
      while (!b.text.empty() && b.text.back() == ' ') b.text.pop_back();
    }
    if (list) h.readListRelease(list);
    out.push_back(b);
  }
  return out;
}

// Part of the descriptor the OUT= step fills: the tables, the columns and
// the coefficients of the current solution.
sqlgen::ScoringSpec scoringSpec(ProcState& ps) {
  Host& h = host();
  sqlgen::ScoringSpec s;
  s.dialect = ps.indb.dialect == ZUL_DB_POSTGRES ? sqlgen::Dialect::kPostgres : sqlgen::Dialect::kSqlite;
  s.inputTable = ps.indb.inputRef;
  s.outputTable = ps.indb.outputRef;
  const int p = ps.opt.nVars, k = ps.opt.nScoreColumns;
  std::vector<std::string> factors;
  for (int j = 0; j < k; ++j)
    factors.push_back(trimmed(ps.factorNames + static_cast<size_t>(j) * ps.factorNameWidth,
                              static_cast<size_t>(ps.factorNameWidth)));
  for (int v = 1; v <= ps.opt.nInputVars; ++v) {
    zul_var_desc d{};
    if (h.varDesc(ps.opt.mainInput, v, d) != 0) continue;
    // A column named like a score column is not copied (message 180/352).
    const bool clash = std::any_of(factors.begin(), factors.end(),
                                   [&](const std::string& f) { return lower(f) == lower(d.name); });
    if (!clash) s.copied.push_back(d.name);
  }
  for (int i = 0; i < p; ++i) s.inputNames.push_back(ps.opt.varNames + 33 * static_cast<size_t>(i));
  s.outputNames = factors;
  if (!ps.opt.flags.noIntercept) s.inputMean.assign(ps.means, ps.means + p);
  s.inputStd.assign(ps.stdDevs, ps.stdDevs + p);
  const int r = ps.scoresReady ? std::max(0, std::min(ps.factorsRetained, k)) : 0;
  // Score columns beyond the factors retained are missing.
  s.intercept.assign(static_cast<size_t>(k), 0.0);
  for (int j = r; j < k; ++j) s.intercept[static_cast<size_t>(j)] = std::nan("");
  s.score.assign(static_cast<size_t>(k) * p, 0.0);
  if (r > 0) std::copy(ps.scoreCoefficients, ps.scoreCoefficients + static_cast<size_t>(r) * p, s.score.begin());
  s.by = byValues(ps);
  return s;
}

int statementFailed(ProcState& ps, uint32_t id, const std::string& sql, int code) {
  Host& h = host();
  (void)h.catalogNote(id, {static_cast<int>(sql.size())});
  if (!ps.indb.echo) {
    (void)h.catalogNote(catalog::kIndbStatementWas);
    h.logText(sql);
  }
  (void)h.catalogNote(catalog::kIndbScoringFailed);
  return code == 2 ? kCodeMemory : kCodeEngine;
}

// The type codes of the columns of a probe, asked of the database for the
// step's first BY group only: on PostgreSQL each probe is four round trips
// (a savepoint, the prepare, its description, the release), several times
// the cost of a small group's insert. A failure is not kept: it ends the step.
int describeOnce(ProcState& ps, const std::string& probe, std::vector<int32_t>& codes) {
  if (const auto known = ps.indbProbes.find(probe); known != ps.indbProbes.end()) {
    codes = known->second;
    return 0;
  }
  const int st = host().dbDescribe(ps.opt.mainInput, probe, codes.data(), static_cast<int>(codes.size()));
  if (st == 0) ps.indbProbes.emplace(probe, codes);
  return st;
}

// The probe: the class of each input column, or a failure code.
int probeTypes(ProcState& ps, sqlgen::ScoringSpec& s) {
  Host& h = host();
  const std::string probe = sqlgen::typeProbeStatement(s);
  std::vector<int32_t> codes(s.inputNames.size(), 8);
  const int st = describeOnce(ps, probe, codes);
  if (st == 1) return statementFailed(ps, catalog::kIndbNotPrepared, probe, st);
  if (st != 0) return statementFailed(ps, catalog::kIndbNoColumns, probe, st);
  for (size_t i = 0; i < codes.size(); ++i) {
    const std::string problem = unscorableColumn(codes[i], s.inputNames[i]);
    if (!problem.empty()) {
      h.logLine(ZUL_LOG_ERROR, problem);
      return kCodeInternal;
    }
    s.columnTypes.push_back(sqlgen::classifySqlType(codes[i]));
  }
  return 0;
}

// The class of each copied column, so that booleans and reals are written
// and compared as zul reads them (PostgreSQL neither writes a boolean to
// a numeric column nor compares it with a number); none when the database
// cannot say. An SQLite column without a declared type (a view's
// expression too) is character when zul found text in it, whatever the
// database calls it: copied as a number, its text would become null.
std::vector<int> copiedTypes(ProcState& ps, const sqlgen::ScoringSpec& s) {
  Host& h = host();
  std::vector<int> out;
  if (s.copied.empty()) return out;
  std::string probe = " select ";
  for (size_t c = 0; c < s.copied.size(); ++c) probe += (c ? ", " : "") + sqlgen::quoteIdentifier(s.copied[c]);
  probe += " from " + s.inputTable;
  std::vector<int32_t> codes(s.copied.size(), 0);
  if (describeOnce(ps, probe, codes) != 0) return out;
  for (size_t c = 0; c < codes.size(); ++c) {
    zul_var_desc d{};
    const bool text = h.varDesc(ps.opt.mainInput, h.varNumber(ps.opt.mainInput, s.copied[c]), d) == 0 && d.type == 2;
    out.push_back(text ? sqlgen::kTypeCharacter : sqlgen::classifySqlType(codes[c]));
  }
  return out;
}

}  // namespace

int scoreInDatabase(ProcState& ps) {
  Host& h = host();
  sqlgen::ScoringSpec s = scoringSpec(ps);
  const std::vector<std::string> faults = scoringFaults(s);
  const int level = h.diagSwitch("zsqlsco1") + h.diagSwitch("-zsqlsco1");
  if (level > 0 || !faults.empty())
    for (const std::string& l : scoringTrace(s, level)) h.logText(l);
  for (const std::string& f : faults) h.logText(f);
  if (!faults.empty()) return kCodeInternal;
  if (const int code = probeTypes(ps, s)) return code;
  s.copiedTypes = copiedTypes(ps, s);

  s.lowerInsertNames = ps.indb.lowerNames;
  const std::string sql = sqlgen::scoringStatement(s);
  if (ps.indb.echo) h.logText(sql);
  double rows = 0;
  const int st = h.dbExecute(ps.opt.outTable, sql, rows);
  if (st != 0) return statementFailed(ps, catalog::kIndbNotPrepared, sql, st);
  ps.indb.rowsInserted += rows;
  if (ps.indb.notes && ps.opt.nBy > 0)
    (void)h.catalogNote(catalog::kIndbRowsWritten, {rows, std::string_view(ps.indb.tableName)});
  if (rows == 0) (void)h.catalogNote(catalog::kIndbNoRowWritten);
  return 0;
}

}  // namespace zulfact
