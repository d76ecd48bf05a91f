// zul/parse/program.cpp -- the lexer and the program reader.
//
// The lexer works one statement at a time because "* ... ;" comments are
// recognised only where a statement begins: their text is skipped as
// characters (it may hold unbalanced quotes), up to the next ';'.
#include "zul/parse/program.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "zul/parse/format_statement.hpp"
#include "zul/parse/suggest.hpp"

namespace zul::parse {

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

class Lexer {
 public:
  Lexer(const std::string& text, const std::string& file) : s_(text), file_(file) {}

  // Reads the next statement. Returns false at the end of the text (with
  // no pending tokens). Errors go to err with the position of the fault;
  // the faulty statement is then skipped to its ';'.
  bool nextStatement(Statement& st, std::string& err, bool& atEndWithoutSemicolon) {
    st = Statement{};
    err.clear();
    atEndWithoutSemicolon = false;
    for (;;) {
      if (!skipBlanks(err)) return finishWithError(st);
      if (i_ >= s_.size()) return false;
      if (s_[i_] == ';') {  // empty statement
        advance();
        continue;
      }
      if (s_[i_] == '*') {  // comment statement
        Position start = pos();
        while (i_ < s_.size() && s_[i_] != ';') advance();
        if (i_ >= s_.size()) {
          err = errorLine(file_, start, "The comment statement starting here has no ending ';'.");
          return true;
        }
        advance();
        continue;
      }
      break;
    }
    for (;;) {
      if (!skipBlanks(err)) return finishWithError(st);
      if (i_ >= s_.size()) {
        atEndWithoutSemicolon = true;
        st.end = pos();
        if (!st.tokens.empty()) st.pos = st.tokens.front().pos;
        return !st.tokens.empty();
      }
      if (s_[i_] == ';') {
        st.end = pos();
        advance();
        st.pos = st.tokens.front().pos;
        return true;
      }
      Token t;
      if (!lexToken(t, err)) return finishWithError(st);
      st.tokens.push_back(std::move(t));
    }
  }

 private:
  // After an error: drop the rest of the statement.
  bool finishWithError(Statement& st) {
    while (i_ < s_.size() && s_[i_] != ';') advance();
    if (i_ < s_.size()) advance();
    if (!st.tokens.empty()) st.pos = st.tokens.front().pos;
    return true;
  }

  Position pos() const { return Position{line_, col_}; }
  void advance() {
    if (s_[i_] == '\n') {
      ++line_;
      col_ = 1;
    } else {
      ++col_;
    }
    ++i_;
  }

  bool skipBlanks(std::string& err) {
    for (;;) {
      while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) advance();
      if (i_ + 1 < s_.size() && s_[i_] == '/' && s_[i_ + 1] == '*') {
        Position start = pos();
        advance();
        advance();
        while (i_ + 1 < s_.size() && !(s_[i_] == '*' && s_[i_ + 1] == '/')) advance();
        if (i_ + 1 >= s_.size()) {
          i_ = s_.size();
          err = errorLine(file_, start, "The comment starting here has no closing '*/'.");
          return false;
        }
        advance();
        advance();
        continue;
      }
      return true;
    }
  }

  // A quoted text followed at once by n or N ('my var'n) is a name
  // literal: a name that holds characters a plain name cannot, as a column
  // header may.
  void nameLiteral(Token& t) {
    if (i_ >= s_.size() || (s_[i_] != 'n' && s_[i_] != 'N')) return;
    if (i_ + 1 < s_.size() && isNameChar(s_[i_ + 1])) return;
    advance();
    t.kind = TokenKind::Name;
    t.nameLiteral = true;
  }

  // True when the name starting here runs into a byte beyond ASCII (größe):
  // read as a name and a stray byte, it would be reported as '\xC3'.
  bool wideName() const {
    size_t k = i_;
    while (k < s_.size() && isNameChar(s_[k])) ++k;
    return k < s_.size() && static_cast<unsigned char>(s_[k]) >= 0x80;
  }

