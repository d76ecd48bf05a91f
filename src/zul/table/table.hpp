// zul/table/table.hpp -- the host's tables: CSV files with CSV-on-the-Web
// metadata beside them, read and written as streams.
//
// This is the public interface of src/zul/table/. The host services of
// group 212 (and 48/42, 400/4, 400/18) are thin wrappers over it; the
// statement parser resolves variable lists through InputTable::columns().
//
// Storage. A library is a directory; the table `lib.member` is the file
// `member.csv` in it (`member` alone is in WORK), and a quoted name is a
// path. CSV follows RFC 4180: the first line holds the column names, fields
// may be quoted (with "" for a quote, and commas and line breaks inside),
// lines end in LF or CRLF. An empty field or a lone unquoted "." is
// missing. Attributes that CSV cannot hold live in `member.csv-metadata.json`
// (W3C CSV on the Web): the table TYPE ("dc:type"), the table label
// ("dc:title"), each column's name, label ("dc:description") and datatype
// ("double", or "string" with "maxLength" = the width). Without metadata a
// column is numeric when every non-missing value is a decimal number, and a
// character column is as wide as its longest value.
//
// Streaming. An input is mapped read-only and walked once per pass; nothing
// is held per row, so tables larger than memory can be read. An output is
// written to a temporary file in the target directory and renamed into
// place (with its metadata) by commit(); abort() or the destructor of an
// uncommitted output removes it, so a failed step leaves no half-written
// table and an earlier table of that name stays intact. The metadata file
// records the CSV file's size and hash: a CSV file and a metadata file
// that were not written together are refused when read.
//
// Errors that the user must see (a missing file, an unknown library, a bad
// CSV line, a table not sorted by its BY variables) are thrown as
// TableError, whose what() is a complete sentence naming the table and,
// where it applies, the file line. Nothing here prints.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zul::table {

namespace db {
class Connection;
}
namespace detail {
class DbCursor;
class DbWriter;
}

// A problem with a table that the user must be told about.
class TableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Rows out of BY order: a fault the BY statement can fix (NOTSORTED), so
// the message names where it was written.
class ByOrderError : public TableError {
 public:
  using TableError::TableError;
};

// ---------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------

// The host's missing double (bit pattern 0xFFFFD10000000000); every double
// whose exponent bits are all ones counts as missing.
double missingValue();
bool isMissing(double x);

// Writes x in the shortest form that reads back to the same double, laid
// out as std::to_chars lays it out; a missing value gives "". out holds 32
// bytes; returns the length written (at most 24).
int formatNumber(double x, char* out);
std::string formatNumber(double x);
// Appends formatNumber(x) to out, formatted in place: copying the text from
// a buffer of its own would load bytes just stored one at a time, which
// stalls the copy (this is the hot path of writing a table).
void appendNumberText(std::string& out, double x);

// Parses a whole field as a decimal number: optional blanks, an optional
// sign, digits with an optional point, an optional exponent. "inf", "nan"
// and hexadecimal forms are not numbers here. false when it is not one.
bool parseNumber(std::string_view text, double& out);

// ---------------------------------------------------------------------
// Columns and table attributes
// ---------------------------------------------------------------------

enum class ColumnType { Numeric = 1, Character = 2 };
// What a numeric column's numbers count: a date is days since 1 January
// 1960, a time seconds since midnight, a timestamp seconds since the start
// of 1 January 1960. Database columns keep it (a DATE column read and
// written back stays a DATE); CSV files hold the numbers.
enum class Temporal { None, Date, Time, Timestamp };

struct Column {
  std::string name;   // as written in the header (compare case-blind)
  std::string label;  // empty when none
  ColumnType type = ColumnType::Numeric;
  int width = 8;      // bytes; 8 for numeric columns
  Temporal temporal = Temporal::None;
  // Display format, "w.d" or "$w." (sqlgen/put_format.hpp), empty when
  // none. BY groups are formed by the formatted value.
  std::string format{};
  bool isCharacter() const { return type == ColumnType::Character; }
};

