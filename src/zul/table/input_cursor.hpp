// zul/table/input_cursor.hpp -- the cursor of an input table: how
// InputTable walks its BY groups and records. Internal to this folder (the
// table's .cpp files and their tests include it).
//
// The cursor keeps two row buffers: the current record, and a scratch row
// into which the next line is read. A scratch row whose BY values differ
// from the group's is the first row of the next group; it is left unread
// (the position does not move), so the current record stays valid for the
// output columns copied from it, and rewinding only resets an offset.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zul/table/by_groups.hpp"
#include "zul/table/csv.hpp"
#include "zul/table/read_ahead.hpp"
#include "zul/table/table.hpp"

namespace zul::table {

namespace detail {

inline std::string_view trimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace detail

struct InputTable::Impl : detail::ByGroupWalk<InputTable::Impl> {

  detail::MappedFile file;
  std::string name;  // for messages
  int nCols = 0;
  bool skipBlank = true;
  size_t dataStart = 0;
  int64_t dataLine = 2;

  detail::Row rows[2];
  int cur = 0;
  size_t pos = 0;
  int64_t line = 0;

  size_t groupStart = 0;
  int64_t groupLine = 0;
  bool orderChecked = false;  // the whole table was found in BY order

  // Threaded-read mode: numbers parsed ahead on helper threads (declared
  // after the mapping, so the helpers stop before it is unmapped).
  bool threaded = false;
  std::unique_ptr<detail::ReadAhead> ahead;
  uint64_t aheadOwner = 0;  // layout serial of the read list it parses for
  bool aheadOff = false;             // given up until the cursor moves
  detail::Chunk* chunk = nullptr;    // the chunk being handed over
  size_t chunkRow = 0;
  int64_t chunkLine = 0;             // file line of the chunk's first row
  bool inCursorPart = false;         // the cursor reads up to cursorEnd
  size_t cursorEnd = 0;
  // A record handed over from a chunk is the current record, but its
  // fields are found only when asked for.
  bool lazy = false;
  size_t lazyBegin = 0;
  int64_t lazyLine = 0;
  // The current record's first aheadTextFields fields as an output table
  // writes them, prepared with its chunk (0: none); valid while the chunk
  // is held. Asked for once an output table copies from a record read
  // ahead (wantAheadText).
  int aheadTextFields = 0;
  std::string_view aheadText;
  bool aheadTextWanted = false;

  void wantAheadText(int n, const std::vector<Column>& columns) {
    if (!ahead || aheadTextWanted) return;
    aheadTextWanted = true;
    std::vector<uint8_t> character(static_cast<size_t>(n));
    for (int c = 0; c < n; ++c) character[static_cast<size_t>(c)] = columns[static_cast<size_t>(c)].isCharacter();
    ahead->wantText(n, std::move(character));
  }
  // The written text of row `row` of the chunk held, when it has one.
  void takeAheadText(size_t row) {
    aheadTextFields = 0;
    if (chunk->textFields < 1 || chunk->textEnd[row] == detail::Chunk::kNoText) return;
    aheadTextFields = chunk->textFields;
    aheadText = std::string_view(chunk->text.data() + chunk->textBegin[row],
                                 chunk->textEnd[row] - chunk->textBegin[row]);
  }

  void materialize() {
    if (!lazy) return;
    lazy = false;
    detail::readRow(file.data(), file.size(), lazyBegin, lazyLine, skipBlank, rows[cur]);
  }

  void stopAhead() {
    aheadTextFields = 0;
    aheadTextWanted = false;
    if (ahead) {
      if (chunk) ahead->release(chunk);
      ahead.reset();
    }
    chunk = nullptr;
    aheadOwner = 0;
    inCursorPart = false;
  }
  // Stops reading ahead because the cursor is moved elsewhere.
  void cursorMoved() {
    stopAhead();
    aheadOff = false;
  }

  // The next records from the chunks parsed ahead, at most max (from 1)
  // and never beyond the current chunk: their count, with their numbers in
  // values (nOut each); 0 when the cursor must read the next one (an
  // unusual row, the end of the data, or reading ahead is not possible).
  int readAhead(uint64_t owner, const std::vector<int>& target, int nOut, double* values,
                int max) {
    if (ahead && aheadOwner != owner) stopAhead();
    if (!ahead) {
      const int helpers = detail::readAheadHelpers();
      if (helpers < 1 || pos >= file.size() ||
          file.size() - pos < detail::readAheadTuning().minBytes) {
        aheadOff = true;
        return 0;
      }
      ahead = std::make_unique<detail::ReadAhead>(file.data(), file.size(), pos, nCols, target,
                                                  nOut, helpers);
      aheadOwner = owner;
    }
    for (;;) {
      if (inCursorPart) {
        if (pos < cursorEnd) return 0;
        if (pos > cursorEnd) {
          // A row read by the cursor ran past the cut (a line feed inside
          // quotes): the later chunks were cut wrongly.
          stopAhead();
          aheadOff = true;
          return 0;
        }
        inCursorPart = false;
      }
      if (!chunk) {
        chunk = ahead->next();
        if (!chunk || chunk->begin != pos) {
          stopAhead();
          aheadOff = true;
          return 0;  // the cursor reports the end
        }
        chunkRow = 0;
        chunkLine = line;
      }
      if (chunkRow < chunk->rows) {
        const size_t n = std::min(chunk->rows - chunkRow, static_cast<size_t>(max));
        std::memcpy(values, chunk->values.data() + chunkRow * static_cast<size_t>(nOut),
                    sizeof(double) * static_cast<size_t>(nOut) * n);
        // The last of them is the current record.
        chunkRow += n;
        lazy = true;
        lazyBegin = chunk->rowBegin[chunkRow - 1];
        lazyLine = chunkLine + static_cast<int64_t>(chunkRow) - 1;
        takeAheadText(chunkRow - 1);
        hasRecord = true;
        pos = chunkRow < chunk->rows ? chunk->rowBegin[chunkRow] : chunk->stopAt;
        line = chunkLine + static_cast<int64_t>(chunkRow);
        return static_cast<int>(n);
      }
      pos = chunk->stopAt;
      line = chunkLine + static_cast<int64_t>(chunk->rows);
      const size_t end = chunk->end;
      aheadTextFields = 0;
      ahead->release(chunk);
      chunk = nullptr;
      if (pos < end) {
        inCursorPart = true;
        cursorEnd = end;
        return 0;
      }
    }
  }