  // What text pasted from elsewhere holds outside quotes: typographic quotes,
  // a no-break space, or a name with letters beyond ASCII.
  std::string foreignText() const {
    size_t e = i_;
    while (e < s_.size() && (isNameChar(s_[e]) || static_cast<unsigned char>(s_[e]) >= 0x80)) ++e;
    const std::string run = s_.substr(i_, e - i_);
    static const char* const kQuotes[] = {"\xE2\x80\x98", "\xE2\x80\x99", "\xE2\x80\x9C",
                                          "\xE2\x80\x9D"};
    for (const char* q : kQuotes)
      if (run.find(q) != std::string::npos)
        return "The text " + run + " is in typographic quotes; write quotes as ' or \".";
    if (run.find("\xC2\xA0") != std::string::npos)
      return "A no-break space (U+00A0) is here; write an ordinary space.";
    return "The name " + run + " holds characters other than letters, digits and '_'; " +
           "write it as a name literal: '" + run + "'n.";
  }

  bool lexToken(Token& t, std::string& err) {
    t.pos = pos();
    char c = s_[i_];
    if (static_cast<unsigned char>(c) >= 0x80 || (isNameStart(c) && wideName())) {
      err = errorLine(file_, t.pos, foreignText());
      return false;
    }
    if (isNameStart(c)) {
      t.kind = TokenKind::Name;
      size_t b = i_;
      while (i_ < s_.size() && isNameChar(s_[i_])) advance();
      t.text = s_.substr(b, i_ - b);
      return true;
    }
    if (isDigit(c) || (c == '.' && i_ + 1 < s_.size() && isDigit(s_[i_ + 1]))) {
      size_t b = i_;
      while (i_ < s_.size() && isDigit(s_[i_])) advance();
      if (i_ < s_.size() && s_[i_] == '.') {
        advance();
        while (i_ < s_.size() && isDigit(s_[i_])) advance();
      }
      if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
        size_t k = i_ + 1;
        if (k < s_.size() && (s_[k] == '+' || s_[k] == '-')) ++k;
        if (k < s_.size() && isDigit(s_[k])) {
          while (i_ < k) advance();
          while (i_ < s_.size() && isDigit(s_[i_])) advance();
        }
      }
      if (i_ < s_.size() && isNameStart(s_[i_])) {
        err = errorLine(file_, t.pos,
                        "A number runs into a name here; a name must start with a letter or '_'.");
        return false;
      }
      t.kind = TokenKind::Number;
      t.text = s_.substr(b, i_ - b);
      errno = 0;
      t.number = std::strtod(t.text.c_str(), nullptr);
      if (errno == ERANGE) {
        err = errorLine(file_, t.pos,
                        "The number " + t.text +
                            " is beyond the range of numbers (about 1e-308 to 1.8e308 in "
                            "size); write a number in that range, or 0.");
        return false;
      }
      return true;
    }
    if (c == '\'' || c == '"') {
      t.kind = TokenKind::String;
      advance();
      for (;;) {
        if (i_ >= s_.size()) {
          err = errorLine(file_, t.pos, "The quoted string starting here has no closing quote.");
          return false;
        }
        if (s_[i_] == c) {
          if (i_ + 1 < s_.size() && s_[i_ + 1] == c) {
            t.text += c;
            advance();
            advance();
            continue;
          }
          advance();
          nameLiteral(t);
          if (t.nameLiteral && t.text.empty()) {
            err = errorLine(file_, t.pos,
                            "The name literal ''n is empty; write the name between the "
                            "quotes, as in 'my var'n.");
            return false;
          }
          return true;
        }
        t.text += s_[i_];
        advance();
      }
    }
    t.kind = TokenKind::Punct;
    t.text = std::string(1, c);
    advance();
    return true;
  }

  const std::string& s_;
  std::string file_;
  size_t i_ = 0;
  int line_ = 1, col_ = 1;
};