// Data-set options from parentheses after a table name,
// `DATA=corr(TYPE=CORR LABEL='...')`. Explicit options win over the
// metadata file (inputs) and over setType()/setLabel() (outputs).
struct DataSetOptions {
  std::optional<std::string> type;
  std::optional<std::string> label;
};

// Case-blind comparison of names (ASCII).
bool sameName(std::string_view a, std::string_view b);

// ---------------------------------------------------------------------
// Libraries and table names
// ---------------------------------------------------------------------

// A table name as written in a statement.
struct TableName {
  std::string library;  // libref; empty for WORK (or for a quoted path)
  std::string member;   // member name, or the path when quoted
  bool quoted = false;  // member is a file path ('data/x.csv')
};

// Parses "lib.member", "member" or a quoted 'path' / "path". Throws
// TableError when the text is no table name.
TableName parseTableName(std::string_view text);

// A resolved table: where its file is and how messages name it.
struct TableRef {
  std::string library;         // upper-case libref ("WORK"); empty for a path
  std::string member;          // member name as written (for a path: the file stem)
  std::filesystem::path file;  // the .csv file; empty for a database table
  // A table of a database library: its connection, and its name in the
  // database (the spelling found in the catalogue, or the one a new table
  // gets).
  std::shared_ptr<db::Connection> database;
  std::string dbTable;
  std::filesystem::path metadataFile() const;  // file + "-metadata.json"
  // "WORK.SURVEY" (upper case), or the path as given for a quoted name.
  std::string displayName() const;
};

// The libraries of a run: LIBNAME assignments, WORK, and the table created
// last (the default for an omitted DATA=).
class Libraries {
 public:
  explicit Libraries(std::filesystem::path workDirectory);

  // LIBNAME libref 'dir'. The directory must exist (TableError otherwise);
  // a libref is 1 to 8 characters, a letter or "_" first, then letters,
  // digits or "_". Reassigning a libref replaces it; "WORK" moves WORK.
  void assign(std::string_view libref, const std::filesystem::path& directory);
  // LIBNAME libref SQLITE 'file.db' or POSTGRES 'conninfo': a library
  // whose tables are those of a database, connected to now (TableError
  // when that fails). An SQLite file that does not exist is created when
  // its directory does.
  void assignDatabase(std::string_view libref, std::string_view engine, const std::string& target);
  // What LIBNAME made of libref, for the log (never a password).
  std::string describe(std::string_view libref) const;
  // A LIBNAME that failed: libref is no longer assigned, so that no step
  // reads or writes the library it named before, and a later use of it
  // says why (failure names the statement, e.g. "its LIBNAME statement at
  // p.zul:2 failed").
  void forget(std::string_view libref, std::string failure);
  std::filesystem::path directory(std::string_view libref) const;  // TableError if unknown

  // Where a name points. A member is looked up case-blind in the library
  // directory (the exact spelling first); a table that does not exist yet
  // gets `member.csv` as written. A quoted path is used as given (".csv"
  // is added when the file has no extension and does not exist).
  TableRef resolve(const TableName& name) const;

  // Records that an output table was committed; lastCreated() returns the
  // newest such table, or nothing before the first.
  void noteCreated(const TableRef& table);
  std::optional<TableRef> lastCreated() const;

 private:
  struct Entry {
    std::string libref;
    std::filesystem::path directory;
    std::shared_ptr<db::Connection> database;  // null for a directory
    // Libraries of one database file, or of one connection string, share
    // one connection: two would lock each other out when a step writes to
    // both (SQLite locks the file, PostgreSQL the new catalogue), and the
    // step's tables there are committed together.
    std::string connectionKey;
    // A file URI's options ("mode=ro"), which libraries sharing the
    // connection must all have.
    std::string connectionOptions;
  };
  const Entry* find(std::string_view libref) const;
  void put(Entry e);
  std::vector<Entry> entries_;
  std::vector<std::pair<std::string, std::string>> failed_;  // libref, why
  std::optional<TableRef> lastCreated_;
};

