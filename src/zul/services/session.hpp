// zul/services/session.hpp -- the state behind the service vector: one
// Session per run of zul, one StepContext per procedure step.
//
// The services are C functions (zul/abi.h) without a context argument, so
// they reach the session through session(). A step runs on the host's
// calling thread; worker threads of the module touch only the thread and
// event services and the read-only option lookups.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "zul/abi.h"
#include "zul/parse/parser.hpp"
#include "zul/parse/program.hpp"
#include "zul/services/options.hpp"
#include "zul/services/pool.hpp"
#include "zul/table/places.hpp"
#include "zul/table/table.hpp"

// The host's table handle: an input or an output of the current step.
struct zul_table {
  enum class Kind { Input, Output };
  Kind kind = Kind::Input;
  // What goes with the handle (a query's temporary table, dropped when
  // the step ends): declared first, so released after the table's reading.
  std::shared_ptr<void> scratch;
  std::unique_ptr<zul::table::InputTable> input;
  std::unique_ptr<zul::table::OutputTable> output;
  std::string written;  // the name as the statement wrote it, for messages

  // Output column declarations are collected and laid out when they end:
  // columns copied from an input (212/69) leave out the names declared
  // explicitly, so a factor named like an input variable wins.
  struct Pending {
    enum class Kind { Declare, CopyBy, CopyAll } kind;
    zul::table::Column column;
    const zul_table* from = nullptr;
  };
  std::vector<Pending> pending;
  bool columnsLaidOut = false;
  bool noResult = false;  // its rows hold no result (212/50, ZUL_ATTR_SET_NO_RESULT)
  int remarks = 0;  // read remarks logged so far
  // Those remarks: a group read again (the scoring pass of OUT=, a BY group
  // rewound) meets the same records, whose remarks are not logged twice.
  std::vector<std::string> remarksLogged;
  bool byListed = false;  // 212/5 said how it is used (once per step)
  // A query's rows read in place of this table's (400/21): its groups are
  // the groups of that table, for the BY lines of messages and reports and
  // for the BY values that table's copies take.
  zul_table* groupsOf = nullptr;
  // The last failure of a query on this table's database, logged once: the
  // same refusal (no right to create temporary tables) would otherwise be
  // repeated for every query of the step.
  std::string queryFailure;
  bool lossReported = false;  // the server's going, logged as an error
};

struct zul_readlist {
  std::unique_ptr<zul::table::ReadList> list;
  zul_table* table = nullptr;
  int64_t rowsRead = 0;  // for the progress line
};

namespace zul::services {

struct StepContext {
  int index = 0;              // steps of the run, from 0
  std::string program;        // file (or "-e")
  int line = 0;
  const parse::Step* step = nullptr;

  MemoryPool pool;
  std::array<void*, ZUL_STEP_SLOTS> slots{};
  void (*termination)(void) = nullptr;
  bool terminationRan = false;  // the exit service ran it
  // What the exit service 39/4 was told: the runner reads it when the
  // procedure entry returns (the service itself returns, no exception
  // crosses the C interface). A second call keeps the higher code.
  bool ended = false;
  int32_t completionCode = 0;
  int32_t second = 0;
  std::unique_ptr<parse::ParsedStep> parsed;
  std::vector<std::unique_ptr<zul_table>> tables;  // in the order opened
  std::vector<std::unique_ptr<zul_readlist>> readLists;
  // 329/16..18: each text once, at a fixed address until the step ends
  // (the same titles come back for each of thousands of BY groups).
  std::unordered_set<std::string> hostStrings;
  int nameCheckWarnings = 0;
  int hostErrors = 0;  // services that failed with an ERROR line
  // The tables this step reads and writes, checked against each other and
  // against the run's places before any output is created.
  std::vector<table::Place> inputPlaces, outputPlaces;
};

class Session {
 public:
  Session();

  HostOptions options;
  std::unique_ptr<table::Libraries> libraries;
  std::filesystem::path moduleDirectory;  // where libzulfact.so and libqkxfac.so are
  StepContext* step = nullptr;             // the step running, if any
  // Called when the step's DATA= table enters a BY group (212/4).
  std::function<void(zul_table* data)> onByGroup;

  // The places of the run itself: its programs (inputs) and its report
  // files (outputs). A report that an input of a step turns out to be is
  // listed in withheld (by description) and must not be put in place.
  std::vector<table::Place> runInputs, runOutputs;
  std::vector<std::string> withheld;
  // Called with a report's description as it is withheld.
  std::function<void(const std::string& description)> onWithheld;

  // Strings that live until the step ends (or the run, without a step).
  const char* keep(std::string text);

  // Table handles of the current step.
  zul_table* adopt(std::unique_ptr<zul_table> table);
  bool owns(const zul_table* table) const;

 private:
  std::unordered_set<std::string> runStrings_;
};

Session& session();

// The parser's view of the host's tables: opens through the Libraries of
// the session and hands the handles to the current step.
class HostTableOpener : public parse::TableOpener {
 public:
  zul_table* openInput(const parse::TableSpec& dsName, std::string& error) override;
  zul_table* openLastCreated(std::string& error) override;
  std::vector<parse::ColumnInfo> columns(zul_table* table) override;
  zul_table* openOutput(const parse::TableSpec& dsName, std::string& error) override;
};

// Gives the columns of the step's DATA= table the formats of its FORMAT
// statements, over what the table keeps, for this step only. False, with
// an error line naming the variable logged, when DATA= lacks a variable
// or a format does not suit the variable's type.
bool applyStepFormats(const parse::Step& step, table::InputTable& data);

// Lays out the pending column declarations of an output; 0 or a status,
// with the reason logged.
int32_t layOutColumns(zul_table* out);

// Ends the tables of a step: outputs are committed when commit is true
// (and their names recorded as created), removed otherwise; inputs are
// closed. Problems are logged. Returns false when a commit failed.
bool finishTables(StepContext& step, bool commit);

}  // namespace zul::services