// LIBNAME name 'directory', or LIBNAME name SQLITE 'file.db' / POSTGRES
// 'connection string'.
void readLibname(const Statement& st, const std::string& file, ProgramItem& item) {
  const auto& tk = st.tokens;
  if (tk.size() < 2 || tk[1].kind != TokenKind::Name) {
    Position p = tk.size() < 2 ? st.end : tk[1].pos;
    item.errors.push_back(errorLine(file, p, "Expected a library name after LIBNAME."));
    return;
  }
  // Known even when the rest is wrong: a failed statement must not leave
  // an earlier assignment of the same name in use.
  item.libref = upper(tk[1].text);
  size_t at = 2;
  if (tk.size() > 2 && tk[2].kind == TokenKind::Name) {
    const std::string engine = upper(tk[2].text);
    if (engine != "SQLITE" && engine != "POSTGRES") {
      item.errors.push_back(errorLine(
          file, tk[2].pos,
          tk[2].text + " is no library engine: write LIBNAME " + tk[1].text +
              " SQLITE 'file.db', LIBNAME " + tk[1].text +
              " POSTGRES 'connection string', or the library's directory as a quoted "
              "string."));
      return;
    }
    item.engine = engine;
    at = 3;
  }
  if (tk.size() <= at || tk[at].kind != TokenKind::String) {
    Position p = tk.size() <= at ? st.end : tk[at].pos;
    const std::string what =
        item.engine.empty()
            ? "the library's directory as a quoted string, as in LIBNAME " + tk[1].text + " 'data';"
        : item.engine == "SQLITE"
            ? "the database file as a quoted string, as in LIBNAME " + tk[1].text +
                  " SQLITE 'data.db';"
            : "the connection string as a quoted string, as in LIBNAME " + tk[1].text +
                  " POSTGRES 'dbname=survey';";
    item.errors.push_back(errorLine(file, p, "Expected " + what));
    return;
  }
  if (tk.size() > at + 1) {
    item.errors.push_back(errorLine(file, tk[at + 1].pos,
                                    item.engine.empty() ? "Expected ';' after the directory."
                                                        : "Expected ';' after the database."));
    return;
  }
  // SQLite opens an empty file name as a private database that is gone at
  // the end of the run, and no directory has an empty name. A PostgreSQL
  // connection string may be empty: the connection then comes from PG*.
  if (tk[at].text.empty() && item.engine != "POSTGRES") {
    item.errors.push_back(errorLine(
        file, tk[at].pos,
        item.engine.empty() ? "The directory '' is empty; write the library's directory "
                              "between the quotes, as in LIBNAME " + tk[1].text + " 'data';"
                            : "The database file '' is empty; write the file between the "
                              "quotes, as in LIBNAME " + tk[1].text + " SQLITE 'data.db';"));
    return;
  }
  item.path = tk[at].text;
}

// OPTIONS name[=value] ... ; value is a name, a (signed) number or a string.
void readOptions(const Statement& st, const std::string& file, ProgramItem& item) {
  const auto& tk = st.tokens;
  size_t i = 1;
  bool setNext = false;
  while (i < tk.size()) {
    OptionSetting o;
    o.pos = tk[i].pos;
    if (tk[i].is('-') && i + 1 < tk.size() && tk[i + 1].kind == TokenKind::Name) {
      o.name = "-" + upper(tk[i + 1].text);
      i += 2;
    } else if (tk[i].kind == TokenKind::Name) {
      o.name = upper(tk[i].text);
      ++i;
    } else {
      item.errors.push_back(errorLine(file, tk[i].pos, "Expected the name of a system option."));
      return;
    }
    if (!setNext && o.name == "SET" && (i >= tk.size() || !tk[i].is('='))) {
      setNext = true;
      continue;
    }
    o.namedSetting = setNext;
    setNext = false;
    if (i < tk.size() && tk[i].is('=')) {
      ++i;
      std::string sign;
      if (i < tk.size() && (tk[i].is('-') || tk[i].is('+')) && i + 1 < tk.size() &&
          tk[i + 1].kind == TokenKind::Number) {
        sign = tk[i].text == "-" ? "-" : "";
        ++i;
      }
      if (i >= tk.size() || tk[i].kind == TokenKind::Punct) {
        item.errors.push_back(errorLine(file, i < tk.size() ? tk[i].pos : st.end,
                                        "Expected a value for the option " + o.name + "=."));
        return;
      }
      o.hasValue = true;
      o.quoted = tk[i].kind == TokenKind::String;
      o.value = sign + tk[i].text;
      ++i;
    } else if (o.namedSetting) {
      item.errors.push_back(errorLine(file, i < tk.size() ? tk[i].pos : st.end,
                                      "Expected '=' and a value after SET " + o.name + "."));
      return;
    }
    item.options.push_back(std::move(o));
  }
  if (setNext) item.errors.push_back(errorLine(file, st.end, "Expected a setting name after SET."));
}