  // Reads the row at pos into row; false at the end of the file.
  bool parseAt(detail::Row& row) {
    detail::RowStatus st = detail::readRow(file.data(), file.size(), pos, line, skipBlank, row);
    if (st == detail::RowStatus::End) return false;
    if (st == detail::RowStatus::Unterminated)
      throw TableError("Table " + name + ": the quoted field that starts on line " +
                       std::to_string(row.line) + " is never closed.");
    if (row.nFields != nCols) throw fieldCountError(row);
    return true;
  }

  TableError fieldCountError(const detail::Row& row) const {
    return TableError("Table " + name + ", line " + std::to_string(row.line) + ": " +
                      std::to_string(row.nFields) + (row.nFields == 1 ? " field" : " fields") +
                      " where the header has " + std::to_string(nCols) +
                      (nCols == 1 ? " column" : " columns") +
                      ". Give every row one field for each column, and quote a field that "
                      "holds a comma.");
  }

  double fieldNumber(const detail::Row& row, int col) const {
    if (row.isMissing(col)) return missingValue();
    std::string_view t = row.text(col);
    double d;
    return detail::convertNumber(t.data(), t.size(), d) ? d : missingValue();
  }

  // The scratch row against the group, for the walk (by_groups.hpp).
  int scratchOrder() const {
    const detail::Row& r = rows[1 - cur];
    return by.orderOf([&](int c) { return fieldNumber(r, c); },
                      [&](int c) { return byText(r, c); });
  }
  void takeScratchKey() {
    const detail::Row& r = rows[1 - cur];
    by.take([&](int c) { return fieldNumber(r, c); }, [&](int c) { return byText(r, c); });
  }
  std::string_view byText(const detail::Row& row, int c) const {
    return row.isMissing(c) ? std::string_view() : detail::trimRight(row.text(c));
  }

  std::string describeKey() const { return by.describe(); }

  void startTable() {
    if (!by.empty() && !by.notSorted && !orderChecked) checkOrder();
    pos = dataStart;
    line = dataLine;
  }
  // The row at pos; the position moves only when it is accepted.
  bool readHead() { return parseAt(rows[1 - cur]); }
  bool readNext() {
    return readNext([](size_t, const char*&, const char*, detail::Field&) { return false; });
  }
  // Tokenized with the consume hook of detail::readRowWith().
  template <class Consume>
  bool readNext(Consume&& consume) {
    detail::Row& r = rows[1 - cur];
    detail::RowStatus st = detail::readRowWith(file.data(), file.size(), pos, line, skipBlank, r, consume);
    if (st == detail::RowStatus::Unterminated)
      throw TableError("Table " + name + ": the quoted field that starts on line " +
                       std::to_string(r.line) + " is never closed.");
    if (st != detail::RowStatus::Ok) return false;
    if (r.nFields != nCols) throw fieldCountError(r);
    return true;
  }
  void markGroupStart() {
    groupStart = pos;
    groupLine = line;
  }
  void acceptScratch() {
    const detail::Row& r = rows[1 - cur];
    pos = r.end;
    line = r.nextLine;
    cur = 1 - cur;
    lazy = false;
    aheadTextFields = 0;
  }
  ByOrderError orderError(const std::string& before) const {
    return ByOrderError("Table " + name + " is not sorted by the BY variables (" + by.list() +
                      "): the row on line " + std::to_string(rows[1 - cur].line) + " (" +
                      by.describe() + ") comes after a row with " + before +
                      ". Sort the table, or add NOTSORTED to the BY statement.");
  }

  // Walks every BY group once, so that rows out of order are reported
  // before the first group is analysed rather than after some of them.
  void checkOrder() {
    orderChecked = true;
    pos = dataStart;
    line = dataLine;
    if (enterGroup(false) == 0) return;
    do {
      while (nextRecord()) {
      }
    } while (enterGroup(true) > 0);
  }

  int nextByGroup() {
    cursorMoved();
    lazy = false;
    return ByGroupWalk::nextByGroup();
  }

  // The next record of the group, tokenized with the consume hook of
  // detail::readRowWith().
  template <class Consume>
  bool nextRecordWith(Consume&& consume) {
    return nextRecord(std::forward<Consume>(consume));
  }

  void rewindGroup() {
    cursorMoved();
    lazy = false;
    if (state == State::NotStarted || state == State::Finished) return;
    pos = groupStart;
    line = groupLine;
    state = State::InGroup;
    hasRecord = false;
  }

  void rewindTable() {
    cursorMoved();
    lazy = false;
    state = State::NotStarted;
    hasRecord = false;
  }
};

}  // namespace zul::table
