// zul/table/db_output.cpp -- output tables in a database (db_writer.hpp).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <vector>

#include "zul/table/db_writer.hpp"

namespace zul::table::detail {

using db::ColumnKind;
using db::Connection;
using db::Value;

namespace {

ColumnKind kindOf(const Column& c) {
  if (c.isCharacter()) return ColumnKind::Text;
  switch (c.temporal) {
    case Temporal::Date: return ColumnKind::Date;
    case Temporal::Time: return ColumnKind::Time;
    case Temporal::Timestamp: return ColumnKind::Timestamp;
    default: return ColumnKind::Number;
  }
}

// A name no user table has: the process and a counter.
std::string workName() {
  static std::atomic<int> serial{0};
  return "zul_new_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
}

// PostgreSQL's varchar(n) counts characters (UTF-8 here), not bytes.
size_t characterCount(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string lowerCase(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

std::string dbColumnName(const Connection& conn, const std::string& name) {
  if (conn.dialect() != db::Dialect::PostgreSQL) return name;
  std::string s = name;
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

DbWriter::DbWriter(const TableRef& ref)
    : conn_(ref.database), table_(ref.dbTable), display_(ref.displayName()), work_(workName()) {
  // The catalogue itself, replaced by the output, would lose every
  // table's TYPE and labels, and the commit would fail on its columns.
  if (lowerCase(table_) == "zul_tables")
    throw TableError("Table " + display_ + " cannot be written: zul_tables is where zul keeps the TYPE, "
                     "labels and formats of the tables of the " + conn_->describe() + ". Name another table.");
  // SQLite keeps these names for itself: the rename would fail at the end.
  if (conn_->dialect() == db::Dialect::SQLite && lowerCase(table_).rfind("sqlite_", 0) == 0)
    throw TableError("Table " + display_ + " cannot be written: SQLite keeps the names that start "
                     "with sqlite_ for itself. Name another table.");
  // A table of the name that the search path reaches is replaced where it
  // is, not by a new one in the first schema of the path (which would drop
  // the table of another schema and leave the new one where the libraries
  // of that schema cannot see it); a new name goes to the first schema.
  schema_ = conn_->schemaOf(table_);
  // Without its catalogue a table would lose its TYPE (an OUTSTAT= table
  // would then be read back as raw data): refused before any work.
  const std::string problem = db::catalogueProblem(*conn_, true, schema_);
  if (!problem.empty())
    throw TableError("Table " + display_ + " cannot be written: the " + conn_->describe() + " " +
                     problem + ", where zul keeps the TYPE, labels and formats of the tables it "
                     "writes. Rename that table or have the right to write it granted, or write "
                     "to another library.");
  // PostgreSQL cuts a longer name to its limit without a word: the table
  // would be written under another name than the one read back.
  if (conn_->dialect() == db::Dialect::PostgreSQL) {
    auto limit = conn_->query("SELECT pg_catalog.current_setting('max_identifier_length')");
    if (limit->next() && table_.size() > std::stoul(std::string(limit->text(0))))
      throw TableError("Table " + display_ + " cannot be written: its name is longer than the " +
                       std::string(limit->text(0)) + " bytes PostgreSQL keeps of a name. Give it a shorter one.");
  }
  // The step's end drops the old table of the name: a view there would
  // refuse it after every row was written, and the step's other outputs.
  if (const auto old = conn_->findTable(table_)) {
    const std::string kind = conn_->notATable(*old);
    if (!kind.empty())
      throw TableError("Table " + display_ + " cannot be written: the " + conn_->describe() + " has a " +
                       kind + " " + *old + ", which zul does not replace. Drop it or name another table.");
    // What depends on it would refuse the drop at the end, after every row.
    if (const std::string others = conn_->dependents(*old); !others.empty())
      throw TableError("Table " + display_ + " cannot be written: its table " + *old + " in the " +
                       conn_->describe() + " has objects that depend on it (" + others +
                       "), and zul replaces a table by dropping it. Drop those first, or name "
                       "another table.");
    // Only the owner may drop it: refused at the end, after every row.
    if (!conn_->mayDrop(*old))
      throw TableError("Table " + display_ + " cannot be written: its table " + *old + " in the " +
                       conn_->describe() + " belongs to another user, and only its owner may "
                       "replace it. Have the owner grant you its role, or name another table.");
  }
  conn_->begin();
  held_ = true;
}

DbWriter::~DbWriter() {
  try {
    abort();
  } catch (...) {
  }
}

void DbWriter::create(const std::vector<Column>& columns) {
  std::string sql = "CREATE TABLE " + workReference() + " (";
  std::vector<ColumnKind> kinds;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) sql += ", ";
    kinds.push_back(kindOf(columns[i]));
    columnNames_.push_back(dbColumnName(*conn_, columns[i].name));
    sql += Connection::quoteName(columnNames_.back()) + " " +
           conn_->columnType(kinds.back(), columns[i].width);
    if (conn_->dialect() == db::Dialect::PostgreSQL)
      textLimits_.push_back(kinds.back() == ColumnKind::Text
                                ? static_cast<size_t>(std::max(1, columns[i].width))
                                : 0);
  }
  sql += ")";
  // The first write of the step: a read-only database or role refuses it.
  try {
    conn_->execute(sql);
  } catch (const std::exception& e) {
    throw TableError("Table " + display_ + " cannot be created: " + e.what());
  }
  created_ = true;
  appender_ = conn_->appender(workReference(), kinds);
}

// A value copied from an input may be longer than its column's width (the
// width of a CSV column stops at 32767 bytes) and PostgreSQL refuses a text
// longer than its varchar(n): the column of the new table is widened first,
// so that the value is kept whole, as a CSV output keeps it.
void DbWriter::row(const std::vector<Value>& values) {
  for (size_t k = 0; k < textLimits_.size() && k < values.size(); ++k) {
    if (!textLimits_[k] || values[k].kind != Value::Kind::Text ||
        values[k].text.size() <= textLimits_[k])
      continue;
    const size_t n = characterCount(values[k].text);
    if (n > textLimits_[k]) widenText(k, n);
  }
  appender_->row(values);
}

void DbWriter::widenText(size_t column, size_t characters) {
  appender_->finish();  // the rows buffered so far go under the old type
  const int width = static_cast<int>(std::min<size_t>(characters, INT32_MAX));
  conn_->execute("ALTER TABLE " + workReference() + " ALTER COLUMN " +
                 Connection::quoteName(columnNames_[column]) + " TYPE " +
                 conn_->columnType(ColumnKind::Text, width));
  textLimits_[column] = characters;
}

void DbWriter::prepare(const std::string& type, const std::string& label,
                       const std::vector<Column>& columns) {
  if (prepared_) return;
  try {
    if (appender_) appender_->finish();
    // Two runs writing one table at once would both rename a new table
    // to its name, or both create a missing catalogue, and the second
    // would fail on the first's: they take turns from here to their
    // commits. A run that finds its table replaced since its snapshot
    // still fails, saying so. (Only then: two libraries of one run write
    // other tables of one catalogue side by side.)
    if (conn_->dialect() == db::Dialect::PostgreSQL) {
      takeTurn(schema_ + "." + table_, true);
      const bool missing = !conn_->findTableIn(schema_, "zul_tables");
      claimCatalogue(missing || !narrowCatalogueFields(type, label, columns).empty());
      if (missing) takeTurn(schema_, false);
    }
    // The spelling may have changed since the name was resolved.
    if (auto old = conn_->findTableIn(schema_, table_)) {
      conn_->execute("DROP TABLE " + Connection::qualifiedName(schema_, *old));
      table_ = *old;
    }
    renameWorkTable();
    writeCatalogue(type, label, columns);
  } catch (const TableError& e) {
    throw TableError("Table " + display_ + " could not be put in place: " + e.what());
  }
  prepared_ = true;
}

// What this run's connections hold until their commits, by database and
// name: a table they put in place, a catalogue they write rows of, or one
// they create or widen (exclusive: the ALTER locks it whole). A second
// connection of the run (two libraries of one database with other
// connection strings) that waited for one would wait for a commit that
// comes only after it, until the lock timeout.
struct RunTurn {
  std::string key;
  const Connection* conn;
  bool exclusive;
};
static std::vector<RunTurn>& turnsOfThisRun() {
  static std::vector<RunTurn> turns;
  return turns;
}

// Refuses what another connection of this run holds against it, and notes it.
void DbWriter::claim(const std::string& key, bool exclusive, const std::string& what) {
  for (const RunTurn& t : turnsOfThisRun())
    if (t.key == key && t.conn != conn_.get() && (exclusive || t.exclusive))
      throw TableError("its library and another library of this step, connected to the " +
                       conn_->describe() + " by another connection string, " + what +
                       ", and each would wait for the other. Write these tables through one "
                       "library, or in two steps");
  turnsOfThisRun().push_back({key, conn_.get(), exclusive});
}

void DbWriter::claimCatalogue(bool changed) {
  claim(conn_->identity() + " catalogue " + schema_, changed,
        "write the catalogue zul_tables of schema " + schema_ + ", which one of them creates "
        "or widens (for a label or format longer than it holds)");
}

// Waits for the other runs that put what is named in place (a
// transaction advisory lock, held to the commit); a table also refused
// when another connection of this run writes it.
void DbWriter::takeTurn(const std::string& what, bool table) {
  if (table) claim(conn_->identity() + " table " + what, true, "write the same table");
  conn_->query("SELECT pg_catalog.pg_advisory_xact_lock(pg_catalog.hashtext(" +
                   conn_->placeholder(1) + "))",
               {Value::of("zul_tables " + what)})
      ->next();
}

void DbWriter::commit(const std::string& type, const std::string& label,
                      const std::vector<Column>& columns) {
  prepare(type, label, columns);
  conn_->markCommit();
  held_ = false;
  endTransaction();
}

// Ends this table's part of the connection's transaction; its turns are
// let go when the transaction ends, whether or not the end succeeds.
void DbWriter::endTransaction() {
  try {
    conn_->end();
  } catch (...) {
    forgetTurns();
    throw;
  }
  forgetTurns();
}

// The commit or rollback of the connection's transaction let go of its turns.
void DbWriter::forgetTurns() {
  if (conn_->inTransaction()) return;
  std::erase_if(turnsOfThisRun(), [&](const RunTurn& t) { return t.conn == conn_.get(); });
}

// SQLite checks every view of the schema when a table is renamed, so a
// view of the table just dropped would refuse the rename, though it reads
// the new table once it has the name. The work table has no view nor
// trigger to rewrite: the legacy rename, which checks none, is the same.
void DbWriter::renameWorkTable() {
  const std::string sql = "ALTER TABLE " + workReference() + " RENAME TO " +
                          Connection::quoteName(table_);
  if (conn_->dialect() != db::Dialect::SQLite) {
    conn_->execute(sql);
    return;
  }
  conn_->execute("PRAGMA legacy_alter_table = ON");
  try {
    conn_->execute(sql);
  } catch (...) {
    conn_->execute("PRAGMA legacy_alter_table = OFF");
    throw;
  }
  conn_->execute("PRAGMA legacy_alter_table = OFF");
}

// TYPE and label of the table (the row whose column_name is empty), and a
// row for each column with a label or a display format, replacing those of
// an earlier table of the name. The catalogue's schema is that of the
// databases zul has written before: a column's format goes in the type
// field of its row, which has no other use there (NULL when none).
void DbWriter::writeCatalogue(const std::string& type, const std::string& label,
                              const std::vector<Column>& columns) {
  const std::string catalogue = Connection::qualifiedName(schema_, "zul_tables");
  conn_->execute("CREATE TABLE IF NOT EXISTS " + catalogue +
                 " (table_name varchar(200) NOT NULL, column_name varchar(200) NOT NULL, "
                 "type varchar(8), label varchar(256))");
  if (conn_->dialect() == db::Dialect::PostgreSQL) widenCatalogue(type, label, columns);
  const std::string p1 = conn_->placeholder(1), p2 = conn_->placeholder(2),
                    p3 = conn_->placeholder(3), p4 = conn_->placeholder(4);
  conn_->execute("DELETE FROM " + catalogue + " WHERE table_name = " + p1, {Value::of(table_)});
  const std::string insert =
      "INSERT INTO " + catalogue + " VALUES (" + p1 + ", " + p2 + ", " + p3 + ", " + p4 + ")";
  if (!type.empty() || !label.empty())
    conn_->execute(insert, {Value::of(table_), Value::of(""), Value::of(type), Value::of(label)});
  auto textOrNull = [](const std::string& s) { return s.empty() ? Value::null() : Value::of(s); };
  for (const Column& c : columns)
    if (!c.label.empty() || !c.format.empty())
      conn_->execute(insert, {Value::of(table_), Value::of(dbColumnName(*conn_, c.name)),
                              textOrNull(c.format), textOrNull(c.label)});
}

// The catalogue's type and label fields are varchar(8) and varchar(256),
// but zul keeps a TYPE= or a label of any length (a CSV table's metadata
// does): rather than fail the whole table in PostgreSQL, a field too short
// for what goes in is widened to varchar without a limit, which the
// readers of the catalogue read as before. Only then, as it takes the
// catalogue's lock and needs its owner.
void DbWriter::widenCatalogue(const std::string& type, const std::string& label,
                              const std::vector<Column>& columns) {
  for (const std::string& field : narrowCatalogueFields(type, label, columns))
    conn_->execute("ALTER TABLE " + Connection::qualifiedName(schema_, "zul_tables") +
                   " ALTER COLUMN " + Connection::quoteName(field) + " TYPE varchar");
}

// The catalogue's fields too short for what this table puts in them.
std::vector<std::string> DbWriter::narrowCatalogueFields(const std::string& type,
                                                         const std::string& label,
                                                         const std::vector<Column>& columns) {
  size_t longestType = characterCount(type), longestLabel = characterCount(label);
  for (const Column& c : columns) {
    longestType = std::max(longestType, characterCount(c.format));
    longestLabel = std::max(longestLabel, characterCount(c.label));
  }
  std::vector<std::string> narrow;
  for (const db::DbColumn& field : conn_->tableColumns("zul_tables", schema_)) {
    const size_t longest = field.name == "type"    ? longestType
                           : field.name == "label" ? longestLabel
                                                   : 0;
    // "character varying(256)"; no length when it has none.
    const size_t open = field.declared.find('(');
    if (!longest || open == std::string::npos) continue;
    if (longest > std::stoul(field.declared.substr(open + 1))) narrow.push_back(field.name);
  }
  return narrow;
}

void DbWriter::abort() {
  if (!held_) return;
  held_ = false;
  appender_.reset();
  // When another table of the connection is committed, this one's rows
  // must not go with it.
  if (created_) {
    try {
      conn_->execute("DROP TABLE IF EXISTS " + workReference());
    } catch (const TableError&) {
      // A failed transaction is rolled back whole.
    }
  }
  endTransaction();
}

}  // namespace zul::table::detail
