// zul/parse/parser.cpp -- the recursive-descent parser over the module's
// grammar data (zul/abi_grammar.h).
//
// Two phases. The syntax phase walks every statement of the step against
// the grammar and collects values in plain C++ containers, reporting the
// first fault of each statement. The binding phase runs only for a step
// without faults: it opens the tables, resolves the variable lists
// against the columns of DATA= and copies everything into the C record,
// whose pointers then stay valid as long as the ParsedStep lives.
#include "zul/parse/parser.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

#include <fmt/format.h>

#include "zul/parse/suggest.hpp"

namespace zul::parse {

// ---------------------------------------------------------------------
// Storage and small helpers
// ---------------------------------------------------------------------

struct ParsedStep::Storage {
  zul_parsed rec{};
  std::string file;
  std::deque<std::string> texts;
  std::deque<std::vector<double>> doubles;
  std::deque<std::vector<int32_t>> ints;
  std::deque<std::vector<uint8_t>> bytes;
  std::deque<std::vector<zul_pair>> pairs;
  std::deque<zul_code_list> codeLists;
  std::vector<zul_occurrence> occurrences;
  std::map<std::string, Position> written;  // "NAME=" of options, "NAME" of statements

  const char* text(std::string s) { return texts.emplace_back(std::move(s)).c_str(); }
};

ParsedStep::ParsedStep() : storage_(std::make_unique<Storage>()) {}
ParsedStep::~ParsedStep() = default;
const zul_parsed* ParsedStep::record() const { return &storage_->rec; }
zul_parsed* ParsedStep::mutableRecord() { return &storage_->rec; }
ParsedStep::Storage& ParsedStep::storage() { return *storage_; }

void Diagnostics::error(const std::string& file, Position pos, const std::string& text) {
  ++errors_;
  write(Severity::Error, errorLine(file, pos, text));
}
void Diagnostics::note(const std::string& text) { write(Severity::Note, "NOTE: " + text); }
void Diagnostics::warning(const std::string& text) {
  write(Severity::Warning, "WARNING: " + text);
}

std::string TableSpec::text() const {
  if (quoted) return "'" + member + "'";
  return library.empty() ? member : library + "." + member;
}

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

struct Spelling {
  std::string word;  // upper case, without '$'
  bool hidden;
};
std::vector<Spelling> spellingsOf(const char* s) {
  std::vector<Spelling> out;
  if (!s) return out;
  std::string cur;
  auto flush = [&]() {
    if (cur.empty()) return;
    bool hidden = cur.back() == '$';
    if (hidden) cur.pop_back();
    out.push_back({upper(cur), hidden});
    cur.clear();
  };
  for (const char* p = s; *p; ++p) {
    if (*p == '|') {
      flush();
    } else {
      cur += *p;
    }
  }
  flush();
  return out;
}
bool spelledAs(const char* spellings, const Token& t) {
  if (t.kind != TokenKind::Name || t.nameLiteral) return false;
  std::string w = upper(t.text);
  for (const auto& s : spellingsOf(spellings))
    if (s.word == w) return true;
  return false;
}
std::string mainSpelling(const char* spellings) {
  auto v = spellingsOf(spellings);
  return v.empty() ? std::string() : v.front().word;
}

std::string num(double x) { return fmt::format("{}", x); }

// What one value slot collected during the syntax phase.
struct SlotValue {
  bool given = false;
  int kind = ZUL_VALUE_FLAG;
  double number = 0;
  std::string text;
  std::vector<double> numbers;
  std::vector<int32_t> codes, positions, boundaries;
  std::vector<std::pair<std::string, std::string>> pairs;
};

// One element of a variable list as written.
struct VarItem {
  enum Kind { Single, NumberedRange, OrderRange, Prefix, Special } kind = Single;
  std::string a, b;
  int rangeType = 0;  // OrderRange: 0 all, 1 numeric, 2 character
  bool descending = false;
  bool statementWord = false;  // RUN, BY, ...: a ';' may be missing before it
  Position pos;
};
struct ListValue {
  bool given = false;
  const char* statement = "";
  int varType = ZUL_VARS_ANY;
  Position pos;
  std::vector<VarItem> items;
};

// A variable list resolved to column numbers (from 1), with each one's
// DESCENDING mark and where it was named.
struct ResolvedList {
  std::vector<int32_t> numbers;
  std::vector<uint8_t> desc;
  std::vector<Position> where;
};

// One occurrence of a statement that may be repeated: its own bits and
// slots.
struct Occurrence {
  int statement = 0;
  Position pos;
  uint8_t flags[ZUL_FLAG_BYTES] = {};
  std::map<int, SlotValue> slots;
};

struct SyntaxError {};  // unwinds one statement after its fault was reported

class StepParser {
 public:
  StepParser(const Step& step, const zul_grammar& g, Diagnostics& d, unsigned debug)
      : step_(step), g_(g), diag_(d), debug_(debug) {}

  void run();
  void bind(TableOpener& tables, ParsedStep& out, int& status);

 private:
  // ---- syntax phase ----
  const Token& tok() const { return (*tk_)[i_]; }
  bool atEnd() const { return i_ >= tk_->size(); }
  Position here() const { return atEnd() ? st_->end : tok().pos; }
  bool peekIs(char c) const { return !atEnd() && tok().is(c); }
  bool peekIs(size_t ahead, char c) const {
    return i_ + ahead < tk_->size() && (*tk_)[i_ + ahead].is(c);
  }
  [[noreturn]] void fail(Position p, const std::string& text) {
    diag_.error(step_.file, p, text);
    throw SyntaxError{};
  }
  [[noreturn]] void failHere(const std::string& text) { fail(here(), text); }
  std::string found() const {
    if (atEnd()) return "the end of the statement";
    // A keyword in quotes would read as if the keyword itself were wrong.
    if (tok().kind == TokenKind::String)
      return "the quoted text '" + tok().text + "' (keywords and names are written without quotes)";
    return "'" + tok().text + "'";
  }
  void expect(char c, const std::string& after) {
    if (!peekIs(c)) failHere(fmt::format("Expected '{}' {}, found {}.", c, after, found()));
    ++i_;
  }

  void statement(const zul_statement& s);
  void repeatedStatement(int which);
  void options(const zul_keyword* kws, int n, bool inParens, const std::string& where);
  void keyword(const zul_keyword& kw, const std::string& written, Position kwPos);
  void numberValue(const zul_keyword& kw, const std::string& name, const std::string& written);
  void textValue(const zul_keyword& kw, const std::string& name, const std::string& written);
  void codesValue(const zul_keyword& kw, const std::string& name, const std::string& written);
  bool listGoesOn(const zul_keyword& kw);
  std::string codeParameters(const zul_word& w, SlotValue& s, Position vpos);
  void requestsValue(const zul_keyword& kw, const std::string& name, const std::string& written);
  void numbersValue(const zul_keyword& kw, const std::string& name, const std::string& written);
  void pairsValue(const zul_keyword& kw, const std::string& name, const std::string& written);
  const zul_keyword* findKeyword(const zul_keyword* kws, int n, const Token& t);
  std::string keywordList(const zul_keyword* kws, int n) const;
  std::string unknownOption(const zul_keyword* kws, int n, bool inParens,
                            const std::string& where) const;
  std::string wordList(const zul_word* w, int n) const;
  const zul_word* findWord(const zul_word* w, int n, const Token& t) const;
  void applyWord(const zul_word& w, const zul_keyword* kw, bool storeInSlot);
  double signedNumber(const std::string& what);
  void checkRange(const zul_keyword& kw, double v, const std::string& name, Position p,
                  bool integer);
  void tableSpec(int ds);
  void varList(const zul_statement& s, ListValue& lv);
  bool startsStatement(const Token& t) const;
  void setFlag(int bit) {
    if (bit >= 0 && bit < ZUL_FLAG_BYTES * 8) zul_flag_set(flags_, bit);
  }
  SlotValue& slot(int s) { return slots_[s]; }
  void sem(const std::string& s) {
    if (debug_ & kDebugSemantics) semLog_.push_back(s);
  }

