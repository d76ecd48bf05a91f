// The generic statement parser against a small grammar that uses every
// value form, and the variable lists resolved against a table's columns.
#include "zul/parse/parser.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>

namespace zul::parse {
namespace {

// ---- a grammar with every form ----

enum { kSlotN = 0, kSlotX, kSlotName, kSlotText, kSlotWord, kSlotCodes, kSlotPre, kSlotCirc,
       kSlotLab, kSlotLevel, kSlotPriors };
enum { kBitFlag1 = 0, kBitPl = 1, kBitPlValue = 2, kBitP1 = 3, kBitP2 = 4, kBitFlip = 5,
       kBitAuto = 6, kBitCirc = 7, kBitNotSorted = 8, kBitPriors = 9, kBitDraw = 10 };

const zul_keyword kAutoOptions[] = {
    {"LEVEL", ZUL_VALUE_NUMBER, -1, kSlotLevel, ZUL_CHECK_MIN | ZUL_CHECK_MAX, 0, 1, 0, nullptr, 0, nullptr}};
const zul_word kNWords[] = {{"AUTO", 0, kBitAuto, 0, 0, 1, kAutoOptions}};
const zul_word kWords[] = {{"ONE|O", 1, -1, 1, 0, 0, nullptr},
                           {"TWO", 2, -1, 1, 0, 0, nullptr},
                           {"HIDDEN$", 3, -1, 1, 0, 0, nullptr}};
const zul_word kCodes[] = {{"ALPHA|A", 1, -1, 1, 2, 0, nullptr}, {"BETA", 2, -1, 1, 0, 0, nullptr}};
const zul_keyword kP2Options[] = {{"FLIP", ZUL_VALUE_FLAG, kBitFlip, -1, 0, 0, 0, 0, nullptr, 0, nullptr}};
const zul_word kRequests[] = {{"P1", 0, kBitP1, 0, 0, 0, nullptr},
                              {"P2", 0, kBitP2, 0, 0, 1, kP2Options}};

const zul_keyword kProcOptions[] = {
    {"DATA", ZUL_VALUE_TABLE, -1, ZUL_DS_DATA, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"OUT", ZUL_VALUE_TABLE, -1, ZUL_DS_OUT, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"NUMBER|N", ZUL_VALUE_INTEGER, -1, kSlotN, ZUL_CHECK_MIN | ZUL_CHECK_MAX, 0, 10, 1, kNWords, 0, nullptr},
    {"X", ZUL_VALUE_NUMBER, -1, kSlotX, ZUL_CHECK_MIN, 0, 0, 0, nullptr, 0, nullptr},
    {"NAME", ZUL_VALUE_NAME, -1, kSlotName, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"T", ZUL_VALUE_TEXT, -1, kSlotText, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"W", ZUL_VALUE_WORD, -1, kSlotWord, 0, 0, 0, 3, kWords, 0, nullptr},
    {"R", ZUL_VALUE_CODES, -1, kSlotCodes, 0, 0, 0, 2, kCodes, 0, nullptr},
    {"PRE", ZUL_VALUE_CODES, -1, kSlotPre, ZUL_CHECK_SINGLE, 0, 0, 2, kCodes, 0, nullptr},
    {"PL", ZUL_VALUE_REQUESTS, kBitPlValue, -1, 0, 0, 0, 2, kRequests, 0, nullptr},
    {"CIRC", ZUL_VALUE_NUMBERS, kBitCirc, kSlotCirc, ZUL_CHECK_MIN | ZUL_CHECK_MAX | ZUL_CHECK_OPTIONAL_VALUE, 0, 100, 0, nullptr, 0, nullptr},
    {"LAB", ZUL_VALUE_PAIRS, -1, kSlotLab, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"FLAG1|F1", ZUL_VALUE_FLAG, kBitFlag1, -1, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"PL", ZUL_VALUE_FLAG, kBitPl, -1, 0, 0, 0, 0, nullptr, 0, nullptr},
};
const zul_keyword kByOptions[] = {{"NOTSORTED", ZUL_VALUE_FLAG, kBitNotSorted, -1, 0, 0, 0, 0, nullptr, 0, nullptr}};
const zul_word kPriorsWords[] = {{"SMC", 1, -1, 1, 0, 0, nullptr}};
const zul_keyword kDrawOptions[] = {
    {"X", ZUL_VALUE_NUMBER, -1, kSlotX, ZUL_CHECK_MIN, 0, 0, 0, nullptr, 0, nullptr},
    {"LAB", ZUL_VALUE_PAIRS, -1, kSlotLab, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"FLAG1", ZUL_VALUE_FLAG, kBitFlag1, -1, 0, 0, 0, 0, nullptr, 0, nullptr},
};
const zul_statement kStatements[] = {
    {"PROC", ZUL_STMT_OPTIONS, -1, -1, ZUL_VARS_ANY, 14, kProcOptions, 0, nullptr},
    {"VAR|VARIABLES", ZUL_STMT_VARLIST, ZUL_LIST_VAR, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0, nullptr},
    {"BY", ZUL_STMT_BY, ZUL_LIST_BY, -1, ZUL_VARS_ANY, 1, kByOptions, 0, nullptr},
    {"FREQ", ZUL_STMT_ONEVAR, ZUL_LIST_FREQ, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0, nullptr},
    {"PRIORS", ZUL_STMT_PRIORS, kSlotPriors, kBitPriors, ZUL_VARS_ANY, 0, nullptr, 1, kPriorsWords},
    {"DRAW", ZUL_STMT_REPEATED, -1, kBitDraw, ZUL_VARS_ANY, 3, kDrawOptions, 0, nullptr},
};
const zul_grammar kGrammar = {ZUL_GRAMMAR_FORMAT, 0, 6, kStatements};

// ---- tables: named column lists standing in for the host's table layer ----

zul_table* handle(int k) { return reinterpret_cast<zul_table*>(static_cast<uintptr_t>(0x1000 + 16 * k)); }

class ColumnTables : public TableOpener {
 public:
  ColumnTables() {
    // id c grp are character
    tableColumns["WORK.T"] = {{"id", true, ""}, {"a", false, ""}, {"b", false, ""}, {"c", true, ""}, {"d", false, ""},
                         {"x1", false, ""}, {"x2", false, ""}, {"x3", false, ""}, {"x4", false, ""},
                         {"x5", false, ""}, {"q01", false, ""}, {"q02", false, ""}, {"q03", false, ""},
                         {"grp", true, ""}, {"w", false, ""}};
  }
  zul_table* openInput(const TableSpec& dsName, std::string& error) override {
    opened.push_back(dsName);
    std::string key = (dsName.library.empty() ? "WORK" : dsName.library) + "." + dsName.member;
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!tableColumns.count(key)) {
      error = "Table " + key + " does not exist.";
      return nullptr;
    }
    names.push_back(key);
    return handle(static_cast<int>(names.size()));
  }
  zul_table* openLastCreated(std::string&) override {
    if (!lastCreated) return nullptr;
    names.push_back("WORK.T");
    return handle(static_cast<int>(names.size()));
  }
  std::vector<ColumnInfo> columns(zul_table* t) override {
    size_t k = (reinterpret_cast<uintptr_t>(t) - 0x1000) / 16;
    return tableColumns.at(names.at(k - 1));
  }
  zul_table* openOutput(const TableSpec& dsName, std::string&) override {
    outputs.push_back(dsName);
    return handle(99);
  }
  std::map<std::string, std::vector<ColumnInfo>> tableColumns;
  std::vector<std::string> names;
  std::vector<TableSpec> opened, outputs;
  bool lastCreated = false;
};

struct Result {
  std::unique_ptr<ParsedStep> parsed;
  int status = -1;
  std::vector<std::string> lines;
  const zul_parsed& rec() const { return *parsed->record(); }
  std::vector<int> list(int l) const {
    const zul_varlist& v = rec().lists[l];
    return std::vector<int>(v.numbers, v.numbers + v.count);
  }
};

Result parse(const std::string& text, ColumnTables* tablesIn = nullptr, unsigned debug = 0) {
  Program p = readProgramText(text, "p.zul", {"PROC"});
  ColumnTables local;
  ColumnTables& tables = tablesIn ? *tablesIn : local;
  CollectDiagnostics diag;
  Result r;
  EXPECT_EQ(p.items.size(), 1u);
  EXPECT_TRUE(p.items.at(0).errors.empty());
  Step step = p.items.at(0).step;
  r.parsed = parseStep(step, kGrammar, tables, diag, r.status, debug);
  r.lines = diag.lines;
  return r;
}

class Parser : public ::testing::Test {};

// Each occurrence of a repeatable statement keeps its own options; none of
// them leaks into the main record or into another occurrence.
TEST_F(Parser, RepeatedStatementKeepsEachOccurrence) {
  Result r = parse("proc data=t x=5; draw x=1 flag1; draw lab=[a='A b']; draw;");
  ASSERT_EQ(r.status, 0) << (r.lines.empty() ? "" : r.lines[0]);
  const zul_parsed& rec = r.rec();
  EXPECT_TRUE(zul_flag_test(rec.flags, kBitDraw));
  EXPECT_FALSE(zul_flag_test(rec.flags, kBitFlag1));
  EXPECT_EQ(rec.slots[kSlotX].v.number, 5);
  EXPECT_EQ(rec.slots[kSlotLab].given, 0);
  ASSERT_EQ(rec.nOccurrences, 3);
  const zul_occurrence* o = rec.occurrences;
  EXPECT_EQ(o[0].statement, 5);
  EXPECT_EQ(o[0].slots[kSlotX].v.number, 1);
  EXPECT_TRUE(zul_flag_test(o[0].flags, kBitFlag1));
  EXPECT_EQ(o[1].slots[kSlotX].given, 0);
  EXPECT_FALSE(zul_flag_test(o[1].flags, kBitFlag1));
  ASSERT_EQ(o[1].slots[kSlotLab].count, 1);
  const auto* pairs = static_cast<const zul_pair*>(o[1].slots[kSlotLab].data);
  EXPECT_STREQ(pairs[0].name, "a");
  EXPECT_STREQ(pairs[0].text, "A b");
  EXPECT_EQ(o[2].slots[kSlotLab].given, 0);
  EXPECT_LT(o[1].line * 1000 + o[1].column, o[2].line * 1000 + o[2].column);
}

TEST_F(Parser, RepeatedStatementFaultIsReported) {
  Result r = parse("proc data=t; draw x=1; draw x=-1;");
  EXPECT_NE(r.status, 0);
  ASSERT_FALSE(r.lines.empty());
  EXPECT_NE(r.lines[0].find("X"), std::string::npos) << r.lines[0];
}

TEST_F(Parser, EveryValueFormFillsItsSlot) {
  Result r = parse(
      "proc data=t n=7 x=-0 name=Abcdefghij t='a text' w=o r=alpha(1, -2) r=beta,a(3) "
      "pre=beta pre=a(0.5) pl=(p1 p2(flip)) circ=10 20,30 lab=[f1='one' f2=two] f1 pl;");
  ASSERT_EQ(r.status, 0) << (r.lines.empty() ? "" : r.lines[0]);
  const zul_parsed& rec = r.rec();
  EXPECT_EQ(rec.slots[kSlotN].given, 1);
  EXPECT_EQ(rec.slots[kSlotN].v.number, 7);
  EXPECT_EQ(rec.slots[kSlotX].v.number, 0);
  EXPECT_STREQ(static_cast<const char*>(rec.slots[kSlotName].data), "Abcdefghij");
  EXPECT_EQ(std::string(rec.slots[kSlotName].v.name, 8), "Abcdefgh");
  EXPECT_EQ(rec.slots[kSlotName].count, 10);
  EXPECT_STREQ(static_cast<const char*>(rec.slots[kSlotText].data), "a text");
  EXPECT_EQ(rec.slots[kSlotWord].v.number, 1);
  EXPECT_STREQ(static_cast<const char*>(rec.slots[kSlotWord].data), "ONE");

  // R= given twice: entries appended, the boundary at 1, parameters with
  // the 1-based entry they follow.
  auto* codes = static_cast<const zul_code_list*>(rec.slots[kSlotCodes].data);
  EXPECT_EQ(std::vector<int>(codes->codes, codes->codes + codes->count), (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(std::vector<double>(codes->params, codes->params + codes->nParams),
            (std::vector<double>{1, -2, 3}));
  EXPECT_EQ(std::vector<int>(codes->paramPositions, codes->paramPositions + codes->nParams),
            (std::vector<int>{1, 1, 3}));
  EXPECT_EQ(std::vector<int>(codes->boundaries, codes->boundaries + codes->nBoundaries),
            (std::vector<int>{0, 1}));
  // PRE= (single) given twice: the last one stands.
  auto* pre = static_cast<const zul_code_list*>(rec.slots[kSlotPre].data);
  ASSERT_EQ(pre->count, 1);
  EXPECT_EQ(pre->codes[0], 1);
  EXPECT_EQ(pre->params[0], 0.5);

  // kBitPl: the bare PL at the end.
  for (int bit : {kBitPlValue, kBitP1, kBitP2, kBitFlip, kBitFlag1, kBitPl, kBitCirc})
    EXPECT_TRUE(zul_flag_test(rec.flags, bit)) << bit;
  EXPECT_FALSE(zul_flag_test(rec.flags, kBitAuto));
  ASSERT_EQ(rec.slots[kSlotCirc].count, 3);
  EXPECT_EQ(static_cast<const double*>(rec.slots[kSlotCirc].data)[2], 30);
  ASSERT_EQ(rec.slots[kSlotLab].count, 2);
  auto* pairs = static_cast<const zul_pair*>(rec.slots[kSlotLab].data);
  EXPECT_STREQ(pairs[0].name, "f1");
  EXPECT_STREQ(pairs[0].text, "one");
  EXPECT_STREQ(pairs[1].text, "two");
  EXPECT_EQ(rec.tableGiven[ZUL_DS_DATA], 1);
  EXPECT_NE(rec.tables[ZUL_DS_DATA], nullptr);
  EXPECT_EQ(rec.line, 1);
}

TEST_F(Parser, WordsInPlaceOfNumbersAndOptionalValues) {
  Result r = parse("proc data=t n=auto(level=0.5) circ;");
  ASSERT_EQ(r.status, 0);
  EXPECT_FALSE(r.rec().slots[kSlotN].given);  // the word sets its bit only
  EXPECT_TRUE(zul_flag_test(r.rec().flags, kBitAuto));
  EXPECT_EQ(r.rec().slots[kSlotLevel].v.number, 0.5);
  EXPECT_TRUE(zul_flag_test(r.rec().flags, kBitCirc));
  EXPECT_FALSE(r.rec().slots[kSlotCirc].given);
}

TEST_F(Parser, RangeAndFormErrorsNameTheOptionAndWhere) {
  struct Case {
    const char* text;
    const char* line;
  } cases[] = {
      {"proc data=t n=11;", "ERROR: p.zul:1:15: The value 11 of N= is out of range; N= takes an integer from 0 to 10."},
      {"proc data=t number=2.5;", "ERROR: p.zul:1:20: The value of NUMBER= must be an integer; 2.5 is not one."},
      {"proc data=t x=-1;", "ERROR: p.zul:1:15: The value -1 of X= is out of range; X= takes a value of at least 0."},
      {"proc data=t n=auto(level=2);", "ERROR: p.zul:1:26: The value 2 of LEVEL= is out of range; LEVEL= takes a value from 0 to 1."},
      {"proc data=t circ=5 101;", "ERROR: p.zul:1:20: The value 101 of CIRC= is out of range; CIRC= takes a value from 0 to 100."},
      // An unknown word: the nearest option when one is close, else a hint
      // about a missing ';' (before a statement name, or before variables).
      {"proc data=t bogus;", "ERROR: p.zul:1:13: Syntax error: BOGUS is not an option of the PROC statement. If BOGUS is a variable, it belongs in a VAR statement: is a ';' missing before it?"},
      {"proc data=t numbr=2;", "ERROR: p.zul:1:13: Syntax error: NUMBR is not an option of the PROC statement; did you mean NUMBER=?"},
      {"proc data=t ciRC2;", "ERROR: p.zul:1:13: Syntax error: CIRC2 is not an option of the PROC statement; did you mean CIRC?"},
      {"proc data=t fl;", "ERROR: p.zul:1:13: Syntax error: FL is not an option of the PROC statement; did you mean PL=?"},
      {"proc data=t var a;", "ERROR: p.zul:1:13: Syntax error: VAR is not an option of the PROC statement; is a ';' missing before VAR?"},
      {"proc data=t );", "ERROR: p.zul:1:13: Syntax error: ')' is not an option of the PROC statement."},
      {"proc data=t w=hidden w=three;", "ERROR: p.zul:1:24: Expected one of ONE, TWO after W=, found 'three'."},
      {"proc data=t x;", "ERROR: p.zul:1:14: Expected '=' after X, found the end of the statement."},
      {"proc data=t r=beta(1);", "ERROR: p.zul:1:19: BETA takes no parameters in parentheses."},
      {"proc data=t r=a(1 2 3);", "ERROR: p.zul:1:15: ALPHA takes at most 2 parameters in parentheses."},
      {"proc data=t pre=a,beta;", "ERROR: p.zul:1:18: PRE= takes one value, found ','."},
      {"proc data=t(type=corr lbl='x');", "ERROR: p.zul:1:23: Unknown data-set option LBL=; expected TYPE= or LABEL=."},
      {"proc data=t(where=(a>1));", "ERROR: p.zul:1:13: Unknown data-set option WHERE=; expected TYPE= or LABEL=."},
      {"proc data=t pl=(p1 p2;", "ERROR: p.zul:1:22: Expected ')' to close the list of PL=, found the end of the statement."},
      {"proc data=t; var a; var b;", "ERROR: p.zul:1:21: Only one VAR statement is allowed in a step."},
      {"proc data=t; model a;", "ERROR: p.zul:1:14: Statement MODEL is not valid in a PROC step; expected one of: VAR, BY, FREQ, PRIORS, DRAW, RUN."},
      {"proc data=t; freq a b;", "ERROR: p.zul:1:21: The FREQ statement takes one variable."},
      {"proc data=t; priors 0.5 x;", "ERROR: p.zul:1:25: Expected a prior communality, found 'x'."},
      {"proc data=t; var a--;", "ERROR: p.zul:1:21: Expected the variable that ends the range a--, found the end of the statement."},
      {"proc data='';", "ERROR: p.zul:1:11: The table name '' is empty; give a table name or a path."},
      {"proc data=t out='';", "ERROR: p.zul:1:17: The table name '' is empty; give a table name or a path."},
      {"proc data=t name='quoted';", "ERROR: p.zul:1:18: Expected a name after NAME=, found the quoted text 'quoted' (keywords and names are written without quotes)."},
  };
  for (const Case& c : cases) {
    Result r = parse(c.text);
    EXPECT_EQ(r.status, kParseSyntaxError) << c.text;
    ASSERT_FALSE(r.lines.empty()) << c.text;
    EXPECT_EQ(r.lines.back(), c.line) << c.text;
    EXPECT_EQ(r.rec().tables[ZUL_DS_DATA], nullptr) << "nothing opened after a syntax error";
  }
  // An option given twice is said, since only the last counts (OUT=a OUT=b writes only b).
  Result twice = parse("proc data=t w=one w=two;");
  ASSERT_EQ(twice.status, 0);
  ASSERT_EQ(twice.lines.size(), 1u);
  EXPECT_EQ(twice.lines[0], "WARNING: p.zul:1:19: W= is given more than once (first at line 1, "
                            "column 13); only the last value is used.");
}

TEST_F(Parser, OneFaultPerStatementAndTheOthersStillChecked) {
  Result r = parse("proc data=t n=99 x=-1;\nvar a--;\nby;");
  EXPECT_EQ(r.status, kParseSyntaxError);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_NE(r.lines[0].find("p.zul:1:15:"), std::string::npos);
  EXPECT_NE(r.lines[1].find("p.zul:2:8: Expected the variable that ends the range a-"), std::string::npos);
  EXPECT_NE(r.lines[2].find("p.zul:3:3: Expected a variable name after BY."), std::string::npos);
}

TEST_F(Parser, VariableListForms) {
  // Column numbers (from 1): id 1, a 2, b 3, c 4, d 5, x1..x5 6..10,
  // q01..q03 11..13, grp 14, w 15.
  struct Case {
    const char* list;
    std::vector<int> numbers;
  } cases[] = {
      {"A b", {2, 3}},
      {"x2-x4", {7, 8, 9}},
      {"X2 - x2", {7}},
      {"q01-q03", {11, 12, 13}},
      {"a-numeric-x2", {2, 3, 5, 6, 7}},
      {"x:", {6, 7, 8, 9, 10}},
      {"_numeric_", {2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15}},
  };
  for (const Case& c : cases) {
    Result r = parse(std::string("proc data=t; var ") + c.list + ";");
    ASSERT_EQ(r.status, 0) << c.list << ": " << (r.lines.empty() ? "" : r.lines[0]);
    EXPECT_EQ(r.list(ZUL_LIST_VAR), c.numbers) << c.list;
  }
  // Lists that may hold character variables.
  Result r = parse("proc data=t; by id--c descending d grp-char-w notsorted;");
  ASSERT_EQ(r.status, 0) << (r.lines.empty() ? "" : r.lines[0]);
  EXPECT_EQ(r.list(ZUL_LIST_BY), (std::vector<int>{1, 2, 3, 4, 5, 14}));
  const zul_varlist& by = r.rec().lists[ZUL_LIST_BY];
  EXPECT_EQ(by.descending[4], 1);
  EXPECT_EQ(by.descending[3], 0);
  EXPECT_TRUE(r.parsed->byNotSorted);
  ASSERT_EQ(r.parsed->byNames.size(), 6u);
  EXPECT_EQ(r.parsed->byNames[4].name, "d");
  EXPECT_TRUE(r.parsed->byNames[4].descending);
  EXPECT_TRUE(zul_flag_test(r.rec().flags, kBitNotSorted));
  for (const char* all : {"_all_", "_character_", "_char_", "c-character-grp"}) {
    Result s = parse(std::string("proc data=t; by ") + all + ";");
    ASSERT_EQ(s.status, 0) << all;
    std::vector<int> want = std::string(all) == "_all_"
                                ? std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}
                            : std::string(all) == "c-character-grp" ? std::vector<int>{4, 14}
                                                                    : std::vector<int>{1, 4, 14};
    EXPECT_EQ(s.list(ZUL_LIST_BY), want) << all;
  }
  Result f = parse("proc data=t; freq w;");
  EXPECT_EQ(f.list(ZUL_LIST_FREQ), std::vector<int>{15});
}

TEST_F(Parser, VariableListFaultsNameTheVariableAndItsPlace) {
  struct Case {
    const char* text;
    const char* line;
  } cases[] = {
      {"proc data=t;\nvar a zz b;", "ERROR: p.zul:2:7: Variable ZZ not found in t."},
      {"proc data=t; var x4-x6;", "ERROR: p.zul:1:18: Variable X6 not found in t."},
      // A range past the columns is one message, however long (not one per name).
      {"proc data=t; var x0-x99999999;",
       "ERROR: p.zul:1:18: Variables X0, X6 to X99999999 of the range X0-X99999999 not found in t. "
       "Correct the range to the variables the table has."},
      // A statement word among the variables: most likely a ';' left out,
      // unless it is a name literal, which is always a variable.
      {"proc data=t; var a run;", "ERROR: p.zul:1:20: Variable RUN not found in t. Is a ';' missing before RUN?"},
      {"proc data=t; var a by grp;", "ERROR: p.zul:1:20: Variable BY not found in t. Is a ';' missing before BY?"},
      {"proc data=t; var a 'by'n;", "ERROR: p.zul:1:20: Variable BY not found in t. Did you mean b?"},
      {"proc data=t; var a xx1;", "ERROR: p.zul:1:20: Variable XX1 not found in t. Did you mean x1?"},
      {"proc data=t; var x3-x1;", "ERROR: p.zul:1:18: The range X3-X1 is not valid: both names need the same prefix and a numeric suffix, the first not above the second (x1-x5); use two dashes (a--d) for a range in table order."},
      {"proc data=t; var a-b;", "ERROR: p.zul:1:18: The range A-B is not valid: both names need the same prefix and a numeric suffix, the first not above the second (x1-x5); use two dashes (a--d) for a range in table order."},
      {"proc data=t; var d--a;", "ERROR: p.zul:1:18: The range D--A is not valid: A comes before D in t."},
      {"proc data=t; var b--d;", "ERROR: p.zul:1:18: Variable C in the VAR statement is character; only numeric variables are allowed there."},
      {"proc data=t; var zz:;", "ERROR: p.zul:1:18: No variable of t begins with ZZ."},
      {"proc data=t; freq grp;", "ERROR: p.zul:1:19: Variable GRP in the FREQ statement is character; only numeric variables are allowed there."},
  };
  for (const Case& c : cases) {
    ColumnTables tables;
    Result r = parse(c.text, &tables);
    EXPECT_EQ(r.status, kParseVariableError) << c.text;
    ASSERT_FALSE(r.lines.empty()) << c.text;
    EXPECT_EQ(r.lines[0], c.line) << c.text;
    if (std::string(c.text).find("x99999999") != std::string::npos) {
      EXPECT_EQ(r.lines.size(), 1u) << r.lines.back();
    }
  }
  // A variable named many times is reported once, at its first repeat, and
  // a list of 40000 names is checked in a moment (pair by pair: minutes).
  std::string many = "proc data=t; var a b";
  for (int i = 0; i < 20000; ++i) many += " a b";
  const auto start = std::chrono::steady_clock::now();
  Result r = parse(many + ";");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(r.status, kParseVariableError);
  EXPECT_THAT(r.lines, ::testing::ElementsAre(
                           "ERROR: p.zul:1:22: Variable A is listed twice in the VAR statement.",
                           "ERROR: p.zul:1:24: Variable B is listed twice in the VAR statement."));
}

TEST_F(Parser, TablesOpenInOrderAndOnlyForASoundStep) {
  ColumnTables tables;
  Result r = parse("proc data=work.t(type=corr label='A ''label''') out='out/x.csv';", &tables);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(tables.opened.size(), 1u);
  EXPECT_EQ(tables.opened[0].library, "work");
  EXPECT_EQ(tables.opened[0].member, "t");
  EXPECT_TRUE(tables.opened[0].hasType);
  EXPECT_EQ(tables.opened[0].type, "CORR");
  EXPECT_EQ(tables.opened[0].label, "A 'label'");
  ASSERT_EQ(tables.outputs.size(), 1u);
  EXPECT_TRUE(tables.outputs[0].quoted);
  EXPECT_EQ(tables.outputs[0].text(), "'out/x.csv'");

  // A missing variable: DATA= was opened to look, OUT= is not created.
  ColumnTables t2;
  r = parse("proc data=t out=o; var nope;", &t2);
  EXPECT_EQ(r.status, kParseVariableError);
  EXPECT_TRUE(t2.outputs.empty());

  // A table that does not exist is reported where it is named.
  ColumnTables t3;
  r = parse("proc  data=lib.none;", &t3);
  EXPECT_EQ(r.status, kParseSyntaxError);
  EXPECT_EQ(r.lines.at(0), "ERROR: p.zul:1:12: Table LIB.NONE does not exist.");

  // DATA= left out: the table created last, or none at all.
  ColumnTables t4;
  r = parse("proc; var a;", &t4);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.rec().tables[ZUL_DS_DATA], nullptr);
  EXPECT_EQ(r.rec().tableGiven[ZUL_DS_DATA], 0);
  t4.lastCreated = true;
  r = parse("proc; var a;", &t4);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.rec().tables[ZUL_DS_DATA], nullptr);
  EXPECT_EQ(r.list(ZUL_LIST_VAR), std::vector<int>{2});
}

