// zul/table/db_pg_copy.cpp -- rows streamed by a binary COPY on a second
// PostgreSQL connection (see db_pg_copy.hpp).
#include "zul/table/db_pg_copy.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zul::table::db {

namespace {

constexpr Oid kFloat8Oid = 701;
// "PGCOPY\n\377\r\n\0": the signature that opens a binary COPY.
constexpr char kSignature[11] = {'P', 'G', 'C', 'O', 'P', 'Y', '\n', '\377', '\r', '\n', '\0'};

uint32_t bigEndian32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint32_t{u[0]} << 24 | uint32_t{u[1]} << 16 | uint32_t{u[2]} << 8 | u[3];
}

uint64_t fromBigEndian64(uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
  return v;
}

int16_t bigEndian16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<int16_t>(static_cast<uint16_t>(u[0] << 8 | u[1]));
}

}  // namespace

CopyTupleParser::Step CopyTupleParser::next(const char* p, size_t n, size_t& used, int columns,
                                            std::vector<CopyField>& out) {
  size_t at = used;
  if (!headerDone_) {
    // Signature, flags, then the length of a header extension to skip.
    if (n - at < 19 || std::memcmp(p + at, kSignature, sizeof kSignature) != 0) return Step::Broken;
    const uint32_t extension = bigEndian32(p + at + 15);
    if (extension > n - at - 19) return Step::Broken;
    at += 19 + extension;
    headerDone_ = true;
  }
  if (n - at < 2) return Step::Broken;
  const int16_t count = bigEndian16(p + at);
  at += 2;
  if (count == -1) {
    used = at;
    return Step::Trailer;
  }
  if (count != columns) return Step::Broken;
  out.resize(static_cast<size_t>(columns));
  for (int c = 0; c < columns; ++c) {
    if (n - at < 4) return Step::Broken;
    const auto length = static_cast<int32_t>(bigEndian32(p + at));
    at += 4;
    if (length < -1 || (length > 0 && static_cast<size_t>(length) > n - at)) return Step::Broken;
    out[static_cast<size_t>(c)] = {length < 0 ? nullptr : p + at, length};
    if (length > 0) at += static_cast<size_t>(length);
  }
  used = at;
  return Step::Tuple;
}

// A row of a binary COPY: its fields point into the bytes received.
class BinaryTupleRow : public RowStream {
 public:
  explicit BinaryTupleRow(std::vector<Oid> types) : types_(std::move(types)) {}
  int columnCount() const override { return static_cast<int>(types_.size()); }
  bool isNull(int c) const override { return fields_[static_cast<size_t>(c)].n < 0; }
  std::string_view text(int c) const override {
    const CopyField& f = fields_[static_cast<size_t>(c)];
    return f.n <= 0 ? std::string_view() : std::string_view(f.p, static_cast<size_t>(f.n));
  }
  // A double precision value is its IEEE 754 bytes in network order.
  std::optional<double> storedNumber(int c) const override {
    const CopyField& f = fields_[static_cast<size_t>(c)];
    if (f.n != 8 || types_[static_cast<size_t>(c)] != kFloat8Oid) return std::nullopt;
    uint64_t bits;
    std::memcpy(&bits, f.p, sizeof bits);
    bits = fromBigEndian64(bits);
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
  }

 protected:
  std::vector<Oid> types_;
  std::vector<CopyField> fields_;
};

class PgCopyRows : public BinaryTupleRow {
 public:
  PgCopyRows(PgCopyReader& reader, std::vector<Oid> types, std::string describe,
             std::function<void()> done)
      : BinaryTupleRow(std::move(types)), reader_(reader), describe_(std::move(describe)),
        done_(std::move(done)) {}
  ~PgCopyRows() override {
    release();
    reader_.finish(ended_);
    if (done_) done_();
  }
  bool next() override;

 private:
  void release() {
    if (message_) PQfreemem(message_);
    message_ = nullptr;
    size_ = used_ = 0;
  }
  bool message();
  void endOfCopy();

  PgCopyReader& reader_;
  std::string describe_;
  std::function<void()> done_;
  CopyTupleParser parser_;
  char* message_ = nullptr;  // the CopyData message the fields point into
  size_t size_ = 0, used_ = 0;
  bool ended_ = false;
};

// The next CopyData message; false at the end of the COPY.
bool PgCopyRows::message() {
  release();
  const int n = PQgetCopyData(reader_.pg_, &message_, 0);
  if (n >= 0) {
    size_ = static_cast<size_t>(n);
    return true;
  }
  message_ = nullptr;
  return false;
}