  // ---- binding phase ----
  void warnAboutDroppedColumns(const std::vector<ColumnInfo>& cols);
  bool resolve(ListValue& lv, const std::vector<ColumnInfo>& cols, const std::string& tableName,
               ResolvedList& out);
  bool checkOverlaps(const ResolvedList* lists, const std::vector<ColumnInfo>& cols);
  void warnAboutEmptyColumns(const ResolvedList* lists, const std::vector<ColumnInfo>& cols,
                             const std::string& dataName);
  bool openInputs(TableOpener& tables, zul_parsed& rec, std::string& dataName);
  bool bindLists(ParsedStep& out, const std::vector<ColumnInfo>& cols, const std::string& dataName);
  bool openOutputs(TableOpener& tables, zul_parsed& rec);
  void copySlot(ParsedStep::Storage& S, zul_slot& s, const SlotValue& v);
  void copyOccurrences(ParsedStep::Storage& S, zul_parsed& rec);
  void logSemantics(const zul_parsed& rec, const std::vector<ColumnInfo>& cols);

  const Step& step_;
  const zul_grammar& g_;
  Diagnostics& diag_;
  unsigned debug_;
  const Statement* st_ = nullptr;
  const std::vector<Token>* tk_ = nullptr;
  size_t i_ = 0;
  int errorsAtStart_ = 0;

  uint8_t flags_[ZUL_FLAG_BYTES] = {};
  std::map<int, SlotValue> slots_;
  bool tableGiven_[ZUL_DS_COUNT] = {};
  TableSpec tables_[ZUL_DS_COUNT];
  ListValue lists_[ZUL_LIST_COUNT];
  bool byNotSorted_ = false;
  std::vector<bool> seen_;
  std::vector<Occurrence> occurrences_;
  std::map<std::string, Position> written_;  // where each option and statement was written
  std::vector<std::string> semLog_;
};

// ---------------------------------------------------------------------
// Syntax phase
// ---------------------------------------------------------------------

void StepParser::run() {
  errorsAtStart_ = diag_.errorCount();
  seen_.assign(static_cast<size_t>(std::max(g_.nStatements, 0)), false);
  if (g_.format != ZUL_GRAMMAR_FORMAT || g_.nStatements < 1 || !g_.statements) {
    diag_.error(step_.file, step_.pos, "The procedure handed over a grammar this host cannot read.");
    return;
  }
  for (const Statement& s : step_.statements) {
    st_ = &s;
    tk_ = &s.tokens;
    i_ = 1;
    if (debug_ & kDebugSyntax) {
      std::string line = "SYN: " + fmt::format("{}:{}:{}:", step_.file, s.pos.line, s.pos.column);
      for (const Token& t : s.tokens)
        line += " " + (t.kind == TokenKind::String ? "'" + t.text + "'" : t.text);
      diag_.note(line);
    }
    int which = -1;
    if (&s == &step_.statements.front()) {
      which = 0;
    } else {
      for (int k = 1; k < g_.nStatements; ++k)
        if (spelledAs(g_.statements[k].spellings, s.tokens.front())) {
          which = k;
          break;
        }
    }
    try {
      if (which < 0) {
        std::string list;
        for (int k = 1; k < g_.nStatements; ++k) {
          if (!list.empty()) list += ", ";
          list += mainSpelling(g_.statements[k].spellings);
        }
        fail(s.pos, "Statement " + s.keyword() + " is not valid in a " + step_.procedure +
                        " step; expected one of: " + list + ", RUN.");
      }
      if (g_.statements[which].kind == ZUL_STMT_REPEATED && which > 0) {
        repeatedStatement(which);
        continue;
      }
      if (seen_[static_cast<size_t>(which)])
        fail(s.pos, "Only one " + mainSpelling(g_.statements[which].spellings) +
                        " statement is allowed in a step.");
      seen_[static_cast<size_t>(which)] = true;
      written_[upper(mainSpelling(g_.statements[which].spellings))] = s.pos;
      statement(g_.statements[which]);
    } catch (const SyntaxError&) {
    }
  }
}

// The options of one occurrence are parsed into fresh bits and slots, which
// are then set aside; the main record keeps only the statement's bit.
void StepParser::repeatedStatement(int which) {
  const zul_statement& s = g_.statements[which];
  setFlag(s.flagBit);
  Occurrence occ;
  occ.statement = which;
  occ.pos = st_->pos;
  std::swap(flags_, occ.flags);
  std::swap(slots_, occ.slots);
  auto restore = [&]() {
    std::swap(flags_, occ.flags);
    std::swap(slots_, occ.slots);
  };
  try {
    options(s.keywords, s.nKeywords, false, "the " + mainSpelling(s.spellings) + " statement");
  } catch (const SyntaxError&) {
    restore();
    throw;
  }
  restore();
  occurrences_.push_back(std::move(occ));
}

void StepParser::statement(const zul_statement& s) {
  setFlag(s.flagBit);
  std::string name = mainSpelling(s.spellings);
  switch (s.kind) {
    case ZUL_STMT_OPTIONS:
      options(s.keywords, s.nKeywords, false, "the " + name + " statement");
      break;
    case ZUL_STMT_VARLIST:
    case ZUL_STMT_BY:
    case ZUL_STMT_ONEVAR: {
      if (s.list < 0 || s.list >= ZUL_LIST_COUNT) failHere("Internal grammar fault: bad list.");
      ListValue& lv = lists_[s.list];
      lv = ListValue{};
      lv.given = true;
      lv.statement = s.spellings;
      lv.varType = s.varType;
      lv.pos = st_->pos;
      varList(s, lv);
      if (lv.items.empty()) failHere("Expected a variable name after " + name + ".");
      if (s.kind == ZUL_STMT_ONEVAR &&
          (lv.items.size() > 1 || lv.items[0].kind != VarItem::Single))
        fail(lv.items.size() > 1 ? lv.items[1].pos : lv.items[0].pos,
             "The " + name + " statement takes one variable.");
      break;
    }
    case ZUL_STMT_PRIORS: {
      SlotValue& v = slot(s.list);
      v = SlotValue{};
      if (!atEnd() && tok().kind == TokenKind::Name) {
        const zul_word* w = findWord(s.words, s.nWords, tok());
        if (!w)
          failHere("Expected a number or one of: " + wordList(s.words, s.nWords) + "; found " +
                   found() + ".");
        ++i_;
        v.given = true;
        v.kind = ZUL_VALUE_WORD;
        v.number = w->code;
        v.text = mainSpelling(w->spellings);
        setFlag(w->flagBit);
        sem(name + " " + v.text);
      } else {
        while (!atEnd()) {
          v.numbers.push_back(signedNumber("a prior communality"));
          if (peekIs(',')) ++i_;
        }
        if (v.numbers.empty()) failHere("Expected prior communalities or a method after " + name + ".");
        v.given = true;
        v.kind = ZUL_VALUE_NUMBERS;
        sem(fmt::format("{} with {} values", name, v.numbers.size()));
      }
      if (!atEnd()) failHere("Expected ';' after the " + name + " statement, found " + found() + ".");
      break;
    }
    default:
      failHere("Internal grammar fault: unknown statement kind.");
  }
}

const zul_keyword* StepParser::findKeyword(const zul_keyword* kws, int n, const Token& t) {
  const zul_keyword* flag = nullptr;
  const zul_keyword* value = nullptr;
  for (int k = 0; k < n; ++k) {
    if (!spelledAs(kws[k].spellings, t)) continue;
    if (kws[k].kind == ZUL_VALUE_FLAG) {
      if (!flag) flag = &kws[k];
    } else if (!value) {
      value = &kws[k];
    }
  }
  if (flag && value) {
    // PLOT alone versus PLOT=...: the value form when '=' or '(' follows.
    bool valueFollows = peekIs(1, '=') || (peekIs(1, '(') && !flag->options);
    return valueFollows ? value : flag;
  }
  return flag ? flag : value;
}

std::string StepParser::keywordList(const zul_keyword* kws, int n) const {
  std::vector<std::string> names;
  for (int k = 0; k < n; ++k) {
    auto sp = spellingsOf(kws[k].spellings);
    if (sp.empty() || sp.front().hidden) continue;
    std::string s = sp.front().word;
    if (kws[k].kind != ZUL_VALUE_FLAG && !(kws[k].check & ZUL_CHECK_OPTIONAL_VALUE)) s += "=";
    if (std::find(names.begin(), names.end(), s) == names.end()) names.push_back(s);
  }
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& s : names) out += (out.empty() ? "" : ", ") + s;
  return out;
}

std::string StepParser::wordList(const zul_word* w, int n) const {
  std::string out;
  for (int k = 0; k < n; ++k) {
    auto sp = spellingsOf(w[k].spellings);
    if (sp.empty() || sp.front().hidden) continue;
    out += (out.empty() ? "" : ", ") + sp.front().word;
  }
  return out;
}

