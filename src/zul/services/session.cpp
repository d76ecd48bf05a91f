#include "zul/services/session.hpp"

#include <algorithm>
#include <set>

#include "zul/messages/messages.hpp"

namespace zul::services {

namespace {

table::TableName tableNameOf(const parse::TableSpec& dsName) {
  table::TableName name;
  name.library = dsName.library;
  name.member = dsName.member;
  name.quoted = dsName.quoted;
  return name;
}

table::DataSetOptions optionsOf(const parse::TableSpec& dsName) {
  table::DataSetOptions o;
  if (dsName.hasType) o.type = dsName.type;
  if (dsName.hasLabel) o.label = dsName.label;
  return o;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// ", file x.csv" after a table name that does not show its file.
std::string fileNote(const table::InputTable& t) {
  std::string file = t.ref().file.filename().string();
  return t.displayName().find(file) == std::string::npos ? ", file " + file : "";
}

}  // namespace

Session::Session() : libraries(std::make_unique<table::Libraries>(".")) {}

Session& session() {
  static Session s;
  return s;
}

const char* Session::keep(std::string text) {
  // A set's elements stay where they are when it grows.
  auto& store = step ? step->hostStrings : runStrings_;
  return store.insert(std::move(text)).first->c_str();
}

zul_table* Session::adopt(std::unique_ptr<zul_table> table) {
  if (!step || !table) return nullptr;
  step->tables.push_back(std::move(table));
  return step->tables.back().get();
}

bool Session::owns(const zul_table* table) const {
  if (!step || !table) return false;
  for (const auto& t : step->tables)
    if (t.get() == table) return true;
  return false;
}

// ---- the parser's table opener ----

namespace {

const char* optionName(int slot) {
  switch (slot) {
    case ZUL_DS_DATA: return "DATA=";
    case ZUL_DS_OUT: return "OUT=";
    case ZUL_DS_OUTSTAT: return "OUTSTAT=";
    case ZUL_DS_TARGET: return "TARGET=";
    default: return "output";
  }
}

// An input of the step must not be any output of the run or of the step:
// the output would be written over it. A report it clashes with is
// withheld, so that it is not written at the end of the run either.
void claimInput(Session& s, const table::TableRef& ref) {
  for (table::Place& place : table::tablePlaces("table " + ref.displayName() +
                                                    " that this step reads", ref)) {
    std::string clash = table::inputClash(place, s.step->outputPlaces);
    for (const table::Place& out : s.runOutputs) {
      if (!clash.empty()) break;
      clash = table::inputClash(place, {out});
      if (clash.empty()) continue;
      if (s.onWithheld) s.onWithheld(out.description);
      s.withheld.push_back(out.description);
    }
    if (!clash.empty()) throw table::TableError(clash);
    s.step->inputPlaces.push_back(std::move(place));
  }
}

// An output of the step must be no input (of the step or of the run) and
// no other output (of the step or of the run).
void claimOutput(Session& s, const table::TableRef& ref, int slot) {
  std::vector<table::Place> inputs = s.runInputs, outputs = s.runOutputs;
  inputs.insert(inputs.end(), s.step->inputPlaces.begin(), s.step->inputPlaces.end());
  outputs.insert(outputs.end(), s.step->outputPlaces.begin(), s.step->outputPlaces.end());
  std::vector<table::Place> mine =
      table::tablePlaces(std::string(optionName(slot)) + " table " + ref.displayName(), ref);
  for (const table::Place& place : mine) {
    std::string clash = table::outputClash(place, inputs, outputs);
    if (!clash.empty()) throw table::TableError(clash);
  }
  for (table::Place& place : mine) s.step->outputPlaces.push_back(std::move(place));
}

// Makes a table of kind, lets fill open it, and hands it to the current
// step; an open that throws comes back as nullptr with its reason in error.
template <class Fill>
zul_table* openTable(zul_table::Kind kind, std::string& error, Fill fill) {
  Session& s = session();
  try {
    auto t = std::make_unique<zul_table>();
    t->kind = kind;
    fill(s, *t);
    return s.adopt(std::move(t));
  } catch (const std::exception& e) {
    error = e.what();
    return nullptr;
  }
}

}  // namespace

zul_table* HostTableOpener::openInput(const parse::TableSpec& dsName, std::string& error) {
  return openTable(zul_table::Kind::Input, error, [&](Session& s, zul_table& t) {
    t.written = dsName.text();
    table::TableRef ref = s.libraries->resolve(tableNameOf(dsName));
    if (s.step) claimInput(s, ref);
    t.input = std::make_unique<table::InputTable>(std::move(ref), optionsOf(dsName));
    // Each is one sentence that may quote a value of the data.
    for (const std::string& note : t.input->notes())
      messages::writeLog(ZUL_LOG_NOTE, messages::printableLine(note));
    for (const std::string& w : t.input->warnings())
      messages::writeLog(ZUL_LOG_WARNING, messages::printableLine(w));
  });
}

zul_table* HostTableOpener::openLastCreated(std::string& error) {
  auto last = session().libraries->lastCreated();
  if (!last) return nullptr;
  return openTable(zul_table::Kind::Input, error, [&](Session& s, zul_table& t) {
    t.written = last->displayName();
    if (s.step) claimInput(s, *last);
    t.input = std::make_unique<table::InputTable>(*last);
  });
}

std::vector<parse::ColumnInfo> HostTableOpener::columns(zul_table* table) {
  std::vector<parse::ColumnInfo> out;
  if (!table) return out;
  const std::vector<table::Column>* cols = nullptr;
  if (table->input) cols = &table->input->columns();
  else if (table->output) cols = &table->output->columns();
  if (!cols) return out;
  for (const auto& c : *cols) out.push_back({c.name, c.isCharacter(), {}, false});
  if (!table->input) return out;
  for (size_t c = 0; c < out.size(); ++c) {
    out[c].noValues = !table->input->hasValues(static_cast<int>(c));
    const table::NonNumeric* o = table->input->nonNumeric(static_cast<int>(c));
    if (!o) continue;
    out[c].notNumbers = std::to_string(o->count) +
                        (o->count == 1 ? " value that is not a number" : " values that are not numbers") +
                        " (the first, \"" + messages::printableLine(o->firstText) +
                        "\", on line " + std::to_string(o->firstLine) +
                        " of " + table->input->displayName() + fileNote(*table->input) + ")";
  }
  return out;
}

zul_table* HostTableOpener::openOutput(const parse::TableSpec& dsName, std::string& error) {
  return openTable(zul_table::Kind::Output, error, [&](Session& s, zul_table& t) {
    t.written = dsName.text();
    table::TableRef ref = s.libraries->resolve(tableNameOf(dsName));
    // An output is put in place by renaming, which would replace an input
    // or another output: refuse it before anything is created.
    if (s.step) claimOutput(s, ref, dsName.slot);
    t.output = std::make_unique<table::OutputTable>(std::move(ref), optionsOf(dsName));
  });
}

bool applyStepFormats(const parse::Step& step, table::InputTable& data) {
  auto refuse = [&](const parse::FormatAssignment& a, const std::string& why) {
    messages::writeLogLine(ZUL_LOG_PLAIN, parse::errorLine(step.file, a.pos, why));
    return false;
  };
  for (const parse::FormatAssignment& a : step.formats) {
    const int number = data.varNumber(a.variable);
    if (number == 0)
      return refuse(a, "FORMAT names the variable " + a.variable + ", which table " +
                           data.displayName() + " does not have.");
    const bool character = data.columns()[static_cast<size_t>(number - 1)].isCharacter();
    if (!a.format.empty() && (a.format[0] == '$') != character)
      return refuse(a, "FORMAT gives the " + std::string(character ? "character" : "numeric") +
                           " variable " + a.variable + " the format " + a.format +
                           ", which is for " +
                           (character ? "numbers; give it a $w. format."
                                      : "character values; give it a w.d format."));
    data.setFormat(number - 1, a.format);
  }
  return true;
}

// ---- output columns ----

int32_t layOutColumns(zul_table* out) {
  if (!out || !out->output) return 1;
  if (out->columnsLaidOut) return 0;
  out->columnsLaidOut = true;
  try {
    std::set<std::string> declared;
    for (const auto& p : out->pending) {
      if (p.kind == zul_table::Pending::Kind::Declare) declared.insert(upper(p.column.name));
      // BY variables copied on their own are not copied a second time by a
      // copy of every column.
      if (p.kind == zul_table::Pending::Kind::CopyBy && p.from && p.from->input)
        for (const auto& b : p.from->input->by().variables) declared.insert(upper(b.name));
    }
    std::vector<std::string> except(declared.begin(), declared.end());
    for (const auto& p : out->pending) {
      switch (p.kind) {
        case zul_table::Pending::Kind::Declare:
          out->output->declareColumn(p.column);
          break;
        case zul_table::Pending::Kind::CopyBy:
          if (p.from && p.from->input) out->output->copyByColumns(*p.from->input);
          break;
        case zul_table::Pending::Kind::CopyAll:
          if (p.from && p.from->input) out->output->copyAllColumns(*p.from->input, except);
          break;
      }
    }
    out->pending.clear();
    out->output->columnsDone();
    return 0;
  } catch (const std::exception& e) {
    messages::writeLogLine(ZUL_LOG_ERROR, e.what());
    if (session().step) ++session().step->hostErrors;
    return 2;
  }
}

bool finishTables(StepContext& step, bool commit) {
  bool ok = true;
  step.readLists.clear();
  Session& s = session();
  // A database input ends its reading first: the outputs of its database
  // are committed in a transaction that its query must not keep open.
  for (auto& t : step.tables)
    if (t->input) t->input->release();
  // Every output is made ready (a database table renamed into place inside
  // its transaction) before any is committed: one that fails then, say on
  // a lock held by another session, leaves the step's others unwritten.
  std::vector<zul_table*> ready;
  for (auto& t : step.tables) {
    if (!t->output) continue;
    try {
      // An output the module never declared a column for was dropped by
      // it (OUT= refused for the input): nothing is written. Nor is any
      // after one that failed (its database's transaction is aborted).
      if (!commit || !ok || (!t->columnsLaidOut && t->pending.empty())) {
        t->output->abort();
        continue;
      }
      if (!t->columnsLaidOut && layOutColumns(t.get()) != 0) {
        t->output->abort();
        ok = false;
        continue;
      }
      // No row means that no BY group produced a result: an empty table
      // would stand in for the earlier one and be read by the next step.
      // Rows that only copy the input, with every result missing, would
      // stand in for it just the same.
      if (t->output->rowCount() == 0 || t->noResult) {
        t->output->abort();
        messages::writeLog(ZUL_LOG_WARNING, "The table " + t->output->displayName() +
                                                " is not written: the step produced no " +
                                                (t->noResult ? "results" : "rows") +
                                                " for it. A table of that name from before is "
                                                "left as it was.");
        continue;
      }
      t->output->prepareCommit();
      ready.push_back(t.get());
    } catch (const std::exception& e) {
      messages::writeLogLine(ZUL_LOG_ERROR, e.what());
      ok = false;
    }
  }
  for (zul_table* t : ready) {
    try {
      if (!ok) {
        t->output->abort();
        continue;
      }
      t->output->commit();
      s.libraries->noteCreated(t->output->ref());
      const std::string size = messages::counted(t->output->rowCount(), "row") + " and " +
                               messages::counted(t->output->columns().size(), "column");
      messages::writeLogLine(ZUL_LOG_NOTE,
                             "The table " + t->output->displayName() + " has " + size + ".");
    } catch (const std::exception& e) {
      messages::writeLogLine(ZUL_LOG_ERROR, e.what());
      ok = false;
    }
  }
  step.tables.clear();
  return ok;
}

}  // namespace zul::services