// ---------------------------------------------------------------------
// Input tables
// ---------------------------------------------------------------------

struct ByVariable {
  std::string name;
  bool descending = false;
};
struct BySpec {
  std::vector<ByVariable> variables;
  bool notSorted = false;  // groups are runs of equal values, in any order
};

class InputTable;

// The fields of a column that hold numbers and also text that is no number
// ("x", "NaN", "1,5"): the type pass makes such a column character.
struct NonNumeric {
  int64_t count = 0;      // fields that are not numbers (nor missing)
  int64_t firstLine = 0;  // file line of the first of them
  std::string firstText;  // its text (at most 40 bytes)
};

// A list of columns bound to the caller's buffers, read one record at a
// time from the current BY group (212/63, 212/61, 212/26, 212/62).
//
// Numeric slots are stored in values[] in slot order, counting numeric
// slots only (the k-th numeric slot goes to values[k]); character slots go
// to text + offset, blank padded to the slot's width, offset = sum of the
// widths of the earlier character slots. A numeric column read into a
// character slot gives its text as written; a character column read into a
// numeric slot gives its number, or missing when it is none.
class ReadList {
 public:
  ReadList(InputTable& table, int slotCount);
  // Binds slot (from 0) to column number varNumber (from 1). TableError
  // when the slot or the column is out of range or the width is below 1.
  void bind(int slot, int varNumber, bool isCharacter, int width);

  // Reads the next record of the current BY group into the bound buffers.
  // true with a record, false at the end of the group. Unbound slots are
  // left as they were. A field of a numeric column that is no number is
  // read as missing, and remark() then tells which (the record counts as
  // read). Throws TableError on a broken line, and on a number too large
  // for a double (1e400). When it returns false the
  // numeric buffer may hold values of a row that was not delivered.
  bool read(double* values, char* text);
  // Reads up to max records into values, record k at values +
  // k * numericCount(), for a list without character slots: as many as
  // come at once from rows parsed ahead (threaded-read mode), else one as
  // read() would. Returns the count, 0 at the end of the group; remark()
  // then concerns the last record (only a record read singly has one).
  int readRun(double* values, int max);
  // The remark of the last read, empty when none.
  const std::string& remark() const { return remark_; }

  int slotCount() const { return static_cast<int>(slots_.size()); }
  // Slots as bound so far (the layout is made when first asked for).
  int numericCount() {
    if (!laidOut_) layout();
    return nNumeric_;
  }
  int textBytes() {  // total width of character slots
    if (!laidOut_) layout();
    return textBytes_;
  }
  InputTable& table() const { return *table_; }

 private:
  struct Slot {
    int column = -1;  // from 0; -1 unbound
    bool isCharacter = false;
    int width = 0;
    int target = 0;   // values index or text offset
  };
  void layout();
  // Whether rows parsed ahead may be read for this list now (stops
  // reading ahead when they may not).
  bool aheadUsable();
  bool readCursor(double* values, char* text);
  bool readDatabase(double* values, char* text);
  void convertSlot(const Slot& slot, double* values, char* text);
  void plainNumber(int column, const char* p, size_t n, double& out);
  void refuseOutOfRange(const Column& col, int64_t line, std::string_view text) const;
  InputTable* table_;
  std::vector<Slot> slots_;
  int nNumeric_ = 0;
  int textBytes_ = 0;
  bool laidOut_ = false;
  std::string remark_;
  // Numbers converted while the row is tokenized: per column, the values
  // index of its numeric slot (-1 none).
  std::vector<int> columnTarget_;
  bool fused_ = false;
  uint64_t serial_ = 0;  // set by layout()
};

// An open input table. Opening reads the header and the metadata file;
// when the metadata file is absent (or does not match the header) one fast
// pass over the file decides the column types and character widths and
// checks that every line has as many fields as the header.
class InputTable {
 public:
  // Throws TableError when the file cannot be opened or read, or is no
  // valid CSV table.
  explicit InputTable(TableRef ref, const DataSetOptions& options = {});
  ~InputTable();
  InputTable(const InputTable&) = delete;
  InputTable& operator=(const InputTable&) = delete;