// The message for a word that is no option here: the nearest spelling
// when one is close, a hint about a missing ';' when the word could start
// a statement or name a variable, and the whole list only when it is short.
std::string StepParser::unknownOption(const zul_keyword* kws, int n, bool inParens,
                                      const std::string& where) const {
  const Token& t = tok();
  const bool isName = t.kind == TokenKind::Name;
  std::string text = "Syntax error: " + (isName ? upper(t.text) : "'" + t.text + "'") +
                     " is not an option of " + where;
  if (isName) {
    if (!inParens)
      for (int k = 1; k < g_.nStatements; ++k)
        if (spelledAs(g_.statements[k].spellings, t))
          return text + "; is a ';' missing before " + upper(t.text) + "?";
    std::vector<std::string> known;
    for (int k = 0; k < n; ++k)
      for (const Spelling& sp : spellingsOf(kws[k].spellings))
        if (!sp.hidden) known.push_back(sp.word);
    std::string near = nearestWord(t.text, known);
    if (!near.empty()) {
      const zul_keyword* kw = nullptr;
      for (int k = 0; k < n && !kw; ++k)
        for (const Spelling& sp : spellingsOf(kws[k].spellings))
          if (sp.word == near) kw = &kws[k];
      if (kw) near = mainSpelling(kw->spellings);  // an alias suggests the usual spelling
      if (kw && kw->kind != ZUL_VALUE_FLAG && !(kw->check & ZUL_CHECK_OPTIONAL_VALUE)) near += "=";
      return text + "; did you mean " + near + "?";
    }
    if (!inParens) {
      std::string listStatement =
          g_.nStatements > 1 ? mainSpelling(g_.statements[1].spellings) + " statement" : "statement";
      return text + ". If " + upper(t.text) + " is a variable, it belongs in a " + listStatement +
             ": is a ';' missing before it?";
    }
  }
  // DATA=lib.survey.csv: a file's name written without its quotes.
  const auto at = [&](size_t back) -> const Token& { return (*tk_)[i_ - back]; };
  if (t.text == "." && i_ >= 5 && at(1).kind == TokenKind::Name && at(2).text == "." &&
      at(3).kind == TokenKind::Name && at(4).text == "=") {
    const bool extension = i_ + 1 < tk_->size() && (*tk_)[i_ + 1].kind == TokenKind::Name;
    return text + ". A file is named in quotes, as " + upper(at(5).text) + "='" + at(3).text +
           "." + at(1).text + (extension ? "." + (*tk_)[i_ + 1].text : std::string()) + "'.";
  }
  std::string list = keywordList(kws, n);
  if (std::count(list.begin(), list.end(), ',') < 10) return text + "; expected one of: " + list + ".";
  return text + ".";
}

const zul_word* StepParser::findWord(const zul_word* w, int n, const Token& t) const {
  for (int k = 0; k < n; ++k)
    if (spelledAs(w[k].spellings, t)) return &w[k];
  return nullptr;
}

void StepParser::options(const zul_keyword* kws, int n, bool inParens, const std::string& where) {
  std::map<const zul_keyword*, Position> valued;  // options given a value, and where
  for (;;) {
    if (atEnd()) {
      if (inParens) failHere("Expected ')' to close the options of " + where + ".");
      return;
    }
    if (inParens && peekIs(')')) {
      ++i_;
      return;
    }
    if (inParens && peekIs(',')) {  // tolerated between options in parentheses
      ++i_;
      continue;
    }
    const Token& t = tok();
    const zul_keyword* kw = t.kind == TokenKind::Name ? findKeyword(kws, n, t) : nullptr;
    if (!kw) failHere(unknownOption(kws, n, inParens, where));
    Position p = t.pos;
    std::string written = upper(t.text);
    ++i_;
    // OUT=a ... OUT=b writes only b: say so, rather than end as if both were.
    if (kw->kind != ZUL_VALUE_FLAG && peekIs('=')) {
      auto [at, first] = valued.emplace(kw, p);
      if (!first)
        diag_.warning(fmt::format("{}:{}:{}: {}= is given more than once (first at line {}, "
                                  "column {}); only the last value is used.",
                                  step_.file, p.line, p.column, mainSpelling(kw->spellings),
                                  at->second.line, at->second.column));
    }
    written_[upper(mainSpelling(kw->spellings)) + "="] = p;
    keyword(*kw, written, p);
  }
}

double StepParser::signedNumber(const std::string& what) {
  double sign = 1;
  if (peekIs('-') || peekIs('+')) {
    if (tok().text == "-") sign = -1;
    ++i_;
  }
  if (atEnd() || tok().kind != TokenKind::Number)
    failHere("Expected " + what + ", found " + found() + ".");
  double v = sign * tok().number;
  ++i_;
  return v;
}

void StepParser::checkRange(const zul_keyword& kw, double v, const std::string& name, Position p,
                            bool integer) {
  if (integer && !(std::floor(v) == v))
    fail(p, fmt::format("The value of {}= must be an integer; {} is not one.", name, num(v)));
  bool lo = (kw.check & ZUL_CHECK_MIN) && v < kw.min;
  bool hi = (kw.check & ZUL_CHECK_MAX) && v > kw.max;
  if (!lo && !hi) return;
  std::string range;
  std::string an = integer ? "an integer " : "a value ";
  if ((kw.check & ZUL_CHECK_MIN) && (kw.check & ZUL_CHECK_MAX))
    range = fmt::format("{}from {} to {}", an, num(kw.min), num(kw.max));
  else if (kw.check & ZUL_CHECK_MIN)
    range = fmt::format("{}of at least {}", an, num(kw.min));
  else
    range = fmt::format("{}of at most {}", an, num(kw.max));
  fail(p, fmt::format("The value {} of {}= is out of range; {}= takes {}.", num(v), name, name,
                      range));
}

void StepParser::applyWord(const zul_word& w, const zul_keyword* kw, bool storeInSlot) {
  setFlag(w.flagBit);
  if (w.options && peekIs('(')) {
    ++i_;
    options(w.options, w.nOptions, true, mainSpelling(w.spellings));
  }
  if (storeInSlot && kw && w.setsSlot && kw->slot >= 0) {
    SlotValue& v = slot(kw->slot);
    v.given = true;
    v.kind = ZUL_VALUE_WORD;
    v.number = w.code;
    v.text = mainSpelling(w.spellings);
  }
}

void StepParser::keyword(const zul_keyword& kw, const std::string& written, Position kwPos) {
  std::string name = mainSpelling(kw.spellings);
  setFlag(kw.flagBit);
  if (kw.options && peekIs('(')) {
    ++i_;
    options(kw.options, kw.nOptions, true, written);
  }
  if (kw.kind == ZUL_VALUE_FLAG) {
    sem(name);
    return;
  }
  if (!peekIs('=')) {
    if (kw.check & ZUL_CHECK_OPTIONAL_VALUE) {
      sem(name);
      return;
    }
    failHere(fmt::format("Expected '=' after {}, found {}.", written, found()));
  }
  ++i_;
  if (kw.slot < 0 && kw.kind != ZUL_VALUE_REQUESTS)
    fail(kwPos, "Internal grammar fault: " + name + " has no slot.");
  switch (kw.kind) {
    case ZUL_VALUE_NUMBER:
    case ZUL_VALUE_INTEGER:
      numberValue(kw, name, written);
      break;
    case ZUL_VALUE_NAME:
    case ZUL_VALUE_TEXT:
      textValue(kw, name, written);
      break;
    case ZUL_VALUE_TABLE:
      if (kw.slot >= ZUL_DS_COUNT) fail(kwPos, "Internal grammar fault: bad data set.");
      tableSpec(kw.slot);
      // A table is placed by its name, as the errors of opening it are.
      written_[upper(name) + "="] = tables_[kw.slot].pos;
      sem(name + "=" + tables_[kw.slot].text());
      break;
    case ZUL_VALUE_WORD: {
      const zul_word* w = atEnd() ? nullptr : findWord(kw.words, kw.nWords, tok());
      if (!w)
        failHere(fmt::format("Expected one of {} after {}=, found {}.",
                             wordList(kw.words, kw.nWords), written, found()));
      ++i_;
      applyWord(*w, &kw, true);
      sem(name + "=" + mainSpelling(w->spellings));
      break;
    }
    case ZUL_VALUE_CODES:
      codesValue(kw, name, written);
      break;
    case ZUL_VALUE_REQUESTS:
      requestsValue(kw, name, written);
      break;
    case ZUL_VALUE_NUMBERS:
      numbersValue(kw, name, written);
      break;
    case ZUL_VALUE_PAIRS:
      pairsValue(kw, name, written);
      break;
    default:
      fail(kwPos, "Internal grammar fault: unknown value kind of " + name + ".");
  }
}

