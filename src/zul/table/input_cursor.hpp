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

struct InputTable::Impl {
  enum class State { NotStarted, InGroup, GroupEnded, Finished };

  detail::MappedFile file;
  std::string name;  // for messages
  int nCols = 0;
  bool skipBlank = true;
  size_t dataStart = 0;
  int64_t dataLine = 2;

  detail::Row rows[2];
  int cur = 0;
  bool hasRecord = false;
  size_t pos = 0;
  int64_t line = 0;

  State state = State::NotStarted;
  size_t groupStart = 0;
  int64_t groupLine = 0;

  // BY variables and the current group's values.
  std::vector<int> byCols;
  std::vector<bool> byDesc;
  std::vector<bool> byChar;
  std::vector<std::string> byNames;
  bool notSorted = false;
  bool orderChecked = false;  // the whole table was found in BY order
  std::vector<double> keyNum;
  std::vector<std::string> keyText;

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

  void materialize() {
    if (!lazy) return;
    lazy = false;
    detail::readRow(file.data(), file.size(), lazyBegin, lazyLine, skipBlank, rows[cur]);
  }

  void stopAhead() {
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
        hasRecord = true;
        pos = chunkRow < chunk->rows ? chunk->rowBegin[chunkRow] : chunk->stopAt;
        line = chunkLine + static_cast<int64_t>(chunkRow);
        return static_cast<int>(n);
      }
      pos = chunk->stopAt;
      line = chunkLine + static_cast<int64_t>(chunk->rows);
      const size_t end = chunk->end;
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
                      " where the header has " + std::to_string(nCols) + " columns.");
  }

  double fieldNumber(const detail::Row& row, int col) const {
    if (row.isMissing(col)) return missingValue();
    std::string_view t = row.text(col);
    double d;
    return detail::convertNumber(t.data(), t.size(), d) ? d : missingValue();
  }

  // Sign of (row's BY values - the group's) in BY order; 0 when equal.
  int orderOf(const detail::Row& row) const {
    for (size_t k = 0; k < byCols.size(); ++k) {
      int c;
      if (byChar[k]) {
        std::string_view a = row.isMissing(byCols[k]) ? std::string_view()
                                                       : detail::trimRight(row.text(byCols[k]));
        int m = a.compare(keyText[k]);
        c = m < 0 ? -1 : (m > 0 ? 1 : 0);
      } else {
        double a = fieldNumber(row, byCols[k]), b = keyNum[k];
        bool ma = isMissing(a), mb = isMissing(b);
        // Missing sorts below every number.
        if (ma || mb) c = ma == mb ? 0 : (ma ? -1 : 1);
        else c = a < b ? -1 : (a > b ? 1 : 0);
      }
      if (c != 0) return byDesc[k] ? -c : c;
    }
    return 0;
  }

  void takeKey(const detail::Row& row) {
    for (size_t k = 0; k < byCols.size(); ++k) {
      if (byChar[k]) {
        keyText[k] = row.isMissing(byCols[k]) ? std::string() : std::string(detail::trimRight(row.text(byCols[k])));
      } else {
        keyNum[k] = fieldNumber(row, byCols[k]);
      }
    }
  }

  std::string describeKey() const {
    std::string s;
    for (size_t k = 0; k < byCols.size(); ++k) {
      if (k) s += ' ';
      s += byNames[k];
      s += '=';
      if (byChar[k]) s += keyText[k];
      else s += isMissing(keyNum[k]) ? std::string(".") : formatNumber(keyNum[k]);
    }
    return s;
  }

  bool nextRecord() {
    return nextRecordWith([](size_t, const char*&, const char*, detail::Field&) { return false; });
  }

  // The next record of the group, tokenized with the consume hook of
  // detail::readRowWith().
  template <class Consume>
  bool nextRecordWith(Consume&& consume) {
    if (state != State::InGroup) return false;
    detail::Row& r = rows[1 - cur];
    detail::RowStatus st = detail::readRowWith(file.data(), file.size(), pos, line, skipBlank, r, consume);
    if (st != detail::RowStatus::Ok) {
      if (st == detail::RowStatus::Unterminated)
        throw TableError("Table " + name + ": the quoted field that starts on line " +
                         std::to_string(r.line) + " is never closed.");
      state = State::GroupEnded;
      return false;
    }
    if (r.nFields != nCols) throw fieldCountError(r);
    if (!byCols.empty() && orderOf(r) != 0) {
      state = State::GroupEnded;
      return false;
    }
    pos = r.end;
    line = r.nextLine;
    cur = 1 - cur;
    hasRecord = true;
    lazy = false;
    return true;
  }

  // Enters the group that starts at pos; 0 when there is none.
  int enterGroup(bool checkOrder) {
    detail::Row& r = rows[1 - cur];
    size_t start = pos;
    int64_t startLine = line;
    if (!parseAt(r)) {
      state = State::Finished;
      hasRecord = false;
      return 0;
    }
    if (checkOrder && !notSorted && orderOf(r) < 0) {
      std::string before = describeKey();
      takeKey(r);
      std::string list;
      for (size_t k = 0; k < byNames.size(); ++k) {
        if (k) list += ' ';
        if (byDesc[k]) list += "DESCENDING ";
        list += byNames[k];
      }
      state = State::Finished;
      hasRecord = false;
      throw TableError("Table " + name + " is not sorted by the BY variables (" + list +
                       "): the row on line " + std::to_string(r.line) + " (" + describeKey() +
                       ") comes after a row with " + before +
                       ". Sort the table, or add NOTSORTED to the BY statement.");
    }
    takeKey(r);
    groupStart = start;
    groupLine = startLine;
    state = State::InGroup;
    hasRecord = false;
    return 1;
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
    switch (state) {
      case State::NotStarted:
        if (!byCols.empty() && !notSorted && !orderChecked) {
          checkOrder();
          state = State::NotStarted;
        }
        pos = dataStart;
        line = dataLine;
        if (byCols.empty()) {
          groupStart = pos;
          groupLine = line;
          state = State::InGroup;
          hasRecord = false;
          return 1;
        }
        return enterGroup(false);
      case State::InGroup:
        while (nextRecord()) {
        }
        [[fallthrough]];
      case State::GroupEnded:
        if (byCols.empty()) {
          state = State::Finished;
          hasRecord = false;
          return 0;
        }
        return enterGroup(true);
      case State::Finished:
        return 0;
    }
    return 0;
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