// The COPY's own result: an error the server met while sending rows (a
// function of a view that raises, a cast that fails) stops the read.
void PgCopyRows::endOfCopy() {
  ended_ = true;
  const std::string why = reader_.copyResult();
  if (!why.empty()) throw TableError(describe_ + ": a statement failed: " + why);
}

std::string PgCopyReader::copyResult() {
  std::string why;
  while (PGresult* r = PQgetResult(pg_)) {
    if (PQresultStatus(r) != PGRES_COMMAND_OK && why.empty()) why = pgResultReason(r);
    PQclear(r);
  }
  if (why.empty() && PQstatus(pg_) != CONNECTION_OK) why = pgConnectionReason(pg_);
  return lossOr(pg_, why);
}

bool PgCopyRows::next() {
  while (!ended_) {
    if (used_ >= size_ && !message()) {
      endOfCopy();
      return false;
    }
    switch (parser_.next(message_, size_, used_, columnCount(), fields_)) {
      case CopyTupleParser::Step::Tuple: return true;
      case CopyTupleParser::Step::Trailer:
        while (message()) {
        }
        endOfCopy();
        return false;
      case CopyTupleParser::Step::Broken:
        ended_ = true;
        reader_.drop();
        throw TableError(describe_ + ": the rows of a query came in a form zul cannot read.");
    }
  }
  return false;
}

PgCopyReader::~PgCopyReader() { drop(); }

void PgCopyReader::drop() {
  if (pg_) PQfinish(pg_);
  pg_ = nullptr;
}

bool PgCopyReader::connect() {
  if (pg_) return true;
  if (failed_) return false;
  pg_ = PQconnectdb(conninfo_.c_str());
  if (!pg_ || PQstatus(pg_) != CONNECTION_OK || !command(settings_)) {
    drop();
    failed_ = true;
    return false;
  }
  PQsetNoticeProcessor(pg_, [](void*, const char*) {}, nullptr);
  if (!optional_.empty()) PQclear(PQexec(pg_, optional_.c_str()));
  return true;
}