// A number (or integer) after name=, or one of the words it also takes.
void StepParser::numberValue(const zul_keyword& kw, const std::string& name,
                             const std::string& written) {
  Position vpos = here();
  bool integer = kw.kind == ZUL_VALUE_INTEGER;
  if (!atEnd() && tok().kind == TokenKind::Name && kw.words) {
    const zul_word* w = findWord(kw.words, kw.nWords, tok());
    if (!w)
      failHere(fmt::format("Expected {} or one of {} after {}=, found {}.",
                           integer ? "an integer" : "a number", wordList(kw.words, kw.nWords),
                           written, found()));
    ++i_;
    applyWord(*w, &kw, true);
    sem(name + "=" + mainSpelling(w->spellings));
    return;
  }
  if (atEnd() || !(tok().kind == TokenKind::Number || tok().is('-') || tok().is('+'))) {
    std::string what = integer ? "an integer" : "a number";
    if (kw.words) what += " or one of " + wordList(kw.words, kw.nWords);
    failHere(fmt::format("Expected {} after {}=, found {}.", what, written, found()));
  }
  double v = signedNumber(integer ? "an integer" : "a number");
  checkRange(kw, v, written, vpos, integer);
  SlotValue& s = slot(kw.slot);
  s.given = true;
  s.kind = kw.kind;
  s.number = v;
  sem(name + "=" + num(v));
}

// A name, or a quoted text, after name=.
void StepParser::textValue(const zul_keyword& kw, const std::string& name,
                           const std::string& written) {
  bool ok = !atEnd() && (tok().kind == TokenKind::Name ||
                         (kw.kind == ZUL_VALUE_TEXT && tok().kind == TokenKind::String));
  if (!ok)
    failHere(fmt::format("Expected {} after {}=, found {}.",
                         kw.kind == ZUL_VALUE_NAME ? "a name" : "a quoted text", written,
                         found()));
  SlotValue& s = slot(kw.slot);
  s.given = true;
  s.kind = kw.kind;
  s.text = tok().text;
  if (kw.kind == ZUL_VALUE_NAME && s.text.size() > 32)
    failHere(fmt::format("The name given to {}= is longer than 32 characters.", written));
  ++i_;
  sem(name + "=" + s.text);
}

// Whether the list of name= goes on after a word: after a comma, and also
// after a blank when the next word is one of its words not followed by
// '=' (ROTATE=VARIMAX PROMAX is ROTATE=VARIMAX,PROMAX, while in
// ROTATE=VARIMAX N=2 the N is an option of its own). Moves past a comma.
bool StepParser::listGoesOn(const zul_keyword& kw) {
  if (peekIs(',')) {
    ++i_;
    return true;
  }
  return !atEnd() && tok().kind == TokenKind::Name && !peekIs(1, '=') &&
         findWord(kw.words, kw.nWords, tok()) != nullptr;
}

// A list of coded words (ROTATE=), each with its parameters in
// parentheses; a list given again adds a segment (ZUL_CHECK_SINGLE: it
// replaces the list).
void StepParser::codesValue(const zul_keyword& kw, const std::string& name,
                            const std::string& written) {
  Position vpos = here();
  SlotValue& s = slot(kw.slot);
  bool single = kw.check & ZUL_CHECK_SINGLE;
  if (single || !s.given) {
    s = SlotValue{};
    s.boundaries.push_back(0);
  } else {
    s.boundaries.push_back(static_cast<int32_t>(s.codes.size()));
  }
  s.given = true;
  s.kind = ZUL_VALUE_CODES;
  std::string semText = name + "=";
  for (;;) {
    const zul_word* w = atEnd() ? nullptr : findWord(kw.words, kw.nWords, tok());
    if (!w)
      failHere(fmt::format("Expected one of {} after {}, found {}.",
                           wordList(kw.words, kw.nWords),
                           s.codes.empty() || semText.back() == '=' ? written + "=" : "','",
                           found()));
    ++i_;
    setFlag(w->flagBit);
    s.codes.push_back(static_cast<int32_t>(w->code));
    semText += mainSpelling(w->spellings);
    if (peekIs('(')) semText += "(" + codeParameters(*w, s, vpos) + ")";
    if (single && (peekIs(',') || listGoesOn(kw)))
      failHere(written + "= takes one value, found " + found() + ".");
    if (!single && listGoesOn(kw)) {
      semText += ",";
      vpos = here();
      continue;
    }
    break;
  }
  s.number = s.codes.front();
  sem(semText);
}

// The numbers in parentheses after the coded word w, the last in s.codes
// (the opening parenthesis is next); returns them as written for the
// semantics log.
std::string StepParser::codeParameters(const zul_word& w, SlotValue& s, Position vpos) {
  const int position = static_cast<int>(s.codes.size());
  if (w.maxParams <= 0) failHere(mainSpelling(w.spellings) + " takes no parameters in parentheses.");
  ++i_;
  int count = 0;
  std::string ps;
  while (!peekIs(')')) {
    if (atEnd()) failHere("Expected ')' after the parameters of " + mainSpelling(w.spellings) + ".");
    double v = signedNumber("a number");
    if (++count > w.maxParams)
      fail(vpos, fmt::format("{} takes at most {} parameter{} in parentheses.",
                             mainSpelling(w.spellings), w.maxParams, w.maxParams == 1 ? "" : "s"));
    s.numbers.push_back(v);
    s.positions.push_back(position);
    ps += (ps.empty() ? "" : " ") + num(v);
    if (peekIs(',')) ++i_;
  }
  if (count == 0)
    failHere("Expected a number in the parentheses after " + mainSpelling(w.spellings) + ".");
  ++i_;
  return ps;
}

// One request word, or a list of them in parentheses (PLOTS=).
void StepParser::requestsValue(const zul_keyword& kw, const std::string& name,
                               const std::string& written) {
  bool list = peekIs('(');
  if (list) ++i_;
  std::string semText = name + "=";
  int count = 0;
  for (;;) {
    if (list && peekIs(')')) {
      if (count == 0) failHere("Expected at least one request in the parentheses after " + written + "=.");
      ++i_;
      break;
    }
    if (list && peekIs(',')) {
      ++i_;
      continue;
    }
    if (list && count > 0 && atEnd())
      failHere(fmt::format("Expected ')' to close the list of {}=, found {}.", written, found()));
    const zul_word* w = atEnd() ? nullptr : findWord(kw.words, kw.nWords, tok());
    if (!w)
      failHere(fmt::format("Expected one of {} {}, found {}.", wordList(kw.words, kw.nWords),
                           list ? "in the list of " + written + "=" : "after " + written + "=",
                           found()));
    ++i_;
    ++count;
    applyWord(*w, &kw, false);
    semText += (count > 1 ? " " : "") + mainSpelling(w->spellings);
    if (!list) break;
  }
  sem(semText);
}

// One or more numbers after name=, blank or comma separated.
void StepParser::numbersValue(const zul_keyword& kw, const std::string& name,
                              const std::string& written) {
  SlotValue& s = slot(kw.slot);
  s = SlotValue{};
  s.given = true;
  s.kind = ZUL_VALUE_NUMBERS;
  do {
    Position p = here();
    double v = signedNumber("a number");
    checkRange(kw, v, written, p, false);
    s.numbers.push_back(v);
    if (peekIs(',') && i_ + 1 < tk_->size() &&
        ((*tk_)[i_ + 1].kind == TokenKind::Number || (*tk_)[i_ + 1].is('-')))
      ++i_;
  } while (!atEnd() && (tok().kind == TokenKind::Number ||
                        (tok().is('-') && i_ + 1 < tk_->size() &&
                         (*tk_)[i_ + 1].kind == TokenKind::Number)));
  sem(fmt::format("{}= with {} values", name, s.numbers.size()));
}