  const TableRef& ref() const { return ref_; }
  std::string displayName() const { return ref_.displayName(); }
  // TYPE, upper case, empty when none; type8() blank padded to 8.
  const std::string& type() const { return type_; }
  std::string type8() const;
  const std::string& label() const { return label_; }
  // Non-fatal observations made while opening (for example a metadata file
  // that did not match the header and was ignored), for the host to log.
  const std::vector<std::string>& notes() const { return notes_; }
  // Observations about values that are read otherwise than their file or
  // metadata says (a column declared numeric that holds text), to be
  // logged as warnings.
  const std::vector<std::string>& warnings() const { return warnings_; }

  // Columns, numbered from 1 in the services; here the vector is from 0.
  const std::vector<Column>& columns() const { return columns_; }
  int varCount() const { return static_cast<int>(columns_.size()); }
  // Number (from 1) of the column named name, case-blind; 0 when absent.
  int varNumber(std::string_view name) const;
  // Gives a column (from 0) another display format (empty: none) while
  // this table is open, as a step's FORMAT statement does; nothing is
  // written back to the table.
  void setFormat(int col, std::string format);
  // Of a column (from 0) that the type pass found holding both numbers and
  // other text: what the other text is; nullptr for every other column.
  const NonNumeric* nonNumeric(int col) const;
  // Number of data rows; known when the type pass ran, else nothing.
  std::optional<int64_t> rowCount() const { return rowCount_; }
  // Of a column (from 0): false when the type pass found no value in it
  // (every field empty or "."), true otherwise (also without a type pass).
  bool hasValues(int col) const;

  // ---- BY groups ----
  // Sets the BY variables before the first nextByGroup(). TableError when
  // a variable is not in the table.
  void setBy(const BySpec& by);
  const BySpec& by() const { return by_; }
  // Columns (from 0) of the BY variables, in BY order.
  const std::vector<int>& byColumns() const { return byColumns_; }

  // Moves to the next BY group, skipping what is left of the current one.
  // Returns 1 while there is a group, 0 at the end. Without BY variables
  // the whole table is one group (also when it has no rows). Throws
  // TableError, naming the table, the file line and the values, when the
  // rows are not in BY order (unless NOTSORTED).
  int nextByGroup();
  // The next record of the current group: true, and it becomes the current
  // record; false at the end of the group. Throws TableError on a broken
  // line.
  bool nextRecord();
  // The current group is read again from its first row (the current
  // record is then none until the next nextRecord()).
  void rewindGroup();
  // The whole table is read again from its first row; the next
  // nextByGroup() enters the first group.
  void rewindTable();

  // "a=1 b=x": the BY values of the current group (empty without BY).
  std::string byDescription() const;
  // The current group's BY value of BY variable k (from 0): numeric
  // values through byNumber(), character values (trailing blanks cut)
  // through byText().
  double byNumber(int k) const;
  std::string_view byText(int k) const;
  // Takes the current BY values of `groups`, a table with the same BY
  // variables whose rows are this table's groups (the crossproducts a
  // database computed for it), so that what copies this table's BY values
  // (an OUTSTAT= table) copies the group being analysed. The rows of this
  // table are not read.
  void takeGroupOf(const InputTable& groups);

  // ---- the current record ----
  bool hasRecord() const;
  // File line (from 1; the header is line 1) where the current record
  // starts; 0 when there is none.
  int64_t recordLine() const;
  // Value of column col (from 0) in the current record. number() of a
  // missing or non-numeric field is missing; text() is the field's text
  // after unquoting, "" when missing.
  double number(int col) const;
  std::string_view text(int col) const;
  // The field's text when it is a short plain decimal already in the
  // shortest form that formatNumber() would give ("-12.345"); empty
  // otherwise. Output tables copy such fields verbatim instead of
  // converting them twice.
  std::string_view plainNumberText(int col) const;
  // Appends the record's first n fields to out as an output table writes
  // them (numbers in shortest form, texts trimmed, missing values empty),
  // comma separated, copying runs of fields that already read so in one
  // piece. False, with out unchanged, when a field is quoted or a text
  // would need quotes: the caller then writes field by field.
  bool appendWrittenFields(int n, std::string& out) const;

