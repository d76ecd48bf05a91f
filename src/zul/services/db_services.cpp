// The in-database services (db_services.hpp). Every one catches what the
// database layer throws: no exception crosses into module frames.
#include "zul/services/db_services.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>

#include "zul/messages/messages.hpp"
#include "zul/services/session.hpp"
#include "zul/table/db_connection.hpp"

namespace zul::services {

namespace {

using table::db::Connection;

// The connection of a table of the step, or null.
Connection* connectionOf(const zul_table* t) {
  if (!t || !session().owns(t)) return nullptr;
  if (t->input) return t->input->ref().database.get();
  if (t->output) return t->output->ref().database.get();
  return nullptr;
}

void copyText(char* to, size_t size, const std::string& from) {
  const size_t n = std::min(size - 1, from.size());
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

// Two tables are of one database when these texts are equal: a text too
// long for the field keeps its start and ends in a hash of the whole, so
// that two which differ only past the field's end still differ.
std::string fittedScope(const std::string& scope, size_t size) {
  if (scope.size() < size) return scope;
  char hash[24];
  std::snprintf(hash, sizeof hash, ":%016zx", std::hash<std::string>{}(scope));
  return scope.substr(0, size - 1 - std::strlen(hash)) + hash;
}

bool sqlArg(const char* sql, int32_t length, std::string& out) {
  if (!sql || length < 0) return false;
  out.assign(sql, static_cast<size_t>(length));
  return true;
}

// A name for a temporary table no other process or step uses.
std::string scratchName(const char* member) {
  static std::atomic<int> serial{0};
  std::string m;
  for (const char* p = member ? member : ""; *p; ++p)
    if (std::isalnum(static_cast<unsigned char>(*p))) m.push_back(static_cast<char>(std::tolower(*p)));
  return "zul_q" + m + "_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
}

// Runs work under a savepoint when a transaction is open: a statement that
// fails (PostgreSQL aborts the whole transaction then) is undone alone, and
// the step can still read its input row by row.
template <class Work>
void underSavepoint(Connection& conn, Work work) {
  const bool guarded = conn.inTransaction();
  if (guarded) conn.savepoint("zul_indb");
  try {
    work();
  } catch (...) {
    if (guarded) {
      try {
        conn.rollbackTo("zul_indb");
        conn.release("zul_indb");
      } catch (const std::exception&) {
      }
    }
    throw;
  }
  if (guarded) conn.release("zul_indb");
}

// The query's rows, kept in a temporary table of the connection (pg_temp
// in PostgreSQL, the temp schema in SQLite: nothing lands in a user's
// schema), so that the aggregate runs once however often its one row per
// BY group is read. Dropped when the step's tables go.
std::shared_ptr<void> materialise(const std::shared_ptr<Connection>& conn, const std::string& name,
                                  const std::string& sql) {
  conn->execute("CREATE TEMPORARY TABLE " + Connection::quoteName(name) + " AS " + sql);
  return std::shared_ptr<void>(nullptr, [conn, name](void*) {
    try {
      conn->execute("DROP TABLE IF EXISTS " + Connection::quoteName(name));
    } catch (const std::exception&) {
      // A rolled-back transaction took the table with it.
    }
  });
}

}  // namespace

int32_t svcDbTableInfo(zul_table* t, zul_db_table_info* info) {
  if (!info) return 1;
  *info = zul_db_table_info{};
  Connection* conn = connectionOf(t);
  if (!conn) return 1;
  try {
    const bool pg = conn->dialect() == table::db::Dialect::PostgreSQL;
    info->dialect = pg ? ZUL_DB_POSTGRES : ZUL_DB_SQLITE;
    const std::string ref = t->output ? t->output->databaseWorkTable()
                                      : Connection::quoteName(t->input->ref().dbTable);
    copyText(info->reference, sizeof info->reference, ref);
    const size_t size = sizeof info->database;
    copyText(info->database, size, fittedScope(conn->nameScope(), size));
    copyText(info->display, sizeof info->display,
             t->output ? t->output->displayName() : t->input->displayName());
    // New PostgreSQL columns are named in lower case (dbColumnName).
    info->lowerCaseColumns = pg ? 1 : 0;
    return 0;
  } catch (const std::exception&) {
    *info = zul_db_table_info{};
    return 1;
  }
}

zul_table* svcDbQueryTable(zul_table* t, const char* sql, int32_t length, const char* member) {
  std::string text;
  if (!t || !t->input || !connectionOf(t) || !sqlArg(sql, length, text)) return nullptr;
  Session& s = session();
  try {
    const table::TableRef& from = t->input->ref();
    table::TableRef ref;
    ref.library = from.library;
    ref.member = member ? member : "_ZSQL_";
    ref.database = from.database;
    ref.dbTable = scratchName(member);
    auto q = std::make_unique<zul_table>();
    q->kind = zul_table::Kind::Input;
    q->written = ref.displayName();
    // Opening the table runs statements too (its columns, its rows counted):
    // a failure anywhere is undone alone, and the OUT= table of the same
    // transaction can still be committed.
    underSavepoint(*from.database, [&] {
      q->scratch = materialise(from.database, ref.dbTable, text);
      q->input = std::make_unique<table::InputTable>(std::move(ref));
    });
    // The aggregate has a row per BY group, with the BY variables; a query
    // without them (a first row) is one group.
    const table::BySpec& by = t->input->by();
    const bool grouped = std::all_of(by.variables.begin(), by.variables.end(), [&](const auto& b) {
      return q->input->varNumber(b.name) > 0;
    });
    if (grouped) {
      // The groups keep the display formats of their BY variables, so that
      // they are shown as the rows' groups would be.
      // SQLite gives an empty result untyped columns, read as text; with no
      // group there is nothing to show, and a number's format would not fit.
      for (const auto& b : by.variables) {
        const int from = t->input->varNumber(b.name), to = q->input->varNumber(b.name);
        const table::Column& given = t->input->columns()[static_cast<size_t>(from - 1)];
        if (given.isCharacter() == q->input->columns()[static_cast<size_t>(to - 1)].isCharacter())
          q->input->setFormat(to - 1, given.format);
      }
      if (!by.variables.empty()) q->input->setBy(by);
      q->groupsOf = t;
    }
    return s.adopt(std::move(q));
  } catch (const std::exception& e) {
    // The step may go on by the rows, unless the server has gone: then
    // this is the step's error, and the rows are not tried (READABLE).
    const bool lost = connectionOf(t)->lost();
    if (t->queryFailure != e.what())
      messages::writeLogLine(lost ? ZUL_LOG_ERROR : ZUL_LOG_WARNING, e.what());
    t->lossReported = t->lossReported || lost;
    t->queryFailure = e.what();
    return nullptr;
  }
}

int32_t svcDbExecute(zul_table* t, const char* sql, int32_t length, double* rows) {
  if (rows) *rows = 0;
  std::string text;
  Connection* conn = connectionOf(t);
  if (!conn || !sqlArg(sql, length, text)) return 1;
  try {
    if (t->output && !t->columnsLaidOut && layOutColumns(t) != 0) return 1;
    const int64_t n = t->output ? t->output->executeInDatabase(text) : conn->execute(text);
    if (rows) *rows = static_cast<double>(n);
    return 0;
  } catch (const std::bad_alloc&) {
    messages::writeLog(ZUL_LOG_ERROR, "Out of memory while the database ran a statement.");
    return 2;
  } catch (const std::exception& e) {
    messages::writeLogLine(ZUL_LOG_ERROR, e.what());
    return 1;
  }
}

int32_t svcDbDescribe(zul_table* t, const char* sql, int32_t length, int32_t* codes,
                      int32_t count) {
  std::string text;
  Connection* conn = connectionOf(t);
  if (!conn || !sqlArg(sql, length, text) || count < 0 || (count > 0 && !codes)) return 1;
  try {
    const std::vector<int> found = conn->describeQuery(text);
    if (static_cast<int32_t>(found.size()) < count) return 2;
    std::copy(found.begin(), found.begin() + count, codes);
    return 0;
  } catch (const std::exception& e) {
    messages::writeLogLine(ZUL_LOG_ERROR, e.what());
    return 1;
  }
}

}  // namespace zul::services