bool PgCopyReader::command(const std::string& sql) {
  PGresult* r = PQexec(pg_, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  PQclear(r);
  return ok;
}

bool PgCopyReader::begin(const std::string& snapshot) {
  if (busy_ || !connect()) return false;
  if (!command("BEGIN ISOLATION LEVEL REPEATABLE READ") ||
      !command("SET TRANSACTION SNAPSHOT '" + snapshot + "'")) {
    finish(true);
    return false;
  }
  return true;
}

// Binary COPY does not say the types of its fields: the query is
// described first (prepared, not run).
std::vector<Oid> PgCopyReader::columnTypes(const std::string& sql) {
  std::vector<Oid> types;
  PGresult* prepared = PQprepare(pg_, "", sql.c_str(), 0, nullptr);
  const bool ok = PQresultStatus(prepared) == PGRES_COMMAND_OK;
  PQclear(prepared);
  if (!ok) return types;
  PGresult* shape = PQdescribePrepared(pg_, "");
  for (int c = 0; c < PQnfields(shape); ++c) types.push_back(PQftype(shape, c));
  PQclear(shape);
  return types;
}

std::string PgCopyReader::startCopy(const std::string& sql) {
  PGresult* started = PQexec(pg_, ("COPY (" + sql + ") TO STDOUT (FORMAT binary)").c_str());
  const bool copying = PQresultStatus(started) == PGRES_COPY_OUT;
  std::string why = copying ? "" : started ? pgResultReason(started) : pgConnectionReason(pg_);
  PQclear(started);
  if (!copying && why.empty()) why = "COPY did not start";
  return why;
}

std::unique_ptr<RowStream> PgCopyReader::open(const std::string& snapshot, const std::string& sql,
                                              std::string describe, std::function<void()> done) {
  if (!begin(snapshot)) return nullptr;
  std::vector<Oid> types = columnTypes(sql);
  if (types.empty() || !startCopy(sql).empty()) {
    finish(true);
    return nullptr;
  }
  busy_ = true;
  return std::make_unique<PgCopyRows>(*this, std::move(types), std::move(describe),
                                      std::move(done));
}

void PgCopyReader::finish(bool ended) {
  busy_ = false;
  endCopy(ended);
}

void PgCopyReader::endCopy(bool ended) {
  if (!pg_) return;
  if (!ended) {
    // Rows are left: the server is asked to stop sending them, and what
    // it sent before it stopped is read and thrown away.
    char why[256];
    PGcancel* cancel = PQgetCancel(pg_);
    const bool sent = cancel && PQcancel(cancel, why, sizeof why) == 1;
    if (cancel) PQfreeCancel(cancel);
    if (!sent) {
      drop();
      return;
    }
    char* rest = nullptr;
    int n;
    while ((n = PQgetCopyData(pg_, &rest, 0)) >= 0) PQfreemem(rest);
    if (n == -2) {
      drop();
      return;
    }
  }
  while (PGresult* r = PQgetResult(pg_)) PQclear(r);
  if (!command("ROLLBACK")) drop();
}

// ---- Consecutive ranges of a table's blocks on two connections ----

namespace {

// A reader thread hands its rows over in chunks of about this many bytes
// (one lock and one wake-up per chunk, not per row), and runs at most
// kQueueBytes ahead of the consumer: more than a range of the largest
// size, so that a stream keeps working while the consumer reads a whole
// range of the other.
constexpr size_t kChunkBytes = 256 << 10;
constexpr size_t kQueueBytes = 16 << 20;
constexpr size_t kRowSlack = 16 << 10;

// How one range's COPY ended: copyEnded (else it is still sending and
// must be cancelled), goOn (else the stream stops: it failed, or the
// consumer left).
struct RangeEnd {
  bool copyEnded, goOn;
};

}  // namespace

int64_t rangeBlocks(int64_t blocks) {
  return std::clamp(blocks / 64, kMinRangeBlocks, kMaxRangeBlocks);
}

// The rows of a table, range by range, from the chunks of both readers.
class PgRangeRows : public BinaryTupleRow {
 public:
  PgRangeRows(std::vector<Oid> types, std::string sql, int64_t per, int ranges,
              std::string describe)
      : BinaryTupleRow(std::move(types)), sql_(std::move(sql)), per_(per), ranges_(ranges),
        describe_(std::move(describe)) {}
  ~PgRangeRows() override {
    chunks_.reset();  // stops and joins the reader threads, which end their COPY
    for (PgCopyReader* r : readers_) r->busy_ = false;
    if (done_) done_();
  }
  // The SELECT of range r: a TID range scan of its blocks; the first range
  // has no lower bound, the last none above (blocks added since the
  // snapshot hold no row it sees).
  std::string rangeSql(int r) const;
  // Starts a thread per reader; each has started the COPY of its first
  // range and is busy until the rows are destroyed, when done runs.
  void start(std::vector<PgCopyReader*> readers, std::function<void()> done);
  bool next() override;

 private:
  void produce(PgCopyReader& reader, int stream, int streams, ChunkQueue& queue) const;
  static RangeEnd copyRange(PgCopyReader& reader, ChunkQueue& queue);

  std::string sql_;
  int64_t per_;
  int ranges_;
  std::string describe_;
  std::function<void()> done_;
  std::vector<PgCopyReader*> readers_;  // busy from start() until the threads are joined
  std::unique_ptr<OrderedChunks> chunks_;
  Chunk chunk_;  // the fields point into its bytes
  size_t used_ = 0;
  CopyTupleParser parser_;
};

std::string PgRangeRows::rangeSql(int r) const {
  std::string where;
  if (r > 0) where = "ctid >= '(" + std::to_string(r * per_) + ",0)'::tid";
  if (r + 1 < ranges_)
    where += (where.empty() ? "" : " AND ") + std::string("ctid < '(") +
             std::to_string((r + 1) * per_) + ",0)'::tid";
  return where.empty() ? sql_ : sql_ + " WHERE " + where;
}

void PgRangeRows::start(std::vector<PgCopyReader*> readers, std::function<void()> done) {
  const int streams = static_cast<int>(readers.size());
  try {
    chunks_ = std::make_unique<OrderedChunks>(
        ranges_, streams, kQueueBytes, [this, readers, streams](int s, ChunkQueue& q) {
          produce(*readers[static_cast<size_t>(s)], s, streams, q);
        });
  } catch (...) {
    for (PgCopyReader* r : readers) r->finish(false);  // a thread could not start
    throw;  // the caller ends its transaction; done is not run
  }
  readers_ = readers;
  done_ = std::move(done);
}

// On the reader's thread: ranges stream, stream + streams, ... Every libpq
// call on this reader's connection is made here until the thread ends.
void PgRangeRows::produce(PgCopyReader& reader, int stream, int streams, ChunkQueue& queue) const {
  RangeEnd end{true, true};
  for (int r = stream; r < ranges_ && end.goOn; r += streams) {
    if (r != stream) {
      const std::string why = reader.startCopy(rangeSql(r));
      if (!why.empty()) {
        queue.push({{}, false, why});
        break;
      }
    }
    end = copyRange(reader, queue);
  }
  reader.endCopy(end.copyEnded);  // busy until the consumer has joined this thread
}

RangeEnd PgRangeRows::copyRange(PgCopyReader& reader, ChunkQueue& queue) {
  Chunk chunk;
  // Room for a chunk and the row that ends it: the bytes are never moved
  // while a chunk fills.
  chunk.bytes.reserve(kChunkBytes + kRowSlack);
  char* message = nullptr;
  int n;
  while ((n = PQgetCopyData(reader.pg_, &message, 0)) > 0) {
    chunk.bytes.append(message, static_cast<size_t>(n));
    PQfreemem(message);
    if (chunk.bytes.size() < kChunkBytes) continue;
    if (!queue.push(std::move(chunk))) return {false, false};
    chunk = Chunk();
    chunk.bytes.reserve(kChunkBytes + kRowSlack);
  }
  const std::string why =
      n == -1 ? reader.copyResult() : lossOr(reader.pg_, pgConnectionReason(reader.pg_));
  if (!why.empty()) {
    queue.push({{}, false, why});
    return {true, false};
  }
  chunk.last = true;
  return {true, queue.push(std::move(chunk))};
}

bool PgRangeRows::next() {
  for (;;) {
    if (used_ < chunk_.bytes.size()) {
      switch (parser_.next(chunk_.bytes.data(), chunk_.bytes.size(), used_, columnCount(),
                           fields_)) {
        case CopyTupleParser::Step::Tuple: return true;
        case CopyTupleParser::Step::Trailer: continue;
        case CopyTupleParser::Step::Broken:
          throw TableError(describe_ + ": the rows of a query came in a form zul cannot read.");
      }
    }
    if (chunk_.last) parser_ = CopyTupleParser();  // the next chunk opens a range
    if (!chunks_->next(chunk_)) return false;
    used_ = 0;
    if (!chunk_.error.empty())
      throw TableError(describe_ + ": a statement failed: " + chunk_.error);
  }
}

std::unique_ptr<RowStream> openRanges(PgCopyReader* first, PgCopyReader* second,
                                      const std::string& snapshot, const std::string& sql,
                                      int64_t blocks, std::string describe,
                                      std::function<void()> done) {
  const int64_t per = rangeBlocks(blocks);
  const int ranges = static_cast<int>(std::max<int64_t>(1, (blocks + per - 1) / per));
  std::vector<PgCopyReader*> readers{first};
  if (ranges > 1) readers.push_back(second);
  size_t begun = 0, copying = 0;
  while (begun < readers.size() && readers[begun]->begin(snapshot)) ++begun;
  std::vector<Oid> types = begun == readers.size() ? first->columnTypes(sql) : std::vector<Oid>();
  auto rows =
      std::make_unique<PgRangeRows>(std::move(types), sql, per, ranges, std::move(describe));
  if (rows->columnCount() > 0)
    while (copying < readers.size() &&
           readers[copying]->startCopy(rows->rangeSql(static_cast<int>(copying))).empty())
      ++copying;
  if (copying < readers.size() || rows->columnCount() == 0) {
    for (size_t k = 0; k < begun; ++k) readers[k]->finish(k >= copying);
    return nullptr;
  }
  for (PgCopyReader* r : readers) r->busy_ = true;
  rows->start(readers, std::move(done));
  return rows;
}

std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = c == '\n' || c == '\t' || c == ' ';
    if (!blank) out += c;
    else if (!out.empty() && out.back() != ' ') out += ' ';
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string pgResultReason(const PGresult* r) {
  const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
  if (!primary) return oneLine(PQresultErrorMessage(r));
  std::string why = primary;
  for (int field : {PG_DIAG_MESSAGE_DETAIL, PG_DIAG_MESSAGE_HINT})
    if (const char* more = PQresultErrorField(r, field)) why += std::string(". ") + more;
  return oneLine(why);
}

std::string pgConnectionReason(const PGconn* pg) { return oneLine(PQerrorMessage(pg)); }

std::string lossOr(const PGconn* pg, const std::string& why) {
  if (why.empty() || PQstatus(pg) != CONNECTION_BAD) return why;
  return "the connection to the server was lost (" + why +
         "); run the program again when the server can be reached";
}

}  // namespace zul::table::db
