// zul/parse/program.hpp -- reading a program: tokens, statements, steps.
//
// Program syntax. Statements end with ';'. Comments are /* ... */ anywhere
// between tokens and "* ... ;" statements. Keywords and names are
// case-insensitive; strings are quoted with ' or " (a doubled quote stands
// for itself). Host statements:
//     LIBNAME name 'directory';
//     OPTIONS name=value ... ;   (also a bare name, "-switch=level" and
//                                 "SET name=value" for a named setting)
// and, inside a step, FORMAT var ... format ... ; (format_statement.hpp).
// A step runs from its procedure statement (FACTOR ..., or the host's own
// CROSSPRODUCTS ..., see zul/program/crossproducts.hpp) through the
// statements that follow to RUN;, the next step, a host statement or the
// end of the program. Every token keeps its line and column (both from 1).
//
// Errors while reading (an unterminated string or comment, a statement
// without ';' at the end of the program, a malformed host statement, a
// statement outside any step) are attached to the item they belong to as
// ready log lines "ERROR: FILE:LINE:COLUMN: ..."; such an item must not
// run, the items around it are unaffected.
#pragma once

#include <string>
#include <vector>

namespace zul::parse {

struct Position {
  int line = 0;
  int column = 0;
};

enum class TokenKind {
  Name,    // letters, digits and '_', not starting with a digit; or 'text'n
  Number,  // 12, 1.5, .5, 1e-7 (never signed: '-' is its own token)
  String,  // quoted; text holds the content without the quotes
  Punct,   // ( ) , - : = [ ] { } . and any other single character
};

struct Token {
  TokenKind kind = TokenKind::Punct;
  std::string text;    // as written (String: the unquoted content)
  double number = 0;   // Number only
  Position pos;
  bool nameLiteral = false;  // a Name written 'text'n (text may hold any character)
  bool is(char c) const { return kind == TokenKind::Punct && text.size() == 1 && text[0] == c; }
  // Name whose text equals word, ignoring case (word in upper case); never
  // a name literal.
  bool isWord(const char* word) const;
};

// One statement without its ';'.
struct Statement {
  std::vector<Token> tokens;  // never empty
  Position pos;               // of the first token
  Position end;               // of the ';'
  std::string keyword() const;  // first token's text in upper case
};

// One variable of a FORMAT statement (zul/parse/format_statement.hpp).
struct FormatAssignment {
  std::string variable;  // as written
  std::string format;    // canonical text ("8.2", "$12."); empty: none
  Position pos;          // of the variable
};

struct Step {
  std::string procedure;  // "FACTOR"
  std::string file;
  Position pos;
  std::vector<Statement> statements;  // [0] is the procedure statement
  bool endedByRun = false;
  // The host's FORMAT statements of the step, in order; they are not in
  // statements, which the procedure's grammar parses.
  std::vector<FormatAssignment> formats;
};

struct OptionSetting {
  std::string name;        // upper case; a diagnostic switch keeps its '-'
  std::string value;       // as written (strings unquoted)
  bool hasValue = false;
  bool quoted = false;     // the value was a quoted string
  bool namedSetting = false;  // written as SET name=value
  Position pos;
};

struct ProgramItem {
  enum class Kind { Libname, Options, Step, Invalid };
  Kind kind = Kind::Invalid;
  Position pos;
  // LIBNAME
  std::string libref;  // upper case
  std::string path;    // the directory, or the database file or connection string
  std::string engine;  // SQLITE or POSTGRES (upper case); empty for a directory
  // OPTIONS
  std::vector<OptionSetting> options;
  // procedure step
  Step step;
  // Syntax errors found while reading: complete log lines. A non-empty
  // list means the item must be skipped.
  std::vector<std::string> errors;
};

struct Program {
  std::string file;
  std::vector<ProgramItem> items;
};

// The procedures that start a step.
inline const std::vector<std::string>& stepNames() {
  static const std::vector<std::string> names{"FACTOR", "CROSSPRODUCTS"};
  return names;
}

// Reads a program file. A file that cannot be read gives a Program with
// one Invalid item whose error says why.
// steps: the statement names that start a step (default stepNames()).
Program readProgram(const std::string& path);
Program readProgram(const std::string& path, const std::vector<std::string>& steps);
// Reads program text; name is used in messages (e.g. "-e" or the file).
Program readProgramText(const std::string& text, const std::string& name);
Program readProgramText(const std::string& text, const std::string& name,
                        const std::vector<std::string>& steps);

// "ERROR: FILE:LINE:COLUMN: text"
std::string errorLine(const std::string& file, Position pos, const std::string& text);

}  // namespace zul::parse
