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
#include "zul/table/db_ordered_chunks.hpp"

namespace zul::table::db {

// libpq's reasons on one log line. A result's: the server's message, detail
// and hint, without the statement excerpt and caret libpq lays out below;
// a connection's: its text with line breaks and tabs made single blanks.
std::string pgResultReason(const PGresult* r);
std::string pgConnectionReason(const PGconn* pg);
std::string oneLine(const std::string& text);
// why, said to be the loss of the server when pg's connection has gone
// (one wording for every connection of a library, with what to do).
std::string lossOr(const PGconn* pg, const std::string& why);

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

// The reading side: a connection of its own, opened once and kept, that
// runs one COPY at a time.
class PgCopyReader {
 public:
  // conninfo reaches the same database; settings are the session
  // settings of the owning connection (date style, time zone, encoding),
  // which the text of a value depends on; optional statements are run
  // after them and may fail (the temporary functions zul_put and zul_puti,
  // by which rows are ordered by a formatted BY value, which a standby
  // refuses).
  PgCopyReader(std::string conninfo, std::string settings, std::string optional = {})
      : conninfo_(std::move(conninfo)), settings_(std::move(settings)), optional_(std::move(optional)) {}
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
  friend class PgRangeRows;
  friend std::unique_ptr<RowStream> openRanges(PgCopyReader*, PgCopyReader*, const std::string&,
                                               const std::string&, int64_t, std::string,
                                               std::function<void()>);
  bool connect();
  bool command(const std::string& sql);
  void drop();  // closes the connection; the next open() connects again
  // Connects and opens a transaction on the snapshot; false when it
  // cannot (the connection is then left idle).
  bool begin(const std::string& snapshot);
  // The types of the columns of sql (prepared, not run); empty when it
  // cannot be prepared.
  std::vector<Oid> columnTypes(const std::string& sql);
  // Starts COPY (sql) TO STDOUT in binary; the server's message when it
  // does not start.
  std::string startCopy(const std::string& sql);
  // The COPY's own result once its rows ended: the server's message when
  // it failed while sending them (a function of a view that raises, a
  // cast that fails, the connection lost), else "".
  std::string copyResult();
  // Ends the COPY (cancelling it when rows are left) and the transaction;
  // the reader is free again.
  void finish(bool ended);
  // finish() on a reader thread: busy() stays, read by the owner's
  // thread, until the owner has joined it.
  void endCopy(bool ended);

  std::string conninfo_, settings_, optional_;
  PGconn* pg_ = nullptr;
  bool failed_ = false;  // the connection could not be made
  bool busy_ = false;
};

// The rows of sql, a SELECT of columns FROM one plain table with nothing
// after the table's name, read as consecutive ranges of the table's
// blocks on both readers at once (each on the exported snapshot), in the
// table's storage order: a TID range scan per range. blocks is the
// table's size in blocks when the snapshot was taken. Null when the
// ranges cannot be read so (a reader busy or unable to begin): the caller
// reads the rows as one stream.
std::unique_ptr<RowStream> openRanges(PgCopyReader* first, PgCopyReader* second,
                                      const std::string& snapshot, const std::string& sql,
                                      int64_t blocks, std::string describe,
                                      std::function<void()> done);

// Blocks of a table read as one range: at least kMinRangeBlocks, at most
// kMaxRangeBlocks, about a 64th of the table between.
int64_t rangeBlocks(int64_t blocks);
constexpr int64_t kMinRangeBlocks = 32, kMaxRangeBlocks = 512;

}  // namespace zul::table::db
