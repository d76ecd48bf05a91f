// zul/parse/parser.hpp -- the generic statement parser: one step checked
// against the module's grammar (zul/abi_grammar.h) into a parsed-statement
// record.
//
// The host calls parseStep() from the parse service 40/249. The parser
// checks every statement of the step against the grammar, reports each
// syntax or range error as "ERROR: FILE:LINE:COLUMN: ..." (saying what was
// expected; for an unknown option the list of the statement's options),
// then opens the tables through the host's TableOpener, resolves the
// variable lists against the columns of DATA= and fills the record.
//
// Order of work, so that a broken statement opens nothing: all statements
// are checked first; only a step without syntax errors opens DATA= (and
// TARGET=), resolves its variable lists, and then opens OUT= and OUTSTAT=.
//
// Status (the 16-bit parse status the module turns into its completion
// code): 0 when all is well; kParseSyntaxError when a statement, a value
// or a range was wrong or a table could not be opened; kParseVariableError
// when a variable list names a variable that DATA= lacks, or one of the
// wrong type. When DATA= is not written the table created last stands in;
// with none, tables[ZUL_DS_DATA] stays NULL and the module reports it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "zul/abi.h"
#include "zul/parse/program.hpp"

namespace zul::parse {

inline constexpr int kParseSyntaxError = 1000;
inline constexpr int kParseVariableError = 1008;

// A table named in a statement: lib.member, member, or a quoted path, with
// the data-set options written in parentheses after it.
struct TableSpec {
  std::string library;  // as written; empty for WORK or a path
  std::string member;   // member name, or the path when quoted
  bool quoted = false;
  bool hasType = false, hasLabel = false;
  std::string type;     // TYPE=
  std::string label;    // LABEL=
  Position pos;
  int slot = -1;  // ZUL_DS_DATA, ZUL_DS_OUT, ...: the option that named it
  std::string text() const;  // "lib.member" or "'path'", for messages
};

struct ColumnInfo {
  std::string name;
  bool isCharacter = false;
  // Of a character column that also holds numbers: what makes it text,
  // "1 value that is not a number, \"x\" on line 3 of WORK.T"; else "".
  std::string notNumbers;
  // Every field of the column is empty or "." (or the table has no rows).
  bool noValues = false;
};

// Opens the tables of a step; the host implements it on its table layer
// and owns what it opens (closing them when the step ends). On failure a
// method returns nullptr and puts a complete sentence into error.
class TableOpener {
 public:
  virtual ~TableOpener() = default;
  virtual zul_table* openInput(const TableSpec& dsName, std::string& error) = 0;
  // The table created last in the run, for an omitted DATA=; nullptr
  // (error left empty) when no table has been created yet.
  virtual zul_table* openLastCreated(std::string& error) = 0;
  // Columns of an open input, in table order.
  virtual std::vector<ColumnInfo> columns(zul_table* table) = 0;
  virtual zul_table* openOutput(const TableSpec& dsName, std::string& error) = 0;
};

// Where the parser's log lines go.
class Diagnostics {
 public:
  enum class Severity { Note, Warning, Error };
  virtual ~Diagnostics() = default;
  // line is complete: "ERROR: file:3:14: ..." or "NOTE: ...".
  virtual void write(Severity severity, const std::string& line) = 0;
  int errorCount() const { return errors_; }
  void error(const std::string& file, Position pos, const std::string& text);
  void note(const std::string& text);
  void warning(const std::string& text);

 private:
  int errors_ = 0;
};

// Collects the lines (tests, and callers that print later).
class CollectDiagnostics : public Diagnostics {
 public:
  void write(Severity, const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

// Debug flags of the parse service (the module's DEBUG switches).
enum : unsigned {
  kDebugSemantics = 1,  // "SEM": log the filled record
  kDebugSyntax = 2,     // "SYN": log every statement's tokens
};

// The record and everything it points to. Keep it alive for the step.
class ParsedStep {
 public:
  ParsedStep();
  ~ParsedStep();
  ParsedStep(const ParsedStep&) = delete;
  ParsedStep& operator=(const ParsedStep&) = delete;
  const zul_parsed* record() const;
  zul_parsed* mutableRecord();
  // BY variables of DATA= by name, with DESCENDING, and NOTSORTED when
  // the BY statement says so (for the host's BY-group reader).
  struct ByName {
    std::string name;
    bool descending = false;
  };
  std::vector<ByName> byNames;
  bool byNotSorted = false;
  // "file:line:column" of the option ("ROTATE=") or statement ("PRIORS")
  // as last written in the step, of the step itself when it was not
  // written; empty before the step was bound to its file.
  std::string locationOf(const std::string& name) const;
  // Storage behind the record's pointers.
  struct Storage;
  Storage& storage();

 private:
  std::unique_ptr<Storage> storage_;
};

// Parses one step. Always returns a record (possibly partly filled); the
// status says whether the step may run. debugFlags: kDebugSemantics,
// kDebugSyntax.
std::unique_ptr<ParsedStep> parseStep(const Step& step, const zul_grammar& grammar,
                                      TableOpener& tables, Diagnostics& diagnostics,
                                      int& status, unsigned debugFlags = 0);

// Checks a grammar for faults of its own (slot or bit out of range, empty
// spellings, a value form without its data). Returns the problems, empty
// when the grammar is sound. For tests of the module's tables.
std::vector<std::string> checkGrammar(const zul_grammar& grammar);

}  // namespace zul::parse