// name=[a='text' b='text'] (or in parentheses or braces).
void StepParser::pairsValue(const zul_keyword& kw, const std::string& name,
                            const std::string& written) {
  char close = ']';
  if (peekIs('[')) {
    close = ']';
  } else if (peekIs('(')) {
    close = ')';
  } else if (peekIs('{')) {
    close = '}';
  } else {
    failHere(fmt::format("Expected '[' after {}=, found {}.", written, found()));
  }
  ++i_;
  SlotValue& s = slot(kw.slot);
  s = SlotValue{};
  s.given = true;
  s.kind = ZUL_VALUE_PAIRS;
  while (!peekIs(close)) {
    if (atEnd() || tok().kind != TokenKind::Name)
      failHere(fmt::format("Expected a name or '{}' in the list of {}=, found {}.", close,
                           written, found()));
    std::string n = tok().text;
    ++i_;
    expect('=', "after " + n);
    if (atEnd() || (tok().kind != TokenKind::String && tok().kind != TokenKind::Name))
      failHere("Expected a quoted text after " + n + "=, found " + found() + ".");
    s.pairs.emplace_back(n, tok().text);
    ++i_;
    if (peekIs(',')) ++i_;
  }
  ++i_;
  sem(fmt::format("{}= with {} pairs", name, s.pairs.size()));
}

// The dashes of a range as they were written, for messages.
std::string rangeDashes(const VarItem& it) {
  if (it.kind == VarItem::NumberedRange) return "-";
  return it.rangeType == 1 ? "-NUMERIC-" : it.rangeType == 2 ? "-CHARACTER-" : "--";
}

void StepParser::tableSpec(int ds) {
  TableSpec dsName;
  dsName.pos = here();
  if (!atEnd() && tok().kind == TokenKind::String) {
    // An empty name would be the file ".csv" of the library's directory.
    if (tok().text.empty()) failHere("The table name '' is empty; give a table name or a path.");
    dsName.quoted = true;
    dsName.member = tok().text;
    ++i_;
  } else if (!atEnd() && tok().kind == TokenKind::Name) {
    dsName.member = tok().text;
    ++i_;
    if (peekIs('.')) {
      ++i_;
      if (atEnd() || tok().kind != TokenKind::Name)
        failHere("Expected a table name after '" + dsName.member + ".', found " + found() + ".");
      dsName.library = dsName.member;
      dsName.member = tok().text;
      ++i_;
    }
  } else {
    failHere("Expected a table name, found " + found() + ".");
  }
  if (peekIs('(')) {
    ++i_;
    while (!peekIs(')')) {
      if (atEnd()) failHere("Expected ')' to close the data-set options.");
      if (tok().kind != TokenKind::Name || !peekIs(1, '='))
        failHere("Expected a data-set option TYPE= or LABEL=, found " + found() + ".");
      std::string opt = upper(tok().text);
      // The name first: WHERE=(...) is an unknown option, not a bad value.
      if (opt != "TYPE" && opt != "LABEL")
        failHere("Unknown data-set option " + opt + "=; expected TYPE= or LABEL=.");
      i_ += 2;
      if (atEnd() || tok().kind == TokenKind::Punct)
        failHere("Expected a value after " + opt + "=, found " + found() + ".");
      if (opt == "TYPE") {
        dsName.hasType = true;
        dsName.type = upper(tok().text);
      } else {
        dsName.hasLabel = true;
        dsName.label = tok().text;
      }
      ++i_;
    }
    ++i_;
  }
  tables_[ds] = dsName;
  tables_[ds].slot = ds;
  tableGiven_[ds] = true;
}

// A word that ends the step (RUN, QUIT) or starts one of its statements:
// in a variable list it is most likely there because a ';' is missing.
bool StepParser::startsStatement(const Token& t) const {
  if (t.kind != TokenKind::Name || t.nameLiteral) return false;
  if (t.isWord("RUN") || t.isWord("QUIT")) return true;
  for (int k = 1; k < g_.nStatements; ++k)
    if (spelledAs(g_.statements[k].spellings, t)) return true;
  return false;
}

void StepParser::varList(const zul_statement& s, ListValue& lv) {
  bool descendingNext = false;
  while (!atEnd()) {
    const Token& t = tok();
    if (t.kind != TokenKind::Name) failHere("Expected a variable name, found " + found() + ".");
    if (s.kind == ZUL_STMT_BY) {
      if (t.isWord("DESCENDING")) {
        descendingNext = true;
        ++i_;
        continue;
      }
      const zul_keyword* kw = findKeyword(s.keywords, s.nKeywords, t);
      if (kw) {
        Position p = t.pos;
        std::string w = upper(t.text);
        ++i_;
        keyword(*kw, w, p);
        if (w == "NOTSORTED") byNotSorted_ = true;
        continue;
      }
    }
    VarItem it;
    it.pos = t.pos;
    it.a = t.text;
    it.descending = descendingNext;
    it.statementWord = startsStatement(t);
    descendingNext = false;
    std::string u = upper(t.text);
    ++i_;
    if (!t.nameLiteral &&
        (u == "_ALL_" || u == "_NUMERIC_" || u == "_CHARACTER_" || u == "_CHAR_")) {
      it.kind = VarItem::Special;
      it.a = u;
    } else if (peekIs(':')) {
      ++i_;
      it.kind = VarItem::Prefix;
    } else if (peekIs('-')) {
      ++i_;
      if (peekIs('-')) {
        ++i_;
        it.kind = VarItem::OrderRange;
      } else if (!atEnd() && (tok().isWord("NUMERIC") || tok().isWord("CHARACTER") ||
                              tok().isWord("CHAR")) &&
                 peekIs(1, '-')) {
        it.kind = VarItem::OrderRange;
        it.rangeType = tok().isWord("NUMERIC") ? 1 : 2;
        i_ += 2;
      } else {
        it.kind = VarItem::NumberedRange;
      }
      if (atEnd() || tok().kind != TokenKind::Name)
        failHere("Expected the variable that ends the range " + it.a + rangeDashes(it) +
                 ", found " + found() + ".");
      it.b = tok().text;
      ++i_;
    }
    lv.items.push_back(std::move(it));
  }
  if (descendingNext) failHere("Expected a variable name after DESCENDING.");
}

// ---------------------------------------------------------------------
// Binding phase
// ---------------------------------------------------------------------

// Splits "x12" into "x" and 12; false without a numeric suffix.
bool splitNumbered(const std::string& s, std::string& prefix, long long& n, size_t& digits) {
  size_t k = s.size();
  while (k > 0 && std::isdigit(static_cast<unsigned char>(s[k - 1]))) --k;
  if (k == s.size() || k == 0) return false;
  digits = s.size() - k;
  if (digits > 15) return false;
  prefix = s.substr(0, k);
  n = std::stoll(s.substr(k));
  return true;
}

// Resolves the items of one variable list against the columns of the
// input table: column numbers (from 1), DESCENDING marks and where each
// was named. Every fault is reported; ok() tells whether there was one.
class ListResolver {
 public:
  ListResolver(Diagnostics& diag, const std::string& file, const ListValue& lv,
               const std::vector<ColumnInfo>& cols, const std::string& tableName,
               ResolvedList& out)
      : diag_(diag), file_(file), lv_(lv), cols_(cols), tableName_(tableName),
        stmt_(mainSpelling(lv.statement)), out_(out) {}

  bool run() {
    for (const VarItem& it : lv_.items) {
      switch (it.kind) {
        case VarItem::Single: single(it); break;
        case VarItem::NumberedRange: numbered(it); break;
        case VarItem::OrderRange: inOrder(it); break;
        case VarItem::Prefix: prefix(it); break;
        case VarItem::Special: special(it); break;
      }
    }
    return ok_;
  }

 private:
  void error(Position p, const std::string& text) {
    diag_.error(file_, p, text);
    ok_ = false;
  }
  int find(const std::string& name) const {
    for (size_t c = 0; c < cols_.size(); ++c)
      if (sameName(cols_[c].name, name)) return static_cast<int>(c);
    return -1;
  }
  // suggest: name a close column (not for the gap of a numbered range,
  // where the nearest name is most often the range's own first variable).
  void missing(const std::string& name, Position p, bool statementWord = false,
               bool suggest = true) {
    std::string text = "Variable " + upper(name) + " not found in " + tableName_ + ".";
    if (statementWord) {
      text += " Is a ';' missing before " + upper(name) + "?";
    } else if (suggest) {
      std::vector<std::string> names;
      names.reserve(cols_.size());
      for (const ColumnInfo& col : cols_) names.push_back(col.name);
      const std::string near = nearestWord(name, names);
      if (!near.empty()) text += " Did you mean " + near + "?";
    }
    error(p, text);
  }
  void add(int c, bool d, Position p) {
    const ColumnInfo& col = cols_[static_cast<size_t>(c)];
    if (lv_.varType == ZUL_VARS_NUMERIC && col.isCharacter && !col.notNumbers.empty())
      return error(p, "Variable " + upper(col.name) + " in the " + stmt_ +
                          " statement must be numeric, but it holds " + col.notNumbers +
                          ". Correct such values, or leave them empty to have them taken as "
                          "missing.");
    if (lv_.varType == ZUL_VARS_NUMERIC && col.isCharacter)
      return error(p, "Variable " + upper(col.name) + " in the " + stmt_ +
                          " statement is character; only numeric variables are allowed there.");
    out_.numbers.push_back(c + 1);
    out_.desc.push_back(d ? 1 : 0);
    out_.where.push_back(p);
  }