TEST_F(Parser, PriorsStatementTakesAWordOrNumbers) {
  Result r = parse("proc data=t; priors .5, .25 1;");
  ASSERT_EQ(r.status, 0);
  const zul_slot& s = r.rec().slots[kSlotPriors];
  EXPECT_EQ(s.kind, ZUL_VALUE_NUMBERS);
  ASSERT_EQ(s.count, 3);
  EXPECT_EQ(static_cast<const double*>(s.data)[1], 0.25);
  EXPECT_TRUE(zul_flag_test(r.rec().flags, kBitPriors));
  r = parse("proc data=t; priors smc;");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.rec().slots[kSlotPriors].kind, ZUL_VALUE_WORD);
  EXPECT_EQ(r.rec().slots[kSlotPriors].v.number, 1);
}

TEST_F(Parser, DebugSwitchesLogTokensAndTheRecord) {
  Result r = parse("proc data=t n=3; var a;", nullptr, kDebugSyntax | kDebugSemantics);
  ASSERT_EQ(r.status, 0);
  ASSERT_GE(r.lines.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(r.lines.begin(), r.lines.begin() + 5),
            (std::vector<std::string>{"NOTE: SYN: p.zul:1:1: proc data = t n = 3",
                                      "NOTE: SYN: p.zul:1:18: var a", "NOTE: SEM: DATA=t",
                                      "NOTE: SEM: NUMBER=3", "NOTE: SEM: list VAR (1 variables): a"}));
}

TEST_F(Parser, SoundAndBrokenGrammars) {
  EXPECT_TRUE(checkGrammar(kGrammar).empty());
  zul_keyword bad[] = {{"", ZUL_VALUE_NUMBER, -1, 200, 0, 0, 0, 0, nullptr, 0, nullptr},
                       {"W", ZUL_VALUE_WORD, 600, 1, 0, 0, 0, 0, nullptr, 0, nullptr}};
  zul_statement st[] = {{"P", ZUL_STMT_OPTIONS, -1, -1, 0, 2, bad, 0, nullptr},
                        {"V", ZUL_STMT_VARLIST, 9, -1, 0, 0, nullptr, 0, nullptr}};
  zul_grammar g = {ZUL_GRAMMAR_FORMAT, 0, 2, st};
  auto problems = checkGrammar(g);
  EXPECT_EQ(problems.size(), 5u);  // spelling, slot, bit, words, list
}

}  // namespace
}  // namespace zul::parse