// A LIBNAME or OPTIONS statement as its item. err: the lexical fault that
// lost the statement's text, if any; the item then carries only that and,
// for LIBNAME, the library it names.
ProgramItem hostItem(const Statement& st, const std::string& kw, const std::string& file,
                     const std::string& err) {
  ProgramItem it;
  it.pos = st.pos;
  it.kind = kw == "LIBNAME" ? ProgramItem::Kind::Libname : ProgramItem::Kind::Options;
  if (!err.empty()) {
    if (it.kind == ProgramItem::Kind::Libname && st.tokens.size() > 1 &&
        st.tokens[1].kind == TokenKind::Name)
      it.libref = upper(st.tokens[1].text);
    it.errors.push_back(err);
  } else if (it.kind == ProgramItem::Kind::Libname) {
    readLibname(st, file, it);
  } else {
    readOptions(st, file, it);
  }
  return it;
}

// A statement inside a step: the host reads a FORMAT statement itself,
// every other one is the procedure's.
void addStepStatement(Statement st, const std::string& file, ProgramItem& item) {
  if (st.keyword() == "FORMAT") readFormatStatement(st, file, item.step.formats, item.errors);
  else item.step.statements.push_back(std::move(st));
}

}  // namespace

bool Token::isWord(const char* word) const {
  if (kind != TokenKind::Name || nameLiteral) return false;
  size_t n = text.size();
  for (size_t k = 0; k < n; ++k) {
    if (word[k] == 0) return false;
    if (std::toupper(static_cast<unsigned char>(text[k])) != word[k]) return false;
  }
  return word[n] == 0;
}

std::string Statement::keyword() const { return upper(tokens.front().text); }

std::string errorLine(const std::string& file, Position pos, const std::string& text) {
  std::ostringstream o;
  o << "ERROR: " << file << ':' << pos.line << ':' << pos.column << ": " << text;
  return o.str();
}

namespace {

// A statement that starts no step where one must start (a misspelt FACTR).
std::string notAStep(const std::string& kw, const std::vector<std::string>& steps) {
  const std::string near = nearestWord(kw, steps);
  std::string list;
  for (const auto& s : steps) list += s + ", ";
  return "Statement " + kw + " is not valid here; expected a step (" + list +
         "...) or LIBNAME, OPTIONS, RUN" + (near.empty() ? "." : "; did you mean " + near + "?") +
         " The statements after it up to the next RUN, step, LIBNAME or OPTIONS are skipped "
         "with it.";
}

// A UTF-16 program (what some editors save as "Unicode") would be read as
// bytes and fail on its first name with a message naming \xFF\xFE.
bool isUtf16(const std::string& text) {
  return text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0;
}

bool isHostStatement(const std::string& kw) {
  return kw == "LIBNAME" || kw == "OPTIONS" || kw == "OPTION";
}

Program utf16Refusal(const std::string& name) {
  Program prog;
  prog.file = name;
  ProgramItem it;
  it.kind = ProgramItem::Kind::Invalid;
  it.errors.push_back("ERROR: " + name + ": The program is UTF-16 text; save it as UTF-8, which zul reads.");
  prog.items.push_back(std::move(it));
  return prog;
}

}  // namespace

Program readProgramText(const std::string& text, const std::string& name) {
  return readProgramText(text, name, stepNames());
}