  void single(const VarItem& it) {
    int c = find(it.a);
    if (c < 0) return missing(it.a, it.pos, it.statementWord);
    add(c, it.descending, it.pos);
  }

  // x1-x5: the same prefix with numbers from the first to the last.
  void numbered(const VarItem& it) {
    std::string p1, p2;
    long long n1 = 0, n2 = 0;
    size_t d1 = 0, d2 = 0;
    if (!splitNumbered(it.a, p1, n1, d1) || !splitNumbered(it.b, p2, n2, d2) ||
        !sameName(p1, p2) || n1 > n2)
      return error(it.pos, "The range " + upper(it.a) + "-" + upper(it.b) +
                               " is not valid: both names need the same prefix and a numeric "
                               "suffix, the first not above the second (x1-x5); use two dashes "
                               "(a--d) for a range in table order.");
    // The range is walked through the columns that are in it, not number by
    // number: q1-q99999999 written for q1-q99 is one message, not millions.
    const bool padded = d1 > 1 && it.a[it.a.size() - d1] == '0';
    auto nameOf = [&](long long n) {
      std::string digits = std::to_string(n);
      if (padded && digits.size() < d1) digits = std::string(d1 - digits.size(), '0') + digits;
      return p1 + digits;
    };
    std::vector<std::pair<long long, int>> present;  // number, column
    for (size_t c = 0; c < cols_.size(); ++c) {
      std::string p;
      long long n = 0;
      size_t d = 0;
      if (splitNumbered(cols_[c].name, p, n, d) && sameName(p, p1) && n >= n1 && n <= n2 &&
          sameName(nameOf(n), cols_[c].name))
        present.emplace_back(n, static_cast<int>(c));
    }
    std::sort(present.begin(), present.end());
    std::vector<std::string> gaps;  // "Q7" or "Q7 to Q20"
    long long next = n1;
    auto gapBefore = [&](long long n) {
      if (n > next) gaps.push_back(n - 1 == next ? upper(nameOf(next))
                                                 : upper(nameOf(next)) + " to " + upper(nameOf(n - 1)));
    };
    for (const auto& [n, c] : present) {
      if (n < next) continue;  // a second column of one name: the first counts
      gapBefore(n);
      add(c, it.descending && n == n1, it.pos);
      next = n + 1;
    }
    gapBefore(n2 + 1);
    if (gaps.empty()) return;
    if (gaps.size() == 1 && gaps[0].find(' ') == std::string::npos)
      return missing(gaps[0], it.pos, false, false);
    std::string list;
    for (size_t g = 0; g < gaps.size() && g < 5; ++g) list += (g ? ", " : "") + gaps[g];
    if (gaps.size() > 5) list += ", ...";
    error(it.pos, "Variables " + list + " of the range " + upper(it.a) + "-" + upper(it.b) +
                      " not found in " + tableName_ + ". Correct the range to the variables the "
                      "table has.");
  }

  // a--d (a-numeric-d, a-character-d): the columns from a to d in table order.
  void inOrder(const VarItem& it) {
    int c1 = find(it.a), c2 = find(it.b);
    if (c1 < 0) missing(it.a, it.pos);
    if (c2 < 0) missing(it.b, it.pos);
    if (c1 < 0 || c2 < 0) return;
    if (c1 > c2)
      return error(it.pos, "The range " + upper(it.a) + "--" + upper(it.b) + " is not valid: " +
                               upper(it.b) + " comes before " + upper(it.a) + " in " +
                               tableName_ + ".");
    bool first = true;
    for (int c = c1; c <= c2; ++c) {
      bool ch = cols_[static_cast<size_t>(c)].isCharacter;
      if ((it.rangeType == 1 && ch) || (it.rangeType == 2 && !ch)) continue;
      add(c, it.descending && first, it.pos);
      first = false;
    }
  }

  // a: every column whose name begins with a.
  void prefix(const VarItem& it) {
    bool any = false;
    for (size_t c = 0; c < cols_.size(); ++c) {
      const std::string& n = cols_[c].name;
      if (n.size() >= it.a.size() && sameName(n.substr(0, it.a.size()), it.a)) {
        add(static_cast<int>(c), it.descending && !any, it.pos);
        any = true;
      }
    }
    if (!any) error(it.pos, "No variable of " + tableName_ + " begins with " + upper(it.a) + ".");
  }

  // _ALL_, _NUMERIC_, _CHARACTER_.
  void special(const VarItem& it) {
    bool any = false;
    for (size_t c = 0; c < cols_.size(); ++c) {
      bool ch = cols_[c].isCharacter;
      if ((it.a == "_NUMERIC_" && ch) || ((it.a == "_CHARACTER_" || it.a == "_CHAR_") && !ch))
        continue;
      add(static_cast<int>(c), it.descending && !any, it.pos);
      any = true;
    }
    if (!any) error(it.pos, "No variables in " + tableName_ + " match " + it.a + ".");
  }

  Diagnostics& diag_;
  const std::string& file_;
  const ListValue& lv_;
  const std::vector<ColumnInfo>& cols_;
  const std::string& tableName_;
  std::string stmt_;
  ResolvedList& out_;
  bool ok_ = true;
};

bool StepParser::resolve(ListValue& lv, const std::vector<ColumnInfo>& cols,
                         const std::string& tableName, ResolvedList& out) {
  return ListResolver(diag_, step_.file, lv, cols, tableName, out).run();
}

// A variable named twice where that cannot mean anything: twice in the
// VAR, PARTIAL or BY statement, or in VAR or PARTIAL and in any other
// list. Analysed twice it would make the correlation matrix singular, and
// the output tables would get two columns of one name. Returns false after
// reporting each such variable once.
bool StepParser::checkOverlaps(const ResolvedList* lists, const std::vector<ColumnInfo>& cols) {
  auto stmt = [&](int l) { return mainSpelling(lists_[l].statement); };
  bool ok = true;
  std::vector<bool> reported(cols.size() + 1, false);
  auto report = [&](int number, Position p, const std::string& text) {
    if (reported[static_cast<size_t>(number)]) return;
    reported[static_cast<size_t>(number)] = true;
    diag_.error(step_.file, p, text);
    ok = false;
  };
  // Marks of the columns a list names, so that a list of many thousand
  // names is checked in one pass (pair by pair it took minutes).
  auto marks = [&](const ResolvedList& list) {
    std::vector<bool> in(cols.size() + 1, false);
    for (int n : list.numbers) in[static_cast<size_t>(n)] = true;
    return in;
  };
  for (int l : {ZUL_LIST_VAR, ZUL_LIST_PARTIAL, ZUL_LIST_BY}) {
    const ResolvedList& a = lists[l];
    std::vector<bool> seen(cols.size() + 1, false);
    for (size_t i = 0; i < a.numbers.size(); ++i) {
      const size_t n = static_cast<size_t>(a.numbers[i]);
      if (seen[n] && !reported[n])
        report(a.numbers[i], a.where[i],
               "Variable " + upper(cols[n - 1].name) + " is listed twice in the " + stmt(l) +
                   " statement.");
      seen[n] = true;
    }
  }
  for (int l : {ZUL_LIST_VAR, ZUL_LIST_PARTIAL}) {
    for (int m = 0; m < ZUL_LIST_COUNT; ++m) {
      if (m == l || (l == ZUL_LIST_PARTIAL && m == ZUL_LIST_VAR)) continue;
      const ResolvedList& a = lists[l];
      const std::vector<bool> inB = marks(lists[m]);
      for (size_t i = 0; i < a.numbers.size(); ++i)
        if (inB[static_cast<size_t>(a.numbers[i])] && !reported[static_cast<size_t>(a.numbers[i])])
          report(a.numbers[i], a.where[i],
                 "Variable " + upper(cols[static_cast<size_t>(a.numbers[i] - 1)].name) +
                     " is in both the " + stmt(l) + " and the " + stmt(m) +
                     " statements; a variable can have only one of these roles.");
    }
  }
  return ok;
}

