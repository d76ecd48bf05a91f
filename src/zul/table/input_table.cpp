// zul/table/input_table.cpp -- opening an input table (header, metadata,
// column types) and what InputTable tells about it and its current record.
// The cursor is in input_cursor.hpp, the type pass in type_scan.cpp, read
// lists in read_list.cpp and the BY synchronisation of a second table in
// by_sync.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "zul/table/db_cursor.hpp"
#include "zul/table/input_cursor.hpp"
#include "zul/table/metadata.hpp"
#include "zul/table/stat_file.hpp"
#include "zul/table/temporary_files.hpp"
#include "zul/table/type_scan.hpp"
#include "zul/table/written_fields.hpp"

namespace zul::table {

using detail::Row;
using detail::RowStatus;

namespace {

constexpr size_t kMaxNameLength = 32;  // bytes of a variable name

// How long a name is that exceeds kMaxNameLength bytes, in words that fit a
// name of accented letters too ("40 bytes long (20 characters)").
std::string tooLongName(const std::string& name) {
  size_t chars = 0;
  for (unsigned char c : name) chars += (c & 0xC0) != 0x80;
  const std::string limit = "; a variable name has at most " + std::to_string(kMaxNameLength);
  if (chars == name.size()) return std::to_string(chars) + " characters long" + limit;
  return std::to_string(name.size()) + " bytes long (" + std::to_string(chars) +
         " characters, some of several bytes)" + limit + " bytes";
}

// The first characters of a long name, not cut inside one of several bytes.
std::string nameStart(const std::string& name) {
  size_t n = std::min<size_t>(name.size(), 40);
  while (n > 0 && n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  return name.substr(0, n);
}

// Reads the header line of the table open in im (after a UTF-8 byte order
// mark) and sets the column count and where the data start.
Row readHeader(InputTable::Impl& im) {
  size_t start = 0;
  const char* data = im.file.data();
  if (im.file.size() >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) start = 3;
  Row header;
  RowStatus st = detail::readRow(data, im.file.size(), start, 1, true, header);
  if (st == RowStatus::End)
    throw TableError("Table " + im.name + " is empty: its first line must hold the column names.");
  header.fields.resize(static_cast<size_t>(header.nFields));
  st = detail::readRow(data, im.file.size(), start, 1, true, header);
  if (st == RowStatus::Unterminated)
    throw TableError("Table " + im.name + ": the quoted field that starts on line " +
                     std::to_string(header.line) + " is never closed.");
  im.nCols = header.nFields;
  im.skipBlank = im.nCols > 1;
  im.dataStart = header.end;
  im.dataLine = header.nextLine;
  for (auto& r : im.rows) r.fields.resize(static_cast<size_t>(im.nCols));
  return header;
}

// A header of one column that holds semicolons or tabs belongs to a file
// separated by them: read as CSV it would be one column of text.
void refuseOtherSeparator(const Row& header, const std::string& table) {
  if (header.nFields != 1) return;
  const std::string_view name = header.text(0);
  const char* what = name.find(';') != std::string_view::npos    ? "semicolons"
                     : name.find('\t') != std::string_view::npos ? "tabs"
                                                                  : nullptr;
  if (!what) return;
  throw TableError("Table " + table + ": the header has 1 column; zul reads comma-separated " +
                   "files, and this header is separated by " + what +
                   ". Save the table with commas between the fields.");
}

// The columns named by the header: blanks around a name are cut, a column
// without a name is called VARn (with a note), and a name that is too long
// or given twice is refused.
std::vector<Column> namedColumns(const Row& header, const std::string& table,
                                 std::vector<std::string>& notes) {
  refuseOtherSeparator(header, table);
  std::vector<Column> columns(static_cast<size_t>(header.nFields));
  std::vector<bool> unnamed(columns.size());
  for (int c = 0; c < header.nFields; ++c) {
    std::string nm(header.text(c));
    while (!nm.empty() && (nm.back() == ' ' || nm.back() == '\t')) nm.pop_back();
    while (!nm.empty() && (nm.front() == ' ' || nm.front() == '\t')) nm.erase(0, 1);
    if (nm.empty()) {
      nm = "VAR" + std::to_string(c + 1);
      unnamed[static_cast<size_t>(c)] = true;
      notes.push_back("Column " + std::to_string(c + 1) + " of table " + table +
                      " has no name; it is called " + nm + ".");
    }
    // Names longer than a variable name may be would be cut by the
    // procedure, and two cut names could then be taken for one another.
    if (nm.size() > kMaxNameLength)
      throw TableError("Table " + table + ": the name of column " + std::to_string(c + 1) +
                       " (" + nameStart(nm) + "...) is " + tooLongName(nm) +
                       ". Shorten it in the header (line 1).");
    for (int d = 0; d < c; ++d) {
      if (!sameName(columns[static_cast<size_t>(d)].name, nm)) continue;
      // A name given to a column without one is not in the header.
      const int named = unnamed[static_cast<size_t>(c)] ? d : c;
      const int other = named == c ? d : c;
      if (unnamed[static_cast<size_t>(c)] || unnamed[static_cast<size_t>(d)])
        throw TableError("Table " + table + ": column " + std::to_string(other + 1) +
                         " has no name, and VAR" + std::to_string(other + 1) +
                         ", the name it would be given, is that of column " +
                         std::to_string(named + 1) + ". Name the column in the header (line 1).");
      throw TableError("Table " + table + ": the column name " + nm +
                       " appears twice in the header (names are compared without regard "
                       "to case).");
    }
    columns[static_cast<size_t>(c)].name = std::move(nm);
  }
  return columns;
}

// Which columns have their type, and their width, from the metadata file.
struct KnownColumns {
  std::vector<bool> type, width;
  bool all() const {
    for (size_t c = 0; c < type.size(); ++c)
      if (!type[c] || !width[c]) return false;
    return true;
  }
};

// Labels, formats, types and widths of the columns from the metadata file,
// when its columns match the header (a note otherwise).
KnownColumns applySchema(const detail::Metadata& meta, std::vector<Column>& columns,
                         const std::string& table, std::vector<std::string>& notes) {
  const int nCols = static_cast<int>(columns.size());
  KnownColumns known{std::vector<bool>(columns.size(), false),
                     std::vector<bool>(columns.size(), false)};
  if (!meta.hasSchema) return known;
  bool match = static_cast<int>(meta.columns.size()) == nCols;
  // A name that is not UTF-8 is in the metadata file as it was written.
  for (int c = 0; match && c < nCols; ++c) {
    const std::string& declared = meta.columns[static_cast<size_t>(c)].column.name;
    const std::string& name = columns[static_cast<size_t>(c)].name;
    match = sameName(declared, name) || sameName(declared, detail::asJsonText(name));
  }
  if (!match) {
    notes.push_back("The columns in the metadata file of table " + table +
                    " do not match its header; column types were taken from the data.");
    return known;
  }
  for (int c = 0; c < nCols; ++c) {
    const auto& mc = meta.columns[static_cast<size_t>(c)];
    Column& col = columns[static_cast<size_t>(c)];
    col.label = mc.column.label;
    col.format = mc.column.format;
    if (mc.typeKnown) {
      col.type = mc.column.type;
      col.width = mc.column.width;
      known.type[static_cast<size_t>(c)] = true;
      known.width[static_cast<size_t>(c)] = !col.isCharacter() || mc.widthKnown;
    }
  }
  return known;
}

// zul takes only empty fields and "." as missing: other texts a metadata
// file declares missing ("null": ["NA"]) would be read as values, a number
// such as -99 even into the analysis, so the user is told.
void warnOfOtherNulls(const detail::Metadata& meta, const std::filesystem::path& file,
                      const std::string& table, std::vector<std::string>& warnings) {
  for (const std::string& text : meta.nulls) {
    if (text.empty() || text == ".") continue;
    warnings.push_back("The metadata file of table " + table + " (" + file.string() +
                       ") declares \"" + text.substr(0, 40) +
                       "\" missing (\"null\"), but zul takes only empty fields and \".\" as "
                       "missing, so fields holding it are read as they are. Replace them in " +
                       "the table by empty fields.");
  }
}

}  // namespace

InputTable::InputTable(TableRef ref, const DataSetOptions& options)
    : ref_(std::move(ref)), impl_(std::make_unique<Impl>()) {
  Impl& im = *impl_;
  im.name = ref_.displayName();
  if (ref_.database) {
    openDatabase(options);
    return;
  }
  if (const char* kind = detail::statFileKind(ref_.file)) {
    openStatFile(kind);
    applyOptions(options);
    return;
  }
  std::optional<detail::Metadata> meta;
  {
    detail::PairLock lock(ref_.file, false);  // no commit between the two
    im.file.open(ref_.file.string(), im.name);
    meta = detail::readMetadata(ref_.metadataFile(), im.name);
  }
  if (meta) detail::checkPairMatches(*meta, im.file.data(), im.file.size(), ref_);
  columns_ = namedColumns(readHeader(im), im.name, notes_);

  // Attributes and column types from the metadata file, when it matches.
  KnownColumns known{std::vector<bool>(columns_.size(), false),
                     std::vector<bool>(columns_.size(), false)};
  if (meta) {
    type_ = meta->type;
    label_ = meta->label;
    known = applySchema(*meta, columns_, im.name, notes_);
    warnOfOtherNulls(*meta, ref_.metadataFile(), im.name, warnings_);
  }
  applyOptions(options);
  // Types declared by hand are checked against the data; those zul wrote
  // with this very file (checkPairMatches) are right.
  const bool byHand = meta && meta->writtenByHand();
  if (!known.all() || byHand)
    takeScannedTypes(known.type, known.width, byHand ? ref_.metadataFile().string() : "");
}

void InputTable::applyOptions(const DataSetOptions& options) {
  if (options.type) {
    std::string t(*options.type);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    type_ = detail::upper(t);
  }
  if (options.label) label_ = *options.label;
}

namespace {

// A private file, recorded so that an interrupt removes it and named after
// this process, so that a later run removes it if this one is killed; -1
// with errno set on failure.
int makePrivateTemporary(std::string& made) {
  std::filesystem::path path;
  const int fd = makePrivateScratch("stat.csv", path);
  made = path.string();
  return fd;
}

}  // namespace

// An SPSS or Stata file: its rows streamed into a private CSV file, which is
// mapped and removed at once (the mapping keeps the data until the table is
// closed), then read like any CSV table whose column types are known.
void InputTable::openStatFile(const char* kind) {
  Impl& im = *impl_;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(ref_.file, ec))
    throw TableError("Table " + im.name + ": the " + std::string(kind) + " data file " +
                     ref_.file.string() + " does not exist.");
  std::string temp;
  int fd = makePrivateTemporary(temp);
  if (fd < 0)
    throw TableError("Table " + im.name + " cannot be read: no temporary file could be made (" +
                     std::strerror(errno) + ").");
  auto removeTemp = [&]() {
    ::close(fd);
    std::filesystem::remove(temp, ec);
    forgetTemporaryFile(temp);
  };
  detail::StatFile stat;
  try {
    stat = detail::convertStatFile(ref_.file, im.name, fd);
    im.file.open(temp, im.name);
  } catch (...) {
    removeTemp();
    throw;
  }
  removeTemp();
  readHeader(im);
  // SPSS names may have 64 bytes: longer than 32 they could not be told
  // apart once cut to a variable name.
  for (const Column& col : stat.columns)
    if (col.name.size() > kMaxNameLength)
      throw TableError("Table " + im.name + ": the variable name " + col.name + " is " +
                       tooLongName(col.name) + ". Rename it in the file.");
  // Stata tells x1 from X1; zul does not, and would take either for the other.
  for (size_t c = 0; c < stat.columns.size(); ++c)
    for (size_t d = 0; d < c; ++d)
      if (sameName(stat.columns[d].name, stat.columns[c].name))
        throw TableError("Table " + im.name + ": the variables " + stat.columns[d].name + " and " +
                         stat.columns[c].name + " have the same name to zul, which compares names "
                         "without regard to case. Rename one of them in the file.");
  columns_ = std::move(stat.columns);
  label_ = stat.label;
  notes_.insert(notes_.end(), stat.notes.begin(), stat.notes.end());
  std::vector<bool> typeKnown(columns_.size(), true), widthKnown(columns_.size());
  for (size_t c = 0; c < columns_.size(); ++c)
    widthKnown[c] = !columns_[c].isCharacter() || columns_[c].width > 0;
  // The type pass counts the rows and finds the columns that hold values.
  takeScannedTypes(typeKnown, widthKnown);
}

// A table of a database library: the columns from its catalogue, their
// widths and the row count from one aggregate query, TYPE and labels from
// the catalogue table.
void InputTable::openDatabase(const DataSetOptions& options) {
  if (!ref_.database->findTable(ref_.dbTable))
    throw TableError("Table " + displayName() + " does not exist in the " +
                     ref_.database->describe() + ".");
  db_ = std::make_unique<detail::DbCursor>(ref_.database, ref_.dbTable, displayName());
  db_->scan();
  if (const std::string problem = db_->readCatalogue(type_, label_); !problem.empty())
    notes_.push_back("The TYPE, labels and formats of " + displayName() + " are not known: the " +
                     ref_.database->describe() + " " + problem + ".");
  columns_ = db_->columns;
  if (db_->rows >= 0) rowCount_ = db_->rows;
  valued_.assign(db_->valued.begin(), db_->valued.end());
  if (options.type) {
    std::string t(*options.type);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    type_ = detail::upper(t);
  }
  if (options.label) label_ = *options.label;
}

void InputTable::setFormat(int col, std::string format) {
  if (db_) db_->columns[static_cast<size_t>(col)].format = format;
  columns_[static_cast<size_t>(col)].format = std::move(format);
}

void InputTable::release() {
  if (db_) db_->release();
}

// Types and widths the metadata did not give come from the type pass. A
// column that declaredBy (a metadata file written by hand) says is numeric
// but that holds text is read as declared, its text as missing, with a
// warning: without one, an OUT= copy would lose that text unseen.
void InputTable::takeScannedTypes(const std::vector<bool>& typeKnown,
                                  const std::vector<bool>& widthKnown,
                                  const std::string& declaredBy) {
  Impl& im = *impl_;
  const detail::ScanResult res = detail::columnTypes(im, ref_.file);
  rowCount_ = res.rows;
  valued_ = res.valued;
  for (int c = 0; c < im.nCols; ++c) {
    Column& col = columns_[static_cast<size_t>(c)];
    const NonNumeric& text = res.text[static_cast<size_t>(c)];
    if (!declaredBy.empty() && typeKnown[static_cast<size_t>(c)] && !col.isCharacter() &&
        text.count > 0)
      warnings_.push_back(
          "Table " + im.name + ": its metadata file " + declaredBy + " declares column " +
          col.name + " numeric, but " + std::to_string(text.count) +
          (text.count == 1 ? " value is not a number" : " values are not numbers") +
          " (the first, \"" + text.firstText + "\", on line " + std::to_string(text.firstLine) +
          "); they are read as missing, and written so to OUT=. Correct the values, or give the "
          "column the datatype \"string\" in the metadata file.");
    if (!typeKnown[static_cast<size_t>(c)]) {
      col.type = res.types[static_cast<size_t>(c)];
      if (col.isCharacter() && res.nonNumeric[static_cast<size_t>(c)].count > 0)
        nonNumeric_[c] = res.nonNumeric[static_cast<size_t>(c)];
    }
    // Character columns without a declared width are as wide as their
    // longest value.
    if (!widthKnown[static_cast<size_t>(c)])
      col.width = col.isCharacter() ? std::max(1, res.maxLengths[static_cast<size_t>(c)]) : 8;
  }
}

InputTable::~InputTable() = default;

std::string InputTable::type8() const {
  std::string t = type_.substr(0, 8);
  t.resize(8, ' ');
  return t;
}

const NonNumeric* InputTable::nonNumeric(int col) const {
  auto it = nonNumeric_.find(col);
  return it == nonNumeric_.end() ? nullptr : &it->second;
}

bool InputTable::hasValues(int col) const {
  return col < 0 || static_cast<size_t>(col) >= valued_.size() || valued_[static_cast<size_t>(col)];
}

int InputTable::varNumber(std::string_view name) const {
  for (size_t c = 0; c < columns_.size(); ++c)
    if (sameName(columns_[c].name, name)) return static_cast<int>(c) + 1;
  return 0;
}

void InputTable::setBy(const BySpec& by) {
  Impl& im = *impl_;
  std::vector<int> cols;
  for (const auto& v : by.variables) {
    int n = varNumber(v.name);
    if (n == 0)
      throw TableError("The BY variable " + v.name + " is not in table " + displayName() + ".");
    cols.push_back(n - 1);
  }
  by_ = by;
  byColumns_ = cols;
  detail::ByKeys keys;
  keys.cols = cols;
  for (size_t k = 0; k < cols.size(); ++k) {
    const Column& c = columns_[static_cast<size_t>(cols[k])];
    keys.desc.push_back(by.variables[k].descending);
    keys.isChar.push_back(c.isCharacter());
    keys.names.push_back(c.name);
    keys.formats.push_back(sqlgen::parsePutFormat(c.format));
    // A format kept with the table (a metadata file or a catalogue edited
    // by hand) may not fit the column; the FORMAT statement checks its own.
    if (keys.formats.back() && keys.formats.back()->character != c.isCharacter())
      throw TableError("Table " + displayName() + ": the " +
                       (c.isCharacter() ? "character" : "numeric") + " BY variable " + c.name +
                       " has the display format " + c.format + ", which is for " +
                       (c.isCharacter() ? "numbers" : "character values") +
                       "; give it another with a FORMAT statement.");
  }
  keys.notSorted = by.notSorted;
  keys.num.assign(cols.size(), missingValue());
  keys.numKey.assign(cols.size(), missingValue());
  keys.text.assign(cols.size(), std::string());
  im.by = keys;
  im.orderChecked = false;
  im.rewindTable();
  if (db_) db_->setBy(keys);
}

int InputTable::nextByGroup() { return db_ ? db_->nextByGroup() : impl_->nextByGroup(); }
bool InputTable::nextRecord() {
  if (db_) return db_->nextRecord();
  impl_->stopAhead();
  return impl_->nextRecord();
}
void InputTable::rewindGroup() {
  if (db_) db_->rewindGroup();
  else impl_->rewindGroup();
}
void InputTable::rewindTable() {
  if (db_) db_->rewindTable();
  else impl_->rewindTable();
}

std::string InputTable::byDescription() const {
  if (db_) return db_->state == detail::DbCursor::State::NotStarted ? "" : db_->describeKey();
  if (impl_->state == Impl::State::NotStarted) return {};
  return impl_->describeKey();
}

double InputTable::byNumber(int k) const {
  const std::vector<double>& keys = db_ ? db_->by.num : impl_->by.num;
  if (k < 0 || k >= static_cast<int>(keys.size()) || impl_->by.isChar[static_cast<size_t>(k)])
    return missingValue();
  return keys[static_cast<size_t>(k)];
}

std::string_view InputTable::byText(int k) const {
  const std::vector<std::string>& keys = db_ ? db_->by.text : impl_->by.text;
  if (k < 0 || k >= static_cast<int>(keys.size())) return {};
  return keys[static_cast<size_t>(k)];
}

void InputTable::takeGroupOf(const InputTable& groups) {
  detail::ByKeys& mine = db_ ? db_->by : impl_->by;
  const detail::ByKeys& theirs = groups.db_ ? groups.db_->by : groups.impl_->by;
  if (!std::equal(mine.names.begin(), mine.names.end(), theirs.names.begin(), theirs.names.end(),
                  [](const std::string& a, const std::string& b) { return sameName(a, b); }))
    return;
  mine.num = theirs.num;
  mine.text = theirs.text;
  mine.numKey = theirs.numKey;
}

bool InputTable::hasRecord() const { return db_ ? db_->hasRecord : impl_->hasRecord; }

int64_t InputTable::recordLine() const {
  if (db_) return db_->hasRecord ? db_->recordNumber : 0;
  impl_->materialize();
  return impl_->hasRecord ? impl_->rows[impl_->cur].line : 0;
}

double InputTable::number(int col) const {
  if (db_) return db_->hasRecord && col >= 0 && col < varCount() ? db_->number(col) : missingValue();
  if (!impl_->hasRecord || col < 0 || col >= impl_->nCols) return missingValue();
  impl_->materialize();
  return impl_->fieldNumber(impl_->rows[impl_->cur], col);
}

std::string_view InputTable::text(int col) const {
  if (db_) return db_->hasRecord && col >= 0 && col < varCount() ? db_->text(col) : "";
  if (!impl_->hasRecord || col < 0 || col >= impl_->nCols) return {};
  impl_->materialize();
  const Row& r = impl_->rows[impl_->cur];
  return r.isMissing(col) ? std::string_view() : r.text(col);
}

std::string_view InputTable::plainNumberText(int col) const {
  if (db_) return {};
  if (!impl_->hasRecord || col < 0 || col >= impl_->nCols) return {};
  impl_->materialize();
  const detail::Field& f = impl_->rows[impl_->cur].fields[static_cast<size_t>(col)];
  if (!f.p || f.quoted || f.n == 0) return {};
  if (!detail::isWrittenNumber(f.p, f.n)) return {};
  return {f.p, f.n};
}

// A database table tells its progress in records instead of bytes.
uint64_t InputTable::bytePosition() const {
  return db_ ? static_cast<uint64_t>(db_->recordNumber) : impl_->pos;
}
uint64_t InputTable::byteSize() const {
  return db_ ? static_cast<uint64_t>(std::max<int64_t>(0, db_->rows)) : impl_->file.size();
}
bool InputTable::appendWrittenFields(int n, std::string& out) const {
  if (db_ || !impl_->hasRecord || n < 1 || n > impl_->nCols) return false;
  // A record handed over from rows parsed ahead comes with that text.
  if (impl_->aheadTextFields == n) {
    out.append(impl_->aheadText);
    return true;
  }
  if (impl_->lazy) impl_->wantAheadText(n, columns_);
  impl_->materialize();
  const detail::Row& r = impl_->rows[impl_->cur];
  if (r.anyQuoted) return false;
  return detail::appendWrittenFields(
      r.fields.data(), n,
      [this](int c) {
        return columns_[static_cast<size_t>(c)].isCharacter() ? detail::FieldKind::Text
                                                             : detail::FieldKind::Number;
      },
      out);
}

void InputTable::setThreadedRead(bool on) {
  threadedRead_ = on;
  impl_->threaded = on;
  impl_->cursorMoved();
}

}  // namespace zul::table
