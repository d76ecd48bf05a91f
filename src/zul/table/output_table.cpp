// zul/table/output_table.cpp -- output tables written as streams to a
// temporary file beside the target and renamed into place on commit.
//
// rename(2) within one directory replaces the target atomically, so a
// reader (or a later step) sees either the earlier table or the complete
// new one, never a part; the metadata file follows the same way. Two
// files cannot change in one rename: the pair lock keeps concurrent
// commits apart, and the size and hash recorded in the metadata let a
// reader refuse a CSV file that a failure left beside another's metadata. An input
// that is being read while its name is rewritten keeps reading the old
// file, which stays mapped until it is closed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "zul/table/csv.hpp"
#include "zul/table/db_dates.hpp"
#include "zul/table/db_writer.hpp"
#include "zul/table/file_writer.hpp"
#include "zul/table/metadata.hpp"
#include "zul/table/replaced_file.hpp"
#include "zul/table/stat_file.hpp"
#include "zul/table/table.hpp"
#include "zul/table/temporary_files.hpp"

namespace zul::table {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxWidth = 32767;

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return std::string(s);
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// RFC 4180 field: quoted when it holds a delimiter, a quote or a line
// break; a lone "." is quoted too, since unquoted it would read back as
// missing.
void appendText(std::string& out, std::string_view s) {
  bool quote = s == ".";
  for (char c : s)
    if (c == ',' || c == '"' || c == '\n' || c == '\r') {
      quote = true;
      break;
    }
  if (!quote) {
    out.append(s);
    return;
  }
  out.push_back('"');
  for (char c : s) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

// A path that exists as a directory cannot take a table's file.
void refuseDirectory(const fs::path& file, const std::string& table) {
  std::error_code ec;
  if (fs::is_directory(file, ec))
    throw TableError("Table " + table + " cannot be written: " + file.string() +
                     " is a directory.");
}

bool inSystemTree(const fs::path& dir) {
  const std::string d = dir.string();
  return d == "/dev" || d.rfind("/dev/", 0) == 0 || d == "/proc" || d.rfind("/proc/", 0) == 0;
}

// A path that is, or leads by links to, a device, a pipe or a descriptor
// of this process (/dev/stdout, /dev/fd/1, /proc/self/fd/1) cannot take a
// table: the commit renames a new file over the name, which replaced the
// file the shell opened for zul, or, run as root, the system's /dev/stdout
// itself. A new file in /dev or /proc is refused as well.
void refuseSpecialFile(const fs::path& file, const std::string& table) {
  std::error_code ec;
  fs::path p = fs::absolute(file, ec);
  for (int hop = 0; hop < 40 && !ec; ++hop) {
    struct stat st {};
    const bool exists = ::lstat(p.c_str(), &st) == 0;
    if (inSystemTree(fs::weakly_canonical(p.parent_path(), ec)) ||
        (exists && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)))
      throw TableError("Table " + table + " cannot be written to " + file.string() +
                       ": it is no plain file but a device, a pipe or a link to one (such as "
                       "/dev/stdout), which the table would replace. Name a file in a directory.");
    if (!exists || !S_ISLNK(st.st_mode)) return;
    const fs::path next = fs::read_symlink(p, ec);
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
}

// The mode a plain creat() would have given: 0666 less the umask.
mode_t fileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

OutputTable::OutputTable(TableRef ref, const DataSetOptions& options)
    : ref_(std::move(ref)), options_(options) {
  if (options_.type) type_ = detail::upper(trimmed(*options_.type));
  if (options_.label) label_ = *options_.label;
  if (ref_.database) {
    db_ = std::make_unique<detail::DbWriter>(ref_);
    return;
  }
  if (const char* kind = detail::statFileKind(ref_.file))
    throw TableError("Table " + displayName() + " is " + detail::withArticle(kind) +
                     " data file, which zul reads but does not write; write the output to a "
                     "CSV table.");
  fs::path dir = ref_.file.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  if (!fs::is_directory(dir, ec))
    throw TableError("Table " + displayName() + " cannot be created: the directory " +
                     dir.string() + " does not exist.");
  refuseDirectory(ref_.file, displayName());
  refuseDirectory(ref_.metadataFile(), displayName());
  refuseSpecialFile(ref_.file, displayName());
  refuseSpecialFile(ref_.metadataFile(), displayName());
  file_ = linkedFile(ref_.file);
  metadataFile_ = linkedFile(ref_.metadataFile());
  for (const fs::path& file : {ref_.file, ref_.metadataFile()})
    if (linkedFile(file).empty())
      throw TableError("Table " + displayName() + " cannot be written to " + file.string() +
                       ": it is a symbolic link that leads round in a loop. Point the link at "
                       "a file, or write the table under another name.");
  for (const fs::path& file : {file_, metadataFile_})
    if (isWriteProtected(file))
      throw TableError("Table " + displayName() + " cannot replace " + file.string() +
                       ": the file is write-protected. Make it writable (chmod u+w) or write "
                       "the table under another name.");
  fd_ = makeTemporaryBeside(file_, tempFile_);
  if (fd_ < 0)
    throw TableError("Table " + displayName() + " cannot be created in " +
                     (file_ == ref_.file ? dir : file_.parent_path()).string() + ": " +
                     std::strerror(errno) + ".");
  writer_ = std::make_unique<detail::FileWriter>(fd_, displayName());
  buffer_.reserve(detail::fileWriterTuning().bufferBytes + 4096);
}

OutputTable::~OutputTable() {
  try {
    abort();
  } catch (...) {
  }
}

void OutputTable::setType(std::string_view type) {
  if (!options_.type) type_ = detail::upper(trimmed(type));
}

void OutputTable::setLabel(std::string_view label) {
  if (!options_.label) label_ = std::string(label);
}

namespace {
void checkNewName(const std::vector<Column>& columns, const std::string& name,
                  const std::string& table) {
  if (name.empty()) throw TableError("A column of table " + table + " needs a name.");
  for (const auto& c : columns)
    if (sameName(c.name, name))
      throw TableError("Table " + table + " already has a column named " + c.name + ".");
}
}  // namespace

int OutputTable::declareColumn(const Column& column) {
  if (done_) throw TableError("The columns of table " + displayName() + " are already complete.");
  checkNewName(columns_, column.name, displayName());
  Column c = column;
  if (c.isCharacter()) {
    if (c.width < 1 || c.width > kMaxWidth)
      throw TableError("Column " + c.name + " of table " + displayName() +
                       " needs a width from 1 to 32767.");
  } else {
    c.width = 8;
  }
  columns_.push_back(std::move(c));
  sources_.push_back({nullptr, nDeclared_, false});
  return nDeclared_++;
}

void OutputTable::copyByColumns(const InputTable& input) {
  if (done_) throw TableError("The columns of table " + displayName() + " are already complete.");
  const auto& by = input.byColumns();
  for (size_t k = 0; k < by.size(); ++k) {
    const Column& c = input.columns()[static_cast<size_t>(by[k])];
    checkNewName(columns_, c.name, displayName());
    columns_.push_back(c);
    sources_.push_back({&input, static_cast<int>(k), true});
  }
}

void OutputTable::copyAllColumns(const InputTable& input, const std::vector<std::string>& except) {
  if (done_) throw TableError("The columns of table " + displayName() + " are already complete.");
  for (size_t i = 0; i < input.columns().size(); ++i) {
    const Column& c = input.columns()[i];
    bool skip = false;
    for (const auto& e : except) skip = skip || sameName(e, c.name);
    if (skip) continue;
    checkNewName(columns_, c.name, displayName());
    columns_.push_back(c);
    sources_.push_back({&input, static_cast<int>(i), false});
  }
}

void OutputTable::columnsDone() {
  if (done_) return;
  done_ = true;
  if (db_) {
    db_->create(columns_);
    return;
  }
  // A leading run of copied columns in the input's own order can be
  // written as one piece of the input line.
  while (static_cast<size_t>(leadingCopy_) < sources_.size()) {
    const Source& s = sources_[static_cast<size_t>(leadingCopy_)];
    if (!s.input || s.byValue || s.column != leadingCopy_ || s.input != sources_[0].input) break;
    ++leadingCopy_;
  }
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i) buffer_.push_back(',');
    appendText(buffer_, columns_[i].name);
  }
  buffer_.append("\r\n");
}

