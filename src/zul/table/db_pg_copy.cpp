// zul/table/db_pg_copy.cpp -- rows streamed by a binary COPY on a second
// PostgreSQL connection (see db_pg_copy.hpp).
#include "zul/table/db_pg_copy.hpp"

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

class PgCopyRows : public RowStream {
 public:
  PgCopyRows(PgCopyReader& reader, std::vector<Oid> types, std::string describe,
             std::function<void()> done)
      : reader_(reader), types_(std::move(types)), describe_(std::move(describe)),
        done_(std::move(done)) {}
  ~PgCopyRows() override {
    release();
    reader_.finish(ended_);
    if (done_) done_();
  }
  int columnCount() const override { return static_cast<int>(types_.size()); }
  bool next() override;
  bool isNull(int c) const override { return fields_[static_cast<size_t>(c)].n < 0; }
  std::string_view text(int c) const override {
    const CopyField& f = fields_[static_cast<size_t>(c)];
    return f.n <= 0 ? std::string_view() : std::string_view(f.p, static_cast<size_t>(f.n));
  }
  // A double precision value is its IEEE 754 bytes in network order.
  std::optional<double> storedNumber(int c) const override {
    const CopyField& f = fields_[static_cast<size_t>(c)];
    if (types_[static_cast<size_t>(c)] != kFloat8Oid || f.n != 8) return std::nullopt;
    uint64_t bits = uint64_t{bigEndian32(f.p)} << 32 | bigEndian32(f.p + 4);
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
  }

 private:
  void release() {
    if (message_) PQfreemem(message_);
    message_ = nullptr;
    size_ = used_ = 0;
  }
  bool message();
  void endOfCopy();

  PgCopyReader& reader_;
  std::vector<Oid> types_;
  std::string describe_;
  std::function<void()> done_;
  CopyTupleParser parser_;
  char* message_ = nullptr;  // the CopyData message the fields point into
  size_t size_ = 0, used_ = 0;
  std::vector<CopyField> fields_;
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
  std::string why;
  while (PGresult* r = PQgetResult(reader_.pg_)) {
    if (PQresultStatus(r) != PGRES_COMMAND_OK && why.empty())
      why = PQresultErrorMessage(r);
    PQclear(r);
  }
  if (why.empty() && PQstatus(reader_.pg_) != CONNECTION_OK) why = PQerrorMessage(reader_.pg_);
  while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
  if (!why.empty()) throw TableError(describe_ + ": a statement failed: " + why);
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
  return true;
}

bool PgCopyReader::command(const std::string& sql) {
  PGresult* r = PQexec(pg_, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  PQclear(r);
  return ok;
}

std::unique_ptr<RowStream> PgCopyReader::open(const std::string& snapshot, const std::string& sql,
                                              std::string describe, std::function<void()> done) {
  if (busy_ || !connect()) return nullptr;
  if (!command("BEGIN ISOLATION LEVEL REPEATABLE READ") ||
      !command("SET TRANSACTION SNAPSHOT '" + snapshot + "'")) {
    finish(true);
    return nullptr;
  }
  // Binary COPY does not say the types of its fields: the query is
  // described first (prepared, not run).
  std::vector<Oid> types;
  PGresult* prepared = PQprepare(pg_, "", sql.c_str(), 0, nullptr);
  const bool ok = PQresultStatus(prepared) == PGRES_COMMAND_OK;
  PQclear(prepared);
  if (ok) {
    PGresult* shape = PQdescribePrepared(pg_, "");
    for (int c = 0; c < PQnfields(shape); ++c) types.push_back(PQftype(shape, c));
    PQclear(shape);
  }
  PGresult* started =
      ok ? PQexec(pg_, ("COPY (" + sql + ") TO STDOUT (FORMAT binary)").c_str()) : nullptr;
  const bool copying = PQresultStatus(started) == PGRES_COPY_OUT;
  PQclear(started);
  if (!copying || types.empty()) {
    finish(true);
    return nullptr;
  }
  busy_ = true;
  return std::make_unique<PgCopyRows>(*this, std::move(types), std::move(describe),
                                      std::move(done));
}

void PgCopyReader::finish(bool ended) {
  busy_ = false;
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

}  // namespace zul::table::db