Program readProgramText(const std::string& text, const std::string& name,
                        const std::vector<std::string>& steps) {
  Program prog;
  prog.file = name;
  if (isUtf16(text)) return utf16Refusal(name);
  // Editors on some systems start a UTF-8 file with a byte-order mark.
  static const std::string kBom = "\xEF\xBB\xBF";
  const std::string& body = text.compare(0, 3, kBom) == 0 ? text.substr(3) : text;
  Lexer lex(body, name);
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t stepIndex = kNone;  // item of the open step
  bool lostStep = false;  // after a misspelt step (FACTR): its VAR, BY ... go with it
  auto closeStep = [&]() { stepIndex = kNone; lostStep = false; };
  auto invalid = [&](Position p, std::string line) {
    ProgramItem it;
    it.kind = ProgramItem::Kind::Invalid;
    it.pos = p;
    it.errors.push_back(std::move(line));
    prog.items.push_back(std::move(it));
  };
  // An error goes to the open step (which is then skipped), or stands alone.
  auto error = [&](Position p, std::string line) {
    if (stepIndex != kNone) {
      prog.items[stepIndex].errors.push_back(std::move(line));
    } else {
      invalid(p, std::move(line));
    }
  };
  auto isStepName = [&](const std::string& kw) {
    return std::find(steps.begin(), steps.end(), kw) != steps.end();
  };
  // Opens the step that statement st starts; it becomes the open step.
  auto openStep = [&](const Statement& st, const std::string& kw) -> ProgramItem& {
    ProgramItem it;
    it.kind = ProgramItem::Kind::Step;
    it.pos = st.pos;
    it.step.procedure = kw;
    it.step.file = name;
    it.step.pos = st.pos;
    prog.items.push_back(std::move(it));
    stepIndex = prog.items.size() - 1;
    return prog.items.back();
  };

  Statement st;
  std::string err;
  bool noSemicolon = false;
  while (lex.nextStatement(st, err, noSemicolon)) {
    if (!err.empty()) {  // a lexical fault: the statement is lost
      const bool named = !st.tokens.empty() && st.tokens.front().kind == TokenKind::Name;
      const std::string kw = named ? st.keyword() : std::string();
      if (stepIndex == kNone && named && isStepName(kw)) {
        // The statement started a step: skip that step.
        openStep(st, kw).errors.push_back(err);
      } else if (isHostStatement(kw)) {
        // Still a host statement: it ends the open step, which is not to
        // blame, and the runner must know which settings were not made.
        closeStep();
        prog.items.push_back(hostItem(st, kw, name, err));
      } else {
        error(st.pos, err);
      }
      continue;
    }
    if (noSemicolon) {
      error(st.pos, errorLine(name, st.end, "Expected ';' at the end of the program."));
      break;
    }
    const Token& first = st.tokens.front();
    if (first.kind != TokenKind::Name) {
      error(first.pos, errorLine(name, first.pos,
                                 "Expected a statement name, found '" + first.text + "'."));
      continue;
    }
    std::string kw = st.keyword();
    if (isStepName(kw)) {
      closeStep();
      openStep(st, kw).step.statements.push_back(std::move(st));
    } else if (kw == "RUN" || kw == "QUIT") {
      if (st.tokens.size() > 1)
        error(st.tokens[1].pos,
              errorLine(name, st.tokens[1].pos, "Expected ';' after " + kw + "."));
      if (stepIndex != kNone) prog.items[stepIndex].step.endedByRun = true;
      closeStep();
    } else if (isHostStatement(kw)) {
      closeStep();
      prog.items.push_back(hostItem(st, kw, name, err));
    } else if (stepIndex != kNone) {
      addStepStatement(std::move(st), name, prog.items[stepIndex]);
    } else if (!lostStep) {
      lostStep = true;
      invalid(first.pos, errorLine(name, first.pos, notAStep(kw, steps)));
    }
  }
  return prog;
}

Program readProgram(const std::string& path) { return readProgram(path, stepNames()); }

Program readProgram(const std::string& path, const std::vector<std::string>& steps) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    // The system's reason (no such file, no permission) says what to do.
    const int reason = errno;
    Program prog;
    prog.file = path;
    ProgramItem it;
    it.kind = ProgramItem::Kind::Invalid;
    it.errors.push_back("ERROR: " + path + ": The program file cannot be read" +
                        (reason ? std::string(": ") + std::strerror(reason) : std::string()) + ".");
    prog.items.push_back(std::move(it));
    return prog;
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  return readProgramText(buf.str(), path, steps);
}

}  // namespace zul::parse