void OutputTable::writeCell(const Column& column, const Source& source, const double* values,
                            const char* const* texts) {
  if (!source.input) {
    if (column.isCharacter()) {
      const char* t = texts ? texts[source.column] : nullptr;
      if (t) appendText(buffer_, trimRight(std::string_view(t, static_cast<size_t>(column.width))));
    } else if (values) {
      appendNumberText(buffer_, values[source.column]);
    }
    return;
  }
  if (source.byValue) {
    if (column.isCharacter()) appendText(buffer_, source.input->byText(source.column));
    else appendNumberText(buffer_, source.input->byNumber(source.column));
    return;
  }
  if (column.isCharacter()) {
    appendText(buffer_, trimRight(source.input->text(source.column)));
    return;
  }
  std::string_view plain = source.input->plainNumberText(source.column);
  if (!plain.empty()) buffer_.append(plain);
  else appendNumberText(buffer_, source.input->number(source.column));
}

void OutputTable::appendRow(const double* values, const char* const* texts) {
  if (committed_ || aborted_)
    throw TableError("Table " + displayName() + " is closed; no row can be added.");
  if (!done_) columnsDone();
  if (db_) {
    appendDatabaseRow(values, texts);
    ++nRows_;
    return;
  }
  size_t first = 0;
  if (leadingCopy_ > 0 && sources_[0].input->appendWrittenFields(leadingCopy_, buffer_))
    first = static_cast<size_t>(leadingCopy_);
  for (size_t i = first; i < columns_.size(); ++i) {
    if (i) buffer_.push_back(',');
    writeCell(columns_[i], sources_[i], values, texts);
  }
  buffer_.append("\r\n");
  ++nRows_;
  if (buffer_.size() >= detail::fileWriterTuning().bufferBytes) writer_->write(buffer_);
}