  // Where the reading stands in the file, and the file's size, in bytes
  // (for a progress display).
  uint64_t bytePosition() const;
  uint64_t byteSize() const;

  // Threaded-read mode (400/18): reading is done for worker threads, so a
  // read list of numeric slots gets the numbers of plain rows parsed ahead
  // on helper threads (read_ahead.hpp). It changes no result: the same
  // records, remarks, errors and file lines, in the same order.
  void setThreadedRead(bool on);
  bool threadedRead() const { return threadedRead_; }

  // Ends the reading of a table in a database (its query, and its part in
  // the connection's transaction), so that the outputs of the step can be
  // committed; the next nextByGroup() starts over. Nothing for a file.
  void release();
  bool inDatabase() const { return db_ != nullptr; }

  struct Impl;  // the CSV cursor (input_cursor.hpp)

 private:
  friend class ReadList;
  friend int syncByGroup(const InputTable& input, InputTable& target);
  void openDatabase(const DataSetOptions& options);
  void openStatFile(const char* kind);
  void applyOptions(const DataSetOptions& options);
  void takeScannedTypes(const std::vector<bool>& typeKnown, const std::vector<bool>& widthKnown,
                        const std::string& declaredBy = {});
  TableRef ref_;
  std::string type_;
  std::string label_;
  std::vector<Column> columns_;
  std::vector<std::string> notes_;
  std::vector<std::string> warnings_;
  std::map<int, NonNumeric> nonNumeric_;
  std::optional<int64_t> rowCount_;
  std::vector<uint8_t> valued_;  // from the type pass; empty without one
  BySpec by_;
  std::vector<int> byColumns_;
  bool threadedRead_ = false;
  std::unique_ptr<Impl> impl_;
  std::unique_ptr<detail::DbCursor> db_;  // a table in a database
};

// Synchronisation of a second table (TARGET=) with the BY groups of an
// input. bySyncMode(): 0 when target has every BY variable of input, 1
// when it lacks some, 2 when it has none (or input has no BY variables).
int bySyncMode(const InputTable& input, const InputTable& target);
// Positions target on the group whose BY values equal the input's current
// group. In mode 0 target must have had setBy() with input's BY variables;
// in mode 2 target is rewound to its first row as one group. Returns 0
// when target is on that group, 1 when target has no such group (it stays
// where it was), 2 when the two cannot be matched (mode 1, or a BY
// variable numeric in one table and character in the other).
int syncByGroup(const InputTable& input, InputTable& target);

// ---------------------------------------------------------------------
// Output tables
// ---------------------------------------------------------------------

namespace detail {
// The hash recorded of a CSV file, taken as the file is written in pieces
// of any size: four lanes of 8-byte words, each word xor-ed into its lane,
// multiplied by an odd constant and folded (for a fixed lane each step is
// a bijection of the word, so a file that differs in one word always hashes
// differently); the last partial block and the length are folded in at the
// end. Written as "lanes64:" and 16 hex digits. Byte-wise FNV-1a, one
// multiplication per byte, cost as much as formatting the numbers of a large
// OUT= table; its "fnv1a64:" texts, in metadata written before, are still
// checked.
class FileWriter;
class CsvHash {
 public:
  void add(const char* data, size_t size);
  std::string text() const;

 private:
  void block(const unsigned char* p);
  uint64_t lane_[4] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull,
                       0x082EFA98EC4E6C89ull};
  unsigned char tail_[32] = {};
  size_t tailSize_ = 0;
  uint64_t bytes_ = 0;
};
}  // namespace detail

