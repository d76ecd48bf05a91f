// zul/table/db_pg_copy.hpp -- the rows of a PostgreSQL query streamed by
// COPY (query) TO STDOUT (FORMAT binary) on a connection of their own.
// Internal to this folder (db_postgres.cpp and its tests).
//
// A cursor costs a round trip and a result set per batch of rows; COPY
// sends the rows as one stream, in binary (a double precision value is its
// 8 bytes, formatted by no one). The stream occupies its connection until
// it ends, while the owning connection must stay free for the statements
// that run between rows (the OUT= writer's COPY FROM, a group read again),
// so it runs on a second connection that imports the owner's snapshot:
// both see the same rows.
#pragma once

#include <libpq-fe.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zul/table/db_connection.hpp"

namespace zul::table::db {

// One field of COPY's binary tuple: the bytes, or null.
struct CopyField {
  const char* p = nullptr;
  int32_t n = -1;  // -1 for NULL
};

// Splits the CopyData messages of a binary COPY into tuples: the file
// header (signature, flags, extension) before the first, a field count
// and (length, bytes) per field for each, and -1 as the trailer.
class CopyTupleParser {
 public:
  enum class Step { Tuple, Trailer, Broken };
  // Parses the next tuple from the message [p, p + n) starting at *used;
  // moves *used past it. Broken when the bytes are no tuple of columns
  // fields.
  Step next(const char* p, size_t n, size_t& used, int columns, std::vector<CopyField>& out);

 private:
  bool headerDone_ = false;
};

// The reading side: a second connection, opened once and kept, that runs
// one COPY at a time.
class PgCopyReader {
 public:
  // conninfo reaches the same database; settings are the session
  // settings of the owning connection (date style, time zone, encoding),
  // which the text of a value depends on.
  PgCopyReader(std::string conninfo, std::string settings)
      : conninfo_(std::move(conninfo)), settings_(std::move(settings)) {}
  ~PgCopyReader();
  PgCopyReader(const PgCopyReader&) = delete;
  PgCopyReader& operator=(const PgCopyReader&) = delete;

  // The rows of sql as seen by the exported snapshot; null when they
  // cannot be streamed this way (no second connection, the snapshot not
  // importable, the query refused, a stream already open): the caller
  // reads through a cursor instead, which reports a real error itself.
  // describe names the database in messages; done runs when the stream
  // is destroyed.
  std::unique_ptr<RowStream> open(const std::string& snapshot, const std::string& sql,
                                  std::string describe, std::function<void()> done);
  bool busy() const { return busy_; }

 private:
  friend class PgCopyRows;
  bool connect();
  bool command(const std::string& sql);
  void drop();  // closes the connection; the next open() connects again
  // Ends the COPY (cancelling it when rows are left) and the transaction.
  void finish(bool ended);

  std::string conninfo_, settings_;
  PGconn* pg_ = nullptr;
  bool failed_ = false;  // the second connection could not be made
  bool busy_ = false;
};

}  // namespace zul::table::db