namespace {

db::ColumnKind temporalKind(Temporal t) {
  switch (t) {
    case Temporal::Date: return db::ColumnKind::Date;
    case Temporal::Time: return db::ColumnKind::Time;
    default: return db::ColumnKind::Timestamp;
  }
}

// A number as a database value: missing is NULL, a date or time its ISO
// text.
db::Value numberValue(const Column& c, double x) {
  if (isMissing(x)) return db::Value::null();
  if (c.temporal == Temporal::None) return db::Value::of(x);
  return db::Value::of(db::formatTemporal(temporalKind(c.temporal), x));
}

}  // namespace

// The values of a row, from the same sources as the cells of a CSV line.
void OutputTable::appendDatabaseRow(const double* values, const char* const* texts) {
  std::vector<db::Value> row(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    const Source& s = sources_[i];
    if (!s.input) {
      const char* t = texts ? texts[s.column] : nullptr;
      if (c.isCharacter())
        row[i] = t ? db::Value::of(trimRight(std::string_view(t, static_cast<size_t>(c.width))))
                   : db::Value::null();
      else row[i] = values ? numberValue(c, values[s.column]) : db::Value::null();
    } else if (s.byValue) {
      row[i] = c.isCharacter() ? db::Value::of(s.input->byText(s.column))
                               : numberValue(c, s.input->byNumber(s.column));
    } else {
      row[i] = c.isCharacter() ? db::Value::of(trimRight(s.input->text(s.column)))
                               : numberValue(c, s.input->number(s.column));
    }
  }
  db_->row(row);
}

std::string OutputTable::databaseWorkTable() const {
  return db_ ? db_->workReference() : std::string();
}