class OutputTable {
 public:
  // Creates the temporary file beside ref.file. TableError when the
  // directory does not exist or is not writable, or when the table's file
  // or metadata file is a directory: known before any row is computed.
  explicit OutputTable(TableRef ref, const DataSetOptions& options = {});
  ~OutputTable();  // abort() unless committed
  OutputTable(const OutputTable&) = delete;
  OutputTable& operator=(const OutputTable&) = delete;

  const TableRef& ref() const { return ref_; }
  std::string displayName() const { return ref_.displayName(); }

  // Table attributes (212/50 21, 22). A data-set option given when the
  // table was named wins over these.
  void setType(std::string_view type);
  void setLabel(std::string_view label);
  const std::string& type() const { return type_; }
  const std::string& label() const { return label_; }

  // ---- column declarations, in order, before columnsDone() ----
  // A column whose values the caller passes to appendRow(); returns its
  // index among the declared columns (from 0). TableError on a duplicate
  // name (case-blind), an empty name, or a character width below 1.
  int declareColumn(const Column& column);
  // Copies of input's BY variables (212/71), filled on each append with
  // the BY values of input's current group.
  void copyByColumns(const InputTable& input);
  // Copies of every column of input (212/69), filled on each append from
  // input's current record (missing when it has none). Columns whose names
  // are in except (case-blind) are left out.
  void copyAllColumns(const InputTable& input,
                      const std::vector<std::string>& except = {});
  // Ends the declarations and writes the header line.
  void columnsDone();
  const std::vector<Column>& columns() const { return columns_; }

  // Appends a row. values[i] (and texts[i] for character columns) belong
  // to the i-th declared column; texts are blank padded to the column's
  // width, not NUL terminated; texts may be null when no declared column
  // is character. Copied columns are filled from their input. Calls
  // columnsDone() first when it was not called. TableError on a write
  // failure (disk full).
  void appendRow(const double* values, const char* const* texts);
  int64_t rowCount() const { return nRows_; }

  // A table of a database library: the quoted name of the table its rows
  // go into until commit() (empty for a file), and a statement of our own
  // that adds rows to it (an insert ... select) run inside the table's
  // transaction, its rows counted with the table's. TableError when the
  // database refuses it.
  std::string databaseWorkTable() const;
  int64_t executeInDatabase(std::string_view sql);

  // Flushes and renames the file and its metadata into place, holding the
  // table's pair lock; the metadata records the CSV file's size and hash,
  // so that a reader refuses a pair that does not belong together.
  // TableError when that fails (the temporary files are then removed).
  void commit();
  // A database table: everything commit() does but the database's own
  // commit (the old table dropped, the new one renamed, its catalogue
  // rows), so that a step's outputs are all ready before any is put in
  // place. Nothing for a file. TableError when that fails (then aborted).
  void prepareCommit();
  // Removes the temporary file; the table of that name, if any, stays.
  void abort();
  bool committed() const { return committed_; }

 private:
  struct Source {
    const InputTable* input = nullptr;  // null: a declared column
    int column = -1;                    // declared index, or input column
    bool byValue = false;               // from input's group BY values
  };
  void appendDatabaseRow(const double* values, const char* const* texts);
  void writeCell(const Column& column, const Source& source, const double* values,
                 const char* const* texts);
  TableRef ref_;
  DataSetOptions options_;
  std::string type_;
  std::string label_;
  std::vector<Column> columns_;
  std::vector<Source> sources_;
  int leadingCopy_ = 0;  // output columns 0.. that are input columns 0.. in order
  int nDeclared_ = 0;
  bool done_ = false;
  bool committed_ = false;
  bool aborted_ = false;
  int fd_ = -1;
  std::filesystem::path tempFile_;
  // Where the CSV file and its metadata file go: ref_'s, or the files
  // their symbolic links name (detail::linkedFile).
  std::filesystem::path file_, metadataFile_;
  std::string buffer_;
  int64_t nRows_ = 0;
  std::unique_ptr<detail::FileWriter> writer_;  // of the CSV file
  std::unique_ptr<detail::DbWriter> db_;  // a table in a database
};

}  // namespace zul::table
