// zul/table/read_list.cpp -- read lists: columns of an input table bound
// to the caller's buffers and read one record at a time (ReadList of
// table.hpp), through the cursor or from rows parsed ahead.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "zul/table/db_cursor.hpp"
#include "zul/table/input_cursor.hpp"

namespace zul::table {

using detail::Row;

ReadList::ReadList(InputTable& table, int slotCount) : table_(&table) {
  if (slotCount < 0) throw TableError("A read list cannot have a negative number of slots.");
  slots_.resize(static_cast<size_t>(slotCount));
}

void ReadList::bind(int slot, int varNumber, bool isCharacter, int width) {
  if (slot < 0 || slot >= slotCount())
    throw TableError("Read list slot " + std::to_string(slot) + " is out of range (0 to " +
                     std::to_string(slotCount() - 1) + ").");
  if (varNumber < 1 || varNumber > table_->varCount())
    throw TableError("Table " + table_->displayName() + " has no variable number " +
                     std::to_string(varNumber) + ".");
  if (isCharacter && width < 1)
    throw TableError("A character slot needs a width of at least 1.");
  Slot& s = slots_[static_cast<size_t>(slot)];
  s.column = varNumber - 1;
  s.isCharacter = isCharacter;
  s.width = isCharacter ? width : 8;
  laidOut_ = false;
}

void ReadList::layout() {
  // A new serial for each layout: chunks parsed ahead for an earlier
  // binding (or an earlier list at this address) are never handed over.
  static std::atomic<uint64_t> serials{0};
  serial_ = ++serials;
  nNumeric_ = 0;
  textBytes_ = 0;
  const size_t nCols = static_cast<size_t>(table_->varCount());
  columnTarget_.assign(nCols, -1);
  fused_ = true;
  for (auto& s : slots_) {
    if (s.column < 0) continue;
    if (s.isCharacter) {
      s.target = textBytes_;
      textBytes_ += s.width;
    } else {
      s.target = nNumeric_++;
      int& t = columnTarget_[static_cast<size_t>(s.column)];
      if (t >= 0) fused_ = false;  // one column in two numeric slots
      t = s.target;
    }
  }
  laidOut_ = true;
}

// Fills one slot from the current record (the general path: quoted
// fields, blanks, exponents, character slots).
void ReadList::convertSlot(const Slot& s, double* values, char* text) {
  const InputTable::Impl& im = *table_->impl_;
  const Row& row = im.rows[im.cur];
  if (s.isCharacter) {
    char* out = text + s.target;
    std::string_view t = row.isMissing(s.column) ? std::string_view() : row.text(s.column);
    size_t n = std::min(t.size(), static_cast<size_t>(s.width));
    if (n) std::memcpy(out, t.data(), n);
    std::memset(out + n, ' ', static_cast<size_t>(s.width) - n);
    return;
  }
  if (row.isMissing(s.column)) {
    values[s.target] = missingValue();
    return;
  }
  std::string_view t = row.text(s.column);
  double d;
  if (detail::convertNumber(t.data(), t.size(), d)) {
    values[s.target] = d;
    return;
  }
  values[s.target] = missingValue();
  const Column& col = table_->columns_[static_cast<size_t>(s.column)];
  if (!col.isCharacter()) refuseOutOfRange(col, row.line, t);
  if (remark_.empty() && !col.isCharacter())
    remark_ = "Table " + table_->displayName() + ", line " + std::to_string(row.line) + ": \"" +
              std::string(t.substr(0, 40)) + "\" in column " + col.name +
              " is not a number; it was read as missing.";
}

bool ReadList::aheadUsable() {
  InputTable::Impl& im = *table_->impl_;
  if (im.threaded && fused_ && textBytes_ == 0 && !im.aheadOff && im.by.empty() &&
      im.state == InputTable::Impl::State::InGroup)
    return true;
  if (im.ahead) im.stopAhead();
  return false;
}

bool ReadList::read(double* values, char* text) {
  if (!laidOut_) layout();
  remark_.clear();
  if (table_->db_) return readDatabase(values, text);
  // In threaded-read mode the numbers of plain rows come parsed ahead.
  if (aheadUsable() && table_->impl_->readAhead(serial_, columnTarget_, nNumeric_, values, 1))
    return true;
  return readCursor(values, text);
}

int ReadList::readRun(double* values, int max) {
  if (max < 1) return 0;
  if (!laidOut_) layout();
  remark_.clear();
  if (table_->db_) return readDatabase(values, nullptr) ? 1 : 0;
  if (aheadUsable()) {
    const int n = table_->impl_->readAhead(serial_, columnTarget_, nNumeric_, values, max);
    if (n > 0) return n;
  }
  return readCursor(values, nullptr) ? 1 : 0;
}

// One record of a table in a database: its values are converted as the
// row is fetched.
bool ReadList::readDatabase(double* values, char* text) {
  detail::DbCursor& db = *table_->db_;
  if (!db.nextRecord()) return false;
  for (const Slot& s : slots_) {
    if (s.column < 0) continue;
    if (!s.isCharacter) {
      values[s.target] = db.number(s.column);
      continue;
    }
    char* out = text + s.target;
    const std::string_view t = db.text(s.column);
    const size_t n = std::min(t.size(), static_cast<size_t>(s.width));
    if (n) std::memcpy(out, t.data(), n);
    std::memset(out + n, ' ', static_cast<size_t>(s.width) - n);
  }
  return true;
}

// One record through the cursor.
bool ReadList::readCursor(double* values, char* text) {
  InputTable::Impl& im = *table_->impl_;
  if (!fused_) {
    if (!im.nextRecord()) return false;
    for (const Slot& s : slots_)
      if (s.column >= 0) convertSlot(s, values, text);
    return true;
  }
  // Numbers of numeric slots are converted while the row is read; quoted
  // fields and character slots are done from the stored fields after it.
  const int* target = columnTarget_.data();
  bool ok = im.nextRecordWith([&](size_t c, const char*& q, const char* end, detail::Field& f) {
    const int t = target[c];
    if (t < 0) return false;
    const char* s = q;
    if (!detail::parseSimpleNumber(q, end, values[t])) {
      q = detail::scanPlain(q, end);
      plainNumber(static_cast<int>(c), s, static_cast<size_t>(q - s), values[t]);
    }
    f.p = s;
    f.n = static_cast<size_t>(q - s);
    f.quoted = false;
    return true;
  });
  if (!ok) {
    remark_.clear();  // it would concern the next group's first row
    return false;
  }
  const Row& row = im.rows[im.cur];
  if (row.anyQuoted || textBytes_ > 0) {
    for (const Slot& s : slots_)
      if (s.column >= 0 && (s.isCharacter || row.fields[static_cast<size_t>(s.column)].quoted))
        convertSlot(s, values, text);
  }
  return true;
}

// A plain field of a numeric slot that is not a short decimal: missing,
// a number in another spelling, or no number (missing, with a remark).
void ReadList::plainNumber(int column, const char* p, size_t n, double& out) {
  if (n == 0 || (n == 1 && p[0] == '.')) {
    out = missingValue();
    return;
  }
  if (detail::convertNumber(p, n, out)) return;
  out = missingValue();
  const InputTable::Impl& im = *table_->impl_;
  const Column& col = table_->columns_[static_cast<size_t>(column)];
  if (!col.isCharacter()) refuseOutOfRange(col, im.rows[1 - im.cur].line, {p, n});
  if (remark_.empty() && !col.isCharacter())
    remark_ = "Table " + table_->displayName() + ", line " +
              std::to_string(im.rows[1 - im.cur].line) + ": \"" +
              std::string(p, std::min<size_t>(n, 40)) + "\" in column " + col.name +
              " is not a number; it was read as missing.";
}

// A field written as a number that does not fit a double (1e400): read as
// missing it would silently drop the observation, so reading stops.
void ReadList::refuseOutOfRange(const Column& col, int64_t line, std::string_view text) const {
  if (detail::classifyNumber(text.data(), text.size(), false) != detail::NumberClass::Number)
    return;
  throw TableError("Table " + table_->displayName() + ", line " + std::to_string(line) +
                   ", column " + col.name + ": the value " + std::string(text.substr(0, 40)) +
                   " is beyond the range of numbers (magnitudes up to about 1.8e308). Correct "
                   "it, or rescale the column.");
}

}  // namespace zul::table