int64_t OutputTable::executeInDatabase(std::string_view sql) {
  if (!db_) throw TableError("Table " + displayName() + " is not in a database.");
  if (committed_ || aborted_)
    throw TableError("Table " + displayName() + " is closed; no row can be added.");
  if (!done_) columnsDone();
  const int64_t added = db_->connection().execute(sql);
  nRows_ += added;
  return added;
}

void OutputTable::prepareCommit() {
  if (!db_ || committed_ || aborted_) return;
  try {
    if (!done_) columnsDone();
    db_->prepare(type_, label_, columns_);
  } catch (...) {
    abort();
    throw;
  }
}

void OutputTable::commit() {
  if (committed_) return;
  if (aborted_) throw TableError("Table " + displayName() + " was abandoned and cannot be saved.");
  if (db_) {
    try {
      if (!done_) columnsDone();
      db_->commit(type_, label_, columns_);
      committed_ = true;
    } catch (...) {
      abort();
      throw;
    }
    return;
  }
  fs::path metaTemp;
  int metaFd = -1;
  detail::ReplacedFile replaced;  // the table this one replaces, when large
  try {
    if (!done_) columnsDone();
    writer_->finish(buffer_);
    const mode_t mode = fileMode();
    if (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0)
      throw TableError("Table " + displayName() + " cannot be saved: " + std::strerror(errno) + ".");
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
      throw TableError("Table " + displayName() + " cannot be saved: " + std::strerror(errno) + ".");

    metaFd = makeTemporaryBeside(metadataFile_, metaTemp);
    if (metaFd < 0)
      throw TableError("The metadata of table " + displayName() + " cannot be written: " +
                       std::strerror(errno) + ".");
    std::string text = detail::metadataText(ref_.file.filename().string(), type_, label_, columns_,
                                            writer_->bytes(), writer_->hash().text());
    detail::writeAll(metaFd, text.data(), text.size(), displayName());
    if (::fchmod(metaFd, mode) != 0 || ::fsync(metaFd) != 0)
      throw TableError("The metadata of table " + displayName() + " cannot be written: " +
                       std::strerror(errno) + ".");
    fd = metaFd;
    metaFd = -1;
    if (::close(fd) != 0)
      throw TableError("The metadata of table " + displayName() + " cannot be written: " +
                       std::strerror(errno) + ".");

    {
      // Another run committing this table waits here, so the pair left in
      // place is one run's; a reader waits too.
      detail::PairLock lock(ref_.file, true);
      replaced.keep(file_);
      if (::rename(tempFile_.c_str(), file_.c_str()) != 0)
        throw TableError("Table " + displayName() + " cannot be saved as " + file_.string() +
                         ": " + std::strerror(errno) + ".");
      forgetTemporaryFile(tempFile_);
      tempFile_.clear();
      detail::faultBetweenRenames();
      if (::rename(metaTemp.c_str(), metadataFile_.c_str()) != 0)
        throw TableError("The metadata of table " + displayName() + " cannot be saved as " +
                         metadataFile_.string() + ": " + std::strerror(errno) + ".");
      forgetTemporaryFile(metaTemp);
      committed_ = true;
    }
    // After the lock: other commits and readers need not wait while the
    // process that frees the old file starts.
    replaced.freeAside();
  } catch (...) {
    if (metaFd >= 0) ::close(metaFd);
    if (!metaTemp.empty()) {
      ::unlink(metaTemp.c_str());
      forgetTemporaryFile(metaTemp);
    }
    abort();
    throw;
  }
}

void OutputTable::abort() {
  if (committed_ || aborted_) return;
  aborted_ = true;
  if (db_) {
    db_->abort();
    return;
  }
  writer_.reset();  // its thread stops before the file is closed
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempFile_.empty()) {
    ::unlink(tempFile_.c_str());
    forgetTemporaryFile(tempFile_);
  }
  tempFile_.clear();
  buffer_.clear();
}

}  // namespace zul::table
