// Statement parsing and validation: the host parses the step with the
// module's grammar (options/grammar.cpp); the statement parser copies the
// parsed record into ProcState with every default, derives the implied
// options, checks the combinations, allocates the per-run arrays, declares
// the columns of OUT= and OUTSTAT=, and creates the numeric engine.
//
// Checks never stop half way: each raises ps.completionCode with max() and
// the step ends after the table checks (above 999) or at the very end.
// Only a missing DATA=, a parse status, a method-against-criterion
// conflict, memory, the toolkit and the engine end the step at once.
#include "zulfact/options/parse_statement.hpp"

#include <cctype>
#include <cstring>

#include "zulfact/host/messages.hpp"
#include "zulfact/indb/indb.hpp"
#include "zulfact/options/grammar.hpp"
#include "zulfact/options/statement_parser.hpp"
#include "zulfact/options/unavailable.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace detail {

int32_t toInt(double v) {
  if (!(v > -2147483648.0)) return INT32_MIN;
  if (!(v < 2147483647.0)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

void stop(ProcState& ps, int code) {
  raiseCode(ps, code);
  host().endStep(ps.completionCode, 0);
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string trimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void setPadded(char* field, size_t n, std::string_view text) {
  std::memset(field, ' ', n);
  std::memcpy(field, text.data(), std::min(n, text.size()));
  field[n] = 0;
}

namespace {

// The default VAR list: every numeric variable of DATA= that no other
// statement names, without _TYPE_, _NAME_ and (for an SSCP table) the
// intercept variable.
std::vector<int32_t> defaultVarList(const ProcState& ps, const Parsed& rec, int leaveOut) {
  std::vector<int32_t> used;
  for (int l : {ZUL_LIST_BY, ZUL_LIST_PARTIAL, ZUL_LIST_FREQ, ZUL_LIST_WEIGHT}) {
    const zul_varlist& vl = rec.list(l);
    used.insert(used.end(), vl.numbers, vl.numbers + vl.count);
  }
  std::vector<int32_t> out;
  int n = host().varCount(ps.opt.mainInput);
  for (int v = 1; v <= n; ++v) {
    if (v == leaveOut || v == ps.opt.typeVarNumber || v == ps.opt.nameVarNumber) continue;
    if (std::find(used.begin(), used.end(), v) != used.end()) continue;
    zul_var_desc d{};
    if (host().varDesc(ps.opt.mainInput, v, d) != 0 || d.type != 1) continue;
    out.push_back(v);
  }
  return out;
}

}  // namespace

void StatementParser::run() {
  dataSets();
  analysisVariables();
  methodOptions();
  testOptions();
  rotationOptions();
  displayOptions();
  factorCountOptions();
  randomSeed();
  keywordOptions();
  openSink();
  graphRequests();
  criteriaAgainstMethod();
  parallelSettings();
  weighting();
  priors();
  methodChecks();
  factorNamePrefix();  // ahead of the arrays, which need the name width
  allocateArrays();
  factorNames();
  pathRequests();
  targetTable();

  const bool logParse = h_.diagSwitch("-zparse") > 0;
  if (ps_.completionCode >= kCodeStopped) {
    if (logParse) logOptions(ps_);
    stop(ps_, ps_.completionCode);
  }
  // What this version cannot do yet ends the step here, before the output
  // tables are declared and before any data is read (options/unavailable).
  reportOptionsWithoutEffect(ps_);
  if (reportUnavailableFeatures(ps_)) {
    if (logParse) logOptions(ps_);
    stop(ps_, ps_.completionCode);
  }

  outTable();
  outstatTable();
  prepareIndb(ps_);
  createEngine();

  // DATA= must be readable; a table that cannot be read stops the step as
  // failed, never with the code 0 of a step that went well.
  int32_t readable = 0;
  if (h_.getAttribute(ps_.opt.mainInput, ZUL_ATTR_READABLE, &readable) != 0 || readable != 1)
    stop(ps_, kCodeStopped);

  if (p_ < 1) {
    h_.message(msg::kNoAnalysisVariables);
    raiseCode(ps_, kCodeBadVariables);
  }
  if (logParse) logOptions(ps_);
  if (ps_.completionCode >= kCodeStopped) stop(ps_, ps_.completionCode);
}

// The tables of the statement and what DATA= holds (whether it is processed
// in its database is decided once the output columns are declared).
void StatementParser::dataSets() {
  const zul_parsed& parsed = rec_.record();
  ps_.opt.mainInput = parsed.tables[ZUL_DS_DATA];
  if (!ps_.opt.mainInput) {
    h_.message(msg::kNoDataTable);
    stop(ps_, kCodeNotAllowed);
  }
  ps_.opt.outTable = parsed.tables[ZUL_DS_OUT];
  ps_.opt.outstatTable = parsed.tables[ZUL_DS_OUTSTAT];
  ps_.opt.targetTable = parsed.tables[ZUL_DS_TARGET];
  ps_.opt.flags.outRequested = ps_.opt.outTable != nullptr;
  ps_.opt.flags.outstatRequested = ps_.opt.outstatTable != nullptr;
  ps_.opt.flags.targetGiven = ps_.opt.targetTable != nullptr;
  // Scores are computed row by row, and a crossproduct table holds only
  // the sums of the rows: its own rows would be scored as observations.
  if (ps_.opt.flags.outRequested && isCrossproductTable(ps_.opt.mainInput)) {
    h_.logLine(ZUL_LOG_ERROR, "OUT= scores need the observations, and " +
                                  h_.displayName(ps_.opt.mainInput) +
                                  " is a crossproduct table, which holds only their sums.");
    stop(ps_, kCodeNotAllowed);
  }
  // Under another name the sums of such a table would pass for observations.
  if (!isCrossproductTable(ps_.opt.mainInput) && hasCrossproductColumns(ps_.opt.mainInput)) {
    h_.logLine(ZUL_LOG_ERROR, h_.displayName(ps_.opt.mainInput) +
                                  " is a crossproduct table: its rows are sums, not observations,"
                                  " and FACTOR reads it as one only under the member name _MKXPX_."
                                  " Write it to LIB._MKXPX_, in a library of its own.");
    stop(ps_, kCodeNotAllowed);
  }

  std::string type = h_.tableType(ps_.opt.mainInput);
  // A TYPE given on the table (option or metadata) that names no known
  // kind is a mistyped one: read as raw data its matrix rows would pass
  // for observations. It is judged and quoted whole (CORRELATION, not the
  // CORRELAT of the 8-character attribute).
  const std::string given = h_.tableTypeText(ps_.opt.mainInput);
  if (!given.empty() && !isStoredMatrixType(given)) {
    h_.message(msg::kUnknownTableType, {given});
    stop(ps_, kCodeNotAllowed);
  }
  setPadded(ps_.opt.inputType, 8, type);
  inputType_ = upper(trimRight(std::string(ps_.opt.inputType)));
  if (ps_.opt.flags.outRequested) ps_.opt.nInputVars = h_.varCount(ps_.opt.mainInput);
  ps_.opt.flags.rawInput = !isStoredMatrixType(inputType_);
  ps_.opt.typeVarNumber = h_.varNumber(ps_.opt.mainInput, "_TYPE_");
  ps_.opt.interceptVarNumber = h_.varNumber(ps_.opt.mainInput, "INTERCEPT");
  if (ps_.opt.interceptVarNumber == 0) ps_.opt.interceptVarNumber = h_.varNumber(ps_.opt.mainInput, "INTERCEP");
  ps_.opt.nameVarNumber = h_.varNumber(ps_.opt.mainInput, "_NAME_");
}

// VAR (or the default list), PARTIAL, FREQ and WEIGHT; the intercept row
// and column of an SSCP table. The read plan is ps.varNumbers (nAll) with
// FREQ and WEIGHT; the data pass adds _TYPE_ and _NAME_ for a stored matrix.
void StatementParser::analysisVariables() {
  const zul_varlist& varList = rec_.list(ZUL_LIST_VAR);
  std::vector<int32_t> vars(varList.numbers, varList.numbers + varList.count);
  bool sscpIntercept = ps_.opt.interceptVarNumber != 0 && inputType_ == "SSCP";
  if (!varList.given) {
    vars = defaultVarList(ps_, rec_, sscpIntercept ? ps_.opt.interceptVarNumber : 0);
  } else if (sscpIntercept &&
             std::find(vars.begin(), vars.end(), ps_.opt.interceptVarNumber) != vars.end()) {
    ps_.opt.flags.noIntercept = true;
    ps_.opt.flags.noint = true;
    h_.message(msg::kInterceptInVarList);
  }
  if (rec_.bit(kBitNoint)) {
    ps_.opt.flags.noIntercept = true;
    ps_.opt.flags.noint = true;
    h_.message(msg::kNoIntercept);
  }

  const zul_varlist& partial = rec_.list(ZUL_LIST_PARTIAL);
  ps_.opt.nBy = rec_.list(ZUL_LIST_BY).count;
  ps_.opt.nVars = static_cast<int32_t>(vars.size());
  ps_.opt.nPartial = partial.count;
  ps_.opt.nAll = ps_.opt.nVars + ps_.opt.nPartial;
  ps_.opt.varNumbers = arrays_.get<int32_t>(ps_.opt.nAll);
  if (!ps_.opt.varNumbers) stop(ps_, kCodeMemory);
  std::copy(vars.begin(), vars.end(), ps_.opt.varNumbers);
  std::copy(partial.numbers, partial.numbers + partial.count, ps_.opt.varNumbers + ps_.opt.nVars);
  ps_.opt.freqVarNumber = rec_.list(ZUL_LIST_FREQ).count > 0 ? rec_.list(ZUL_LIST_FREQ).numbers[0] : 0;
  ps_.opt.weightVarNumber =
      rec_.list(ZUL_LIST_WEIGHT).count > 0 ? rec_.list(ZUL_LIST_WEIGHT).numbers[0] : 0;
  p_ = ps_.opt.nVars;
  // The sums of a crossproduct table were weighted when it was written; a
  // FREQ or WEIGHT column of it would be passed over without a word.
  if ((ps_.opt.freqVarNumber > 0 || ps_.opt.weightVarNumber > 0) &&
      isCrossproductTable(ps_.opt.mainInput)) {
    h_.logLine(ZUL_LOG_ERROR, "FREQ and WEIGHT do not apply to " +
                                  h_.displayName(ps_.opt.mainInput) +
                                  ", a crossproduct table: give them to CROSSPRODUCTS.");
    stop(ps_, kCodeNotAllowed);
  }
}

// The TARGET= table holds every analysis variable, numeric, and the BY
// variables of DATA=.
void StatementParser::targetTable() {
  if (!ps_.opt.targetTable) return;
  for (int i = 0; i < p_; ++i) {
    std::string name = varName(i);
    int v = h_.varNumber(ps_.opt.targetTable, name);
    if (v == 0) {
      h_.message(msg::kTargetLacksVariable, {name});
      raiseCode(ps_, kCodeBadVariables);
      continue;
    }
    zul_var_desc d{};
    if (h_.varDesc(ps_.opt.targetTable, v, d) == 0 && d.type != 1) {
      h_.message(msg::kTargetVariableCharacter, {name});
      raiseCode(ps_, kCodeBadVariables);
    }
  }
  ps_.opt.bySyncMode = h_.bySyncMode(ps_.opt.mainInput, ps_.opt.targetTable);
  if (ps_.opt.bySyncMode == 1) {
    h_.message(msg::kTargetLacksByVariables);
    raiseCode(ps_, kCodeBadVariables);
  }
}

}  // namespace detail

void parseStatement(StepRecord& ps) {
  Host& h = host();

  // VALIDVARNAME=V6 asks for names of at most 8 characters.
  std::string optionValue;
  if (h.systemOption("VALIDVARNAME", optionValue)) {
    std::string v = detail::upper(optionValue.size() >= 2 ? optionValue.substr(0, 2) : optionValue);
    ps.opt.flags.shortNames = v == "V6";
  }

  // The host parses the statement with a copy of the grammar taken from
  // the pool; the DEBUG switches SYN and SEM go along as flags 2 and 1.
  constexpr uint32_t kGrammarPoolFlags = 8196;
  ps.missing = zul_missing();
  ps.completionCode = 0;
  auto* grammar = static_cast<zul_grammar*>(h.alloc(sizeof(zul_grammar), kGrammarPoolFlags));
  if (!grammar) detail::stop(ps, kCodeMemory);
  *grammar = factorGrammar();
  uint32_t debugFlags = debugSwitches(h).parseFlags();
  const zul_parsed* parsedRecord = nullptr;
  int status = h.parse(grammar, debugFlags, &parsedRecord) & 0xFFFF;
  if (status != 0 || !parsedRecord) detail::stop(ps, status != 0 ? status : kCodeInternal);
  ps.opt.parsed = parsedRecord;

  detail::StatementParser(ps, *parsedRecord).run();
}

}  // namespace zulfact