// Without a VAR statement the analysis takes the numeric columns that no
// other statement names. A column made character by a few values that are
// not numbers would drop out of it unseen: say so.
void StepParser::warnAboutDroppedColumns(const std::vector<ColumnInfo>& cols) {
  if (lists_[ZUL_LIST_VAR].given) return;
  for (size_t c = 0; c < cols.size(); ++c) {
    if (cols[c].notNumbers.empty()) continue;
    bool named = false;
    for (const auto& l : {ZUL_LIST_BY, ZUL_LIST_PARTIAL, ZUL_LIST_FREQ, ZUL_LIST_WEIGHT})
      for (const VarItem& it : lists_[l].items) named = named || sameName(it.a, cols[c].name);
    if (named) continue;
    diag_.warning("Column " + upper(cols[c].name) + " holds " + cols[c].notNumbers +
                  ", so it is character and is left out of the analysis variables. Correct "
                  "such values, or leave them empty to have them taken as missing.");
  }
}

// A column without a single value takes every observation with it (an
// observation with a missing value is omitted): name it before the data
// pass reports that nothing is left. The columns that matter are those of
// the analysis lists, or without VAR the numeric columns no list names.
void StepParser::warnAboutEmptyColumns(const ResolvedList* lists,
                                       const std::vector<ColumnInfo>& cols,
                                       const std::string& dataName) {
  if (cols.empty()) return;
  bool allEmpty = true;
  for (const ColumnInfo& c : cols) allEmpty = allEmpty && c.noValues;
  if (allEmpty) {
    // Said for a file and a database table alike.
    diag_.warning("Table " + dataName + " holds no values: it has no data rows, or every value "
                  "in it is missing.");
    return;
  }
  std::vector<bool> used(cols.size(), false);
  for (int l : {ZUL_LIST_VAR, ZUL_LIST_PARTIAL, ZUL_LIST_FREQ, ZUL_LIST_WEIGHT})
    for (int32_t n : lists[l].numbers) used[static_cast<size_t>(n - 1)] = true;
  if (!lists_[ZUL_LIST_VAR].given) {
    std::vector<bool> named(cols.size(), false);
    for (int l = 0; l < ZUL_LIST_COUNT; ++l)
      for (int32_t n : lists[l].numbers) named[static_cast<size_t>(n - 1)] = true;
    for (size_t c = 0; c < cols.size(); ++c)
      if (!named[c] && !cols[c].isCharacter) used[c] = true;
  }
  for (size_t c = 0; c < cols.size(); ++c)
    if (used[c] && cols[c].noValues)
      diag_.warning("Variable " + upper(cols[c].name) + " of " + dataName +
                    " has no values: every field of the column is empty or '.', so every "
                    "observation is omitted.");
}

void StepParser::bind(TableOpener& tables, ParsedStep& out, int& status) {
  ParsedStep::Storage& S = out.storage();
  zul_parsed& rec = S.rec;
  std::memset(&rec, 0, sizeof rec);
  S.file = step_.file;
  rec.file = S.file.c_str();
  rec.line = step_.pos.line;
  rec.column = step_.pos.column;
  status = 0;
  if (diag_.errorCount() > errorsAtStart_) {
    status = kParseSyntaxError;
    return;
  }
  std::string dataName = "the input table";
  if (!openInputs(tables, rec, dataName)) {
    status = kParseSyntaxError;
    return;
  }
  std::vector<ColumnInfo> cols;
  if (rec.tables[ZUL_DS_DATA]) cols = tables.columns(rec.tables[ZUL_DS_DATA]);
  if (!bindLists(out, cols, dataName)) {
    status = kParseVariableError;
    return;
  }
  warnAboutDroppedColumns(cols);
  if (!openOutputs(tables, rec)) {
    status = kParseSyntaxError;
    return;
  }
  for (int ds = 0; ds < ZUL_DS_COUNT; ++ds) rec.tableGiven[ds] = tableGiven_[ds] ? 1 : 0;
  std::memcpy(rec.flags, flags_, sizeof flags_);
  for (auto& [index, v] : slots_) {
    if (index < 0 || index >= ZUL_SLOT_COUNT || !v.given) continue;
    copySlot(S, rec.slots[index], v);
  }
  copyOccurrences(S, rec);
  S.written = written_;
  if (debug_ & kDebugSemantics) logSemantics(rec, cols);
}

void StepParser::copyOccurrences(ParsedStep::Storage& S, zul_parsed& rec) {
  S.occurrences.assign(occurrences_.size(), zul_occurrence{});
  for (size_t k = 0; k < occurrences_.size(); ++k) {
    const Occurrence& o = occurrences_[k];
    zul_occurrence& z = S.occurrences[k];
    z.statement = o.statement;
    z.line = o.pos.line;
    z.column = o.pos.column;
    std::memcpy(z.flags, o.flags, sizeof z.flags);
    for (const auto& [index, v] : o.slots) {
      if (index < 0 || index >= ZUL_SLOT_COUNT || !v.given) continue;
      copySlot(S, z.slots[index], v);
    }
  }
  rec.nOccurrences = static_cast<int32_t>(S.occurrences.size());
  rec.occurrences = S.occurrences.empty() ? nullptr : S.occurrences.data();
}

// Opens DATA= (or the table created last) and TARGET=; false after
// reporting a table that cannot be opened.
bool StepParser::openInputs(TableOpener& tables, zul_parsed& rec, std::string& dataName) {
  std::string error;
  if (tableGiven_[ZUL_DS_DATA]) {
    rec.tables[ZUL_DS_DATA] = tables.openInput(tables_[ZUL_DS_DATA], error);
    if (!rec.tables[ZUL_DS_DATA]) {
      diag_.error(step_.file, tables_[ZUL_DS_DATA].pos, error);
      return false;
    }
    dataName = tables_[ZUL_DS_DATA].text();
  } else {
    rec.tables[ZUL_DS_DATA] = tables.openLastCreated(error);
    if (!rec.tables[ZUL_DS_DATA] && !error.empty()) {
      diag_.error(step_.file, step_.pos, error);
      return false;
    }
  }
  if (tableGiven_[ZUL_DS_TARGET]) {
    rec.tables[ZUL_DS_TARGET] = tables.openInput(tables_[ZUL_DS_TARGET], error);
    if (!rec.tables[ZUL_DS_TARGET]) {
      diag_.error(step_.file, tables_[ZUL_DS_TARGET].pos, error);
      return false;
    }
  }
  return true;
}

// Resolves every variable list against the columns of DATA= into the
// record; false after reporting a variable that is missing, of the wrong
// type, or named where it cannot be.
bool StepParser::bindLists(ParsedStep& out, const std::vector<ColumnInfo>& cols,
                           const std::string& dataName) {
  ParsedStep::Storage& S = out.storage();
  zul_parsed& rec = S.rec;
  ResolvedList resolved[ZUL_LIST_COUNT];
  bool ok = true;
  for (int l = 0; l < ZUL_LIST_COUNT; ++l) {
    ListValue& lv = lists_[l];
    zul_varlist& vl = rec.lists[l];
    vl.given = lv.given ? 1 : 0;
    vl.line = lv.pos.line;
    vl.column = lv.pos.column;
    if (!lv.given || !rec.tables[ZUL_DS_DATA]) continue;
    if (!resolve(lv, cols, dataName, resolved[l])) ok = false;
  }
  if (!ok || !checkOverlaps(resolved, cols)) return false;
  if (rec.tables[ZUL_DS_DATA]) warnAboutEmptyColumns(resolved, cols, dataName);
  for (int l = 0; l < ZUL_LIST_COUNT; ++l) {
    if (!lists_[l].given || !rec.tables[ZUL_DS_DATA]) continue;
    auto& numbers = S.ints.emplace_back(std::move(resolved[l].numbers));
    auto& desc = S.bytes.emplace_back(std::move(resolved[l].desc));
    zul_varlist& vl = rec.lists[l];
    vl.count = static_cast<int32_t>(numbers.size());
    vl.numbers = numbers.data();
    vl.descending = desc.data();
    if (l == ZUL_LIST_BY) {
      for (size_t k = 0; k < numbers.size(); ++k)
        out.byNames.push_back({cols[static_cast<size_t>(numbers[k] - 1)].name, desc[k] != 0});
      out.byNotSorted = byNotSorted_;
    }
  }
  return true;
}

// Opens OUT= and OUTSTAT=; false after reporting one that cannot be.
bool StepParser::openOutputs(TableOpener& tables, zul_parsed& rec) {
  std::string error;
  for (int ds : {ZUL_DS_OUT, ZUL_DS_OUTSTAT}) {
    if (!tableGiven_[ds]) continue;
    rec.tables[ds] = tables.openOutput(tables_[ds], error);
    if (!rec.tables[ds]) {
      diag_.error(step_.file, tables_[ds].pos, error);
      return false;
    }
  }
  return true;
}

// One value slot into the record; what it points to lives in S.
void StepParser::copySlot(ParsedStep::Storage& S, zul_slot& s, const SlotValue& v) {
  s.given = 1;
  s.kind = static_cast<uint8_t>(v.kind);
  switch (v.kind) {
    case ZUL_VALUE_NUMBER:
    case ZUL_VALUE_INTEGER:
      s.v.number = v.number;
      break;
    case ZUL_VALUE_NAME:
    case ZUL_VALUE_TEXT:
    case ZUL_VALUE_WORD: {
      if (v.kind == ZUL_VALUE_WORD) s.v.number = v.number;
      else {
        std::memset(s.v.name, ' ', 8);
        std::memcpy(s.v.name, v.text.data(), std::min<size_t>(8, v.text.size()));
      }
      s.count = static_cast<int32_t>(v.text.size());
      s.data = S.text(v.text);
      break;
    }
    case ZUL_VALUE_CODES: {
      auto& codes = S.ints.emplace_back(v.codes);
      auto& params = S.doubles.emplace_back(v.numbers);
      auto& positions = S.ints.emplace_back(v.positions);
      auto& bounds = S.ints.emplace_back(v.boundaries);
      zul_code_list& cl = S.codeLists.emplace_back();
      cl.count = static_cast<int32_t>(codes.size());
      cl.nParams = static_cast<int32_t>(params.size());
      cl.nBoundaries = static_cast<int32_t>(bounds.size());
      cl.codes = codes.data();
      cl.params = params.data();
      cl.paramPositions = positions.data();
      cl.boundaries = bounds.data();
      s.count = cl.count;
      s.v.number = v.number;
      s.data = &cl;
      break;
    }
    case ZUL_VALUE_NUMBERS: {
      auto& d = S.doubles.emplace_back(v.numbers);
      s.count = static_cast<int32_t>(d.size());
      s.data = d.data();
      break;
    }
    case ZUL_VALUE_PAIRS: {
      auto& p = S.pairs.emplace_back();
      for (auto& [n, t] : v.pairs) p.push_back({S.text(n), S.text(t)});
      s.count = static_cast<int32_t>(p.size());
      s.data = p.data();
      break;
    }
    default:
      break;
  }
}

// DEBUG=SEM: what the statements meant, and each list's variables.
void StepParser::logSemantics(const zul_parsed& rec, const std::vector<ColumnInfo>& cols) {
  for (const auto& line : semLog_) diag_.note("SEM: " + line);
  for (int l = 0; l < ZUL_LIST_COUNT; ++l) {
    if (!rec.lists[l].given) continue;
    std::string names;
    for (int k = 0; k < rec.lists[l].count; ++k)
      names += " " + cols[static_cast<size_t>(rec.lists[l].numbers[k] - 1)].name;
    diag_.note(fmt::format("SEM: list {} ({} variables):{}", mainSpelling(lists_[l].statement),
                           rec.lists[l].count, names));
  }
}

}  // namespace

std::unique_ptr<ParsedStep> parseStep(const Step& step, const zul_grammar& grammar,
                                      TableOpener& tables, Diagnostics& diagnostics, int& status,
                                      unsigned debugFlags) {
  auto out = std::make_unique<ParsedStep>();
  StepParser p(step, grammar, diagnostics, debugFlags);
  p.run();
  p.bind(tables, *out, status);
  return out;
}

// ---------------------------------------------------------------------
// Grammar check
// ---------------------------------------------------------------------

namespace {

void checkKeywords(const zul_keyword* kws, int n, const std::string& where,
                   std::vector<std::string>& problems, int depth);

void checkWords(const zul_word* w, int n, const std::string& where,
                std::vector<std::string>& problems, int depth) {
  if (n > 0 && !w) problems.push_back(where + ": word count without words");
  for (int k = 0; k < n && w; ++k) {
    std::string name = where + "/" + mainSpelling(w[k].spellings);
    if (spellingsOf(w[k].spellings).empty()) problems.push_back(where + ": a word without spelling");
    if (w[k].flagBit >= ZUL_FLAG_BYTES * 8) problems.push_back(name + ": flag bit out of range");
    if (w[k].nOptions > 0) checkKeywords(w[k].options, w[k].nOptions, name, problems, depth + 1);
  }
}

void checkKeywords(const zul_keyword* kws, int n, const std::string& where,
                   std::vector<std::string>& problems, int depth) {
  if (depth > 4) {
    problems.push_back(where + ": options nested too deeply");
    return;
  }
  if (n > 0 && !kws) problems.push_back(where + ": keyword count without keywords");
  for (int k = 0; k < n && kws; ++k) {
    const zul_keyword& kw = kws[k];
    std::string name = where + "/" + mainSpelling(kw.spellings);
    if (spellingsOf(kw.spellings).empty()) problems.push_back(where + ": a keyword without spelling");
    if (kw.flagBit >= ZUL_FLAG_BYTES * 8) problems.push_back(name + ": flag bit out of range");
    bool needsSlot = kw.kind != ZUL_VALUE_FLAG && kw.kind != ZUL_VALUE_REQUESTS;
    if (kw.kind == ZUL_VALUE_TABLE) {
      if (kw.slot < 0 || kw.slot >= ZUL_DS_COUNT) problems.push_back(name + ": bad data set");
    } else if (needsSlot && (kw.slot < 0 || kw.slot >= ZUL_SLOT_COUNT)) {
      problems.push_back(name + ": slot out of range");
    }
    bool needsWords = kw.kind == ZUL_VALUE_WORD || kw.kind == ZUL_VALUE_CODES ||
                      kw.kind == ZUL_VALUE_REQUESTS;
    if (needsWords && (kw.nWords <= 0 || !kw.words)) problems.push_back(name + ": no words");
    if (kw.kind == ZUL_VALUE_FLAG && kw.flagBit < 0 && kw.nOptions == 0)
      problems.push_back(name + ": a flag option without a bit");
    checkWords(kw.words, kw.nWords, name, problems, depth);
    if (kw.nOptions > 0) checkKeywords(kw.options, kw.nOptions, name, problems, depth + 1);
  }
}

}  // namespace

std::vector<std::string> checkGrammar(const zul_grammar& g) {
  std::vector<std::string> problems;
  if (g.format != ZUL_GRAMMAR_FORMAT) problems.push_back("unknown grammar format");
  if (g.nStatements < 1 || !g.statements) {
    problems.push_back("no statements");
    return problems;
  }
  for (int k = 0; k < g.nStatements; ++k) {
    const zul_statement& s = g.statements[k];
    std::string name = mainSpelling(s.spellings);
    if (name.empty()) problems.push_back("a statement without spelling");
    if (k == 0 && s.kind != ZUL_STMT_OPTIONS) problems.push_back(name + ": the procedure statement must take options");
    switch (s.kind) {
      case ZUL_STMT_OPTIONS:
      case ZUL_STMT_REPEATED:
        break;
      case ZUL_STMT_VARLIST:
      case ZUL_STMT_BY:
      case ZUL_STMT_ONEVAR:
        if (s.list < 0 || s.list >= ZUL_LIST_COUNT) problems.push_back(name + ": bad list");
        break;
      case ZUL_STMT_PRIORS:
        if (s.list < 0 || s.list >= ZUL_SLOT_COUNT) problems.push_back(name + ": bad slot");
        break;
      default:
        problems.push_back(name + ": unknown statement kind");
    }
    checkKeywords(s.keywords, s.nKeywords, name, problems, 0);
    checkWords(s.words, s.nWords, name, problems, 0);
  }
  return problems;
}

std::string ParsedStep::locationOf(const std::string& name) const {
  const Storage& S = *storage_;
  if (S.file.empty()) return {};
  auto it = S.written.find(upper(name));
  Position p = it != S.written.end() ? it->second : Position{S.rec.line, S.rec.column};
  return fmt::format("{}:{}:{}", S.file, p.line, p.column);
}

}  // namespace zul::parse
