// zul/table/input_table.cpp -- opening an input table, deciding its column
// types, and the cursor that walks its BY groups and records.
//
// The cursor keeps two row buffers: the current record, and a scratch row
// into which the next line is read. A scratch row whose BY values differ
// from the group's is the first row of the next group; it is left unread
// (the position does not move), so the current record stays valid for the
// output columns copied from it, and rewinding only resets an offset.
#include <fast_float/fast_float.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <tuple>
#include <sys/stat.h>

#include "zul/table/csv.hpp"
#include "zul/table/metadata.hpp"
#include "zul/table/read_ahead.hpp"
#include "zul/table/table.hpp"

namespace zul::table {

using detail::Row;
using detail::RowStatus;

namespace {

constexpr int kMaxWidth = 32767;
constexpr size_t kMaxNameLength = 32;  // bytes of a variable name

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Column types and widths found by the type pass, kept for the run so that
// a table opened again (by a later step) is not scanned again unless its
// file changed.
struct ScanResult {
  std::vector<ColumnType> types;
  std::vector<int> maxLengths;  // longest value of each column, in bytes
  std::vector<NonNumeric> nonNumeric;  // of columns holding numbers and other text
  int64_t rows = 0;
};
struct ScanKey {
  std::string path;
  uint64_t device, inode, size;
  int64_t mtimeNs;
  bool operator<(const ScanKey& o) const {
    return std::tie(path, device, inode, size, mtimeNs) <
           std::tie(o.path, o.device, o.inode, o.size, o.mtimeNs);
  }
};
std::mutex gScanMutex;
std::map<ScanKey, ScanResult> gScanCache;

std::optional<ScanKey> scanKeyOf(const std::filesystem::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  return ScanKey{std::filesystem::absolute(file).string(), static_cast<uint64_t>(st.st_dev),
                 static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
                 static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

// ---------------------------------------------------------------------
// The cursor
// ---------------------------------------------------------------------

struct InputTable::Impl {
  enum class State { NotStarted, InGroup, GroupEnded, Finished };

  detail::MappedFile file;
  std::string name;  // for messages
  int nCols = 0;
  bool skipBlank = true;
  size_t dataStart = 0;
  int64_t dataLine = 2;

  Row rows[2];
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
  bool parseAt(Row& row) {
    RowStatus st = detail::readRow(file.data(), file.size(), pos, line, skipBlank, row);
    if (st == RowStatus::End) return false;
    if (st == RowStatus::Unterminated)
      throw TableError("Table " + name + ": the quoted field that starts on line " +
                       std::to_string(row.line) + " is never closed.");
    if (row.nFields != nCols) throw fieldCountError(row);
    return true;
  }

  TableError fieldCountError(const Row& row) const {
    return TableError("Table " + name + ", line " + std::to_string(row.line) + ": " +
                      std::to_string(row.nFields) + (row.nFields == 1 ? " field" : " fields") +
                      " where the header has " + std::to_string(nCols) + " columns.");
  }

  double fieldNumber(const Row& row, int col) const {
    if (row.isMissing(col)) return missingValue();
    std::string_view t = row.text(col);
    double d;
    return detail::convertNumber(t.data(), t.size(), d) ? d : missingValue();
  }

  // Sign of (row's BY values - the group's) in BY order; 0 when equal.
  int orderOf(const Row& row) const {
    for (size_t k = 0; k < byCols.size(); ++k) {
      int c;
      if (byChar[k]) {
        std::string_view a = row.isMissing(byCols[k]) ? std::string_view()
                                                       : trimRight(row.text(byCols[k]));
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

  void takeKey(const Row& row) {
    for (size_t k = 0; k < byCols.size(); ++k) {
      if (byChar[k]) {
        keyText[k] = row.isMissing(byCols[k]) ? std::string() : std::string(trimRight(row.text(byCols[k])));
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
    Row& r = rows[1 - cur];
    RowStatus st = detail::readRowWith(file.data(), file.size(), pos, line, skipBlank, r, consume);
    if (st != RowStatus::Ok) {
      if (st == RowStatus::Unterminated)
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
    Row& r = rows[1 - cur];
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

  int nextByGroup() {
    cursorMoved();
    lazy = false;
    switch (state) {
      case State::NotStarted:
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

// ---------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------

namespace {

// The type pass over the rows that start in [from, to) of the mapping
// (the last of them may run past to): which columns hold something other
// than a number, the longest value of each column, the rows, and where
// and on which line the pass ended. Throws on a broken line, naming the
// file line counted from startLine.
struct PartScan {
  std::vector<uint8_t> isChar;
  std::vector<uint32_t> width;
  // Per column: whether a number was seen, and the fields that are not
  // numbers (line numbers counted from the part's startLine).
  std::vector<uint8_t> hasNumber;
  std::vector<NonNumeric> other;
  int64_t rows = 0;
  size_t endPos = 0;
  int64_t endLine = 0;
  // Some rows were checked whole, so the widths of those rows are unknown
  // unless every column turned out numeric.
  bool usedWholeRows = false;
};

PartScan scanPart(InputTable::Impl& im, size_t from, size_t to, int64_t startLine) {
  const int n = im.nCols;
  // One spare entry takes the fields of a row that has too many.
  std::vector<uint8_t> isChar(static_cast<size_t>(n) + 1, 0);
  std::vector<uint32_t> width(static_cast<size_t>(n) + 1, 0);
  std::vector<uint8_t> hasNumber(static_cast<size_t>(n) + 1, 0);
  std::vector<NonNumeric> other(static_cast<size_t>(n) + 1);
  // Records what a field holds; true when it is no number.
  auto classify = [&](size_t k, const char* p, size_t len, bool quoted, int64_t rowLine) {
    const detail::NumberClass cls = detail::classifyNumber(p, len, quoted);
    if (cls == detail::NumberClass::Number) hasNumber[k] = 1;
    if (cls != detail::NumberClass::Other) return false;
    NonNumeric& o = other[k];
    if (o.count++ == 0) {
      o.firstLine = rowLine;
      o.firstText.assign(p, std::min<size_t>(len, 40));
    }
    return true;
  };
  const char* data = im.file.data();
  const size_t size = im.file.size();
  const char* end = data + size;
  const char* stopAt = data + to;
  const char* q = data + from;
  int64_t line = startLine;
  int64_t rows = 0;
  Row scratch;  // quoted fields, and the precise error of a broken row
  scratch.fields.resize(static_cast<size_t>(n));
  auto fail = [&](const char* rowStart, int64_t rowLine) {
    RowStatus st = detail::readRow(data, size, static_cast<size_t>(rowStart - data), rowLine,
                                   im.skipBlank, scratch);
    if (st == RowStatus::Unterminated)
      throw TableError("Table " + im.name + ": the quoted field that starts on line " +
                       std::to_string(scratch.line) + " is never closed.");
    throw im.fieldCountError(scratch);
  };
  // A dedicated loop: nothing is stored per field. Rows of plain numbers
  // are checked whole (fastNumericRow); other rows field by field, where
  // the common number passes shortShape8() with one load and other plain
  // fields are scanned and then checked byte by byte. Whole-row checks
  // keep no widths, so they stop once a column is known to be character,
  // and if that is found after some of them the pass starts again without
  // them.
  bool wholeRows = true;
  bool usedWholeRows = false;
  while (q < stopAt) {
    if (im.skipBlank && (*q == '\n' || *q == '\r')) {
      if (*q == '\r' && q + 1 < end && q[1] == '\n') ++q;
      ++q;
      ++line;
      continue;
    }
    if (wholeRows) {
      const char* next;
      if (detail::fastNumericRow(q, end, n, next)) {
        q = next;
        ++line;
        ++rows;
        usedWholeRows = true;
        continue;
      }
    }
    const char* rowStart = q;
    const int64_t rowLine = line;
    bool flipped = false;
    int c = 0;
    for (;;) {
      const size_t k = static_cast<size_t>(c < n ? c : n);
      const char* s = q;
      uint32_t len;
      if (*q == '"') {
        detail::Field f;
        scratch.arena.clear();
        if (!detail::readQuoted(q, end, scratch, line, f)) fail(rowStart, rowLine);
        len = f.n;
        const char* p = f.p ? f.p : scratch.arena.data() + f.arenaOffset;
        if (classify(k, p, f.n, true, rowLine) && !isChar[k]) isChar[k] = 1, flipped = true;
      } else {
        const char* p = q + (*q == '-' || *q == '+');
        int l = isChar[k] ? -1 : detail::shortShape8(p, end);
        if (l >= 0) {
          q = p + l;
          hasNumber[k] = 1;
        } else {
          q = detail::scanPlain(q, end);
          if (classify(k, s, static_cast<size_t>(q - s), false, rowLine) && !isChar[k])
            isChar[k] = 1, flipped = true;
        }
        len = static_cast<uint32_t>(q - s);
      }
      if (len > width[k]) width[k] = len;
      ++c;
      if (q >= end) break;
      const char ch = *q++;
      if (ch == ',') continue;
      if (ch == '\r' && q < end && *q == '\n') ++q;
      ++line;
      break;
    }
    if (c != n) fail(rowStart, rowLine);
    ++rows;
    if (flipped && wholeRows) {
      wholeRows = false;
      if (usedWholeRows) {  // widths of the rows checked whole are unknown
        std::fill(isChar.begin(), isChar.end(), 0);
        std::fill(width.begin(), width.end(), 0);
        std::fill(hasNumber.begin(), hasNumber.end(), 0);
        std::fill(other.begin(), other.end(), NonNumeric{});
        q = data + from;
        line = startLine;
        rows = 0;
        usedWholeRows = false;
      }
    }
  }
  PartScan part;
  part.isChar = std::move(isChar);
  part.width = std::move(width);
  part.hasNumber = std::move(hasNumber);
  part.other = std::move(other);
  part.rows = rows;
  part.endPos = static_cast<size_t>(q - data);
  part.endLine = line;
  part.usedWholeRows = usedWholeRows;
  return part;
}

// The type pass over the whole file. A large file is cut into parts at
// line feeds, one per reading thread, scanned at once and merged in file
// order. A part is taken only when the part before it ended exactly at
// its start (a line feed inside quotes can make a cut fall inside a row);
// otherwise, and after a broken line in a later part (whose line numbers
// are only known once the parts before it are done), the rest of the file
// is scanned again in one piece, which gives the same result and the same
// message as a pass without parts.
ScanResult scanTypes(InputTable::Impl& im) {
  const int n = im.nCols;
  const size_t size = im.file.size();
  const size_t start = std::min(im.dataStart, size);
  const int helpers = detail::readAheadHelpers();
  std::vector<size_t> cuts{start};
  if (helpers > 0 && size - start >= detail::readAheadTuning().minBytes) {
    const size_t step = (size - start) / static_cast<size_t>(helpers + 1) + 1;
    while (cuts.back() < size && static_cast<int>(cuts.size()) <= helpers)
      cuts.push_back(detail::ReadAhead::cutAfter(im.file.data(), size, cuts.back(), step));
  }
  if (cuts.size() == 1 || cuts.back() != size) cuts.push_back(size);
  const size_t nParts = cuts.size() - 1;

  std::vector<std::optional<PartScan>> parts(nParts);
  std::vector<std::thread> threads;
  for (size_t i = 1; i < nParts; ++i) {
    try {
      threads.emplace_back([&im, &parts, &cuts, i] {
        try {
          parts[i] = scanPart(im, cuts[i], cuts[i + 1], 0);
        } catch (const std::exception&) {
          parts[i].reset();  // scanned again in order below
        }
      });
    } catch (const std::system_error&) {
      break;  // the remaining parts are scanned in order below
    }
  }
  std::optional<PartScan> first;
  try {
    first = scanPart(im, cuts[0], cuts[1], im.dataLine);
  } catch (...) {
    for (auto& t : threads) t.join();
    throw;
  }
  for (auto& t : threads) t.join();

  PartScan total = std::move(*first);
  bool anyWhole = total.usedWholeRows;
  // lineOffset: the file line of p's startLine 0 (parts after the first
  // count their lines from 0).
  auto merge = [&](const PartScan& p, int64_t lineOffset) {
    for (size_t c = 0; c <= static_cast<size_t>(n); ++c) {
      total.isChar[c] |= p.isChar[c];
      total.width[c] = std::max(total.width[c], p.width[c]);
      total.hasNumber[c] |= p.hasNumber[c];
      NonNumeric& o = total.other[c];
      if (o.count == 0 && p.other[c].count > 0) {
        o = p.other[c];
        o.firstLine += lineOffset;
      } else {
        o.count += p.other[c].count;
      }
    }
    total.rows += p.rows;
    total.endPos = p.endPos;
    anyWhole = anyWhole || p.usedWholeRows;
  };
  for (size_t i = 1; i < nParts; ++i) {
    if (!parts[i] || total.endPos != cuts[i]) {
      // In one piece from where the pass really stands.
      const PartScan rest = scanPart(im, total.endPos, size, total.endLine);
      merge(rest, 0);
      total.endLine = rest.endLine;
      break;
    }
    merge(*parts[i], total.endLine);
    total.endLine += parts[i]->endLine;  // counted from 0 in the part
  }
  bool anyChar = false;
  for (int c = 0; c < n; ++c) anyChar = anyChar || total.isChar[static_cast<size_t>(c)];
  // Rows checked whole carry no widths: with a character column among
  // several parts, the widths come from one pass that keeps them.
  if (anyChar && anyWhole && nParts > 1) total = scanPart(im, start, size, im.dataLine);

  ScanResult res;
  res.rows = total.rows;
  const std::vector<uint8_t>& isChar = total.isChar;
  const std::vector<uint32_t>& width = total.width;
  res.types.resize(static_cast<size_t>(n));
  res.maxLengths.resize(static_cast<size_t>(n));
  res.nonNumeric.resize(static_cast<size_t>(n));
  for (size_t c = 0; c < static_cast<size_t>(n); ++c) {
    if (total.hasNumber[c]) res.nonNumeric[c] = total.other[c];
    res.types[c] = isChar[c] ? ColumnType::Character : ColumnType::Numeric;
    res.maxLengths[c] = static_cast<int>(std::min<uint32_t>(width[c], kMaxWidth));
  }
  return res;
}

}  // namespace

InputTable::InputTable(TableRef ref, const DataSetOptions& options)
    : ref_(std::move(ref)), impl_(std::make_unique<Impl>()) {
  Impl& im = *impl_;
  im.name = ref_.displayName();
  std::optional<detail::Metadata> meta;
  {
    detail::PairLock lock(ref_.file, false);  // no commit between the two
    im.file.open(ref_.file.string(), im.name);
    meta = detail::readMetadata(ref_.metadataFile(), im.name);
  }
  if (meta) detail::checkPairMatches(*meta, im.file.data(), im.file.size(), ref_);

  // Header: the column names.
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

  columns_.resize(static_cast<size_t>(im.nCols));
  for (int c = 0; c < im.nCols; ++c) {
    std::string nm(header.text(c));
    while (!nm.empty() && (nm.back() == ' ' || nm.back() == '\t')) nm.pop_back();
    while (!nm.empty() && (nm.front() == ' ' || nm.front() == '\t')) nm.erase(0, 1);
    if (nm.empty()) {
      nm = "VAR" + std::to_string(c + 1);
      notes_.push_back("Column " + std::to_string(c + 1) + " of table " + im.name +
                       " has no name; it is called " + nm + ".");
    }
    // Names longer than a variable name may be would be cut by the
    // procedure, and two cut names could then be taken for one another.
    if (nm.size() > kMaxNameLength)
      throw TableError("Table " + im.name + ": the name of column " + std::to_string(c + 1) +
                       " (" + nm.substr(0, 40) + "...) is " + std::to_string(nm.size()) +
                       " characters long; a variable name has at most " +
                       std::to_string(kMaxNameLength) + ". Shorten it in the header (line 1).");
    for (int d = 0; d < c; ++d)
      if (sameName(columns_[static_cast<size_t>(d)].name, nm))
        throw TableError("Table " + im.name + ": the column name " + nm +
                         " appears twice in the header (names are compared without regard "
                         "to case).");
    columns_[static_cast<size_t>(c)].name = std::move(nm);
  }

  // Attributes and column types from the metadata file, when it matches.
  std::vector<bool> typeKnown(static_cast<size_t>(im.nCols), false);
  std::vector<bool> widthKnown(static_cast<size_t>(im.nCols), false);
  if (meta) {
    type_ = meta->type;
    label_ = meta->label;
    if (meta->hasSchema) {
      bool match = static_cast<int>(meta->columns.size()) == im.nCols;
      for (int c = 0; match && c < im.nCols; ++c)
        match = sameName(meta->columns[static_cast<size_t>(c)].column.name,
                         columns_[static_cast<size_t>(c)].name);
      if (match) {
        for (int c = 0; c < im.nCols; ++c) {
          const auto& mc = meta->columns[static_cast<size_t>(c)];
          Column& col = columns_[static_cast<size_t>(c)];
          col.label = mc.column.label;
          if (mc.typeKnown) {
            col.type = mc.column.type;
            col.width = mc.column.width;
            typeKnown[static_cast<size_t>(c)] = true;
            widthKnown[static_cast<size_t>(c)] = !col.isCharacter() || mc.widthKnown;
          }
        }
      } else {
        notes_.push_back("The columns in the metadata file of table " + im.name +
                         " do not match its header; column types were taken from the data.");
      }
    }
  }
  if (options.type) {
    std::string t(*options.type);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    type_ = detail::upper(t);
  }
  if (options.label) label_ = *options.label;

  bool needScan = false;
  for (int c = 0; c < im.nCols; ++c)
    needScan = needScan || !typeKnown[static_cast<size_t>(c)] || !widthKnown[static_cast<size_t>(c)];
  if (needScan) {
    std::optional<ScanKey> key = scanKeyOf(ref_.file);
    ScanResult res;
    bool cached = false;
    if (key) {
      std::lock_guard<std::mutex> lock(gScanMutex);
      auto it = gScanCache.find(*key);
      if (it != gScanCache.end() && static_cast<int>(it->second.types.size()) == im.nCols) {
        res = it->second;
        cached = true;
      }
    }
    if (!cached) {
      res = scanTypes(im);
      if (key) {
        std::lock_guard<std::mutex> lock(gScanMutex);
        gScanCache[*key] = res;
      }
    }
    rowCount_ = res.rows;
    for (int c = 0; c < im.nCols; ++c) {
      Column& col = columns_[static_cast<size_t>(c)];
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
  im.byCols = cols;
  im.byDesc.clear();
  im.byChar.clear();
  im.byNames.clear();
  for (size_t k = 0; k < cols.size(); ++k) {
    im.byDesc.push_back(by.variables[k].descending);
    im.byChar.push_back(columns_[static_cast<size_t>(cols[k])].isCharacter());
    im.byNames.push_back(columns_[static_cast<size_t>(cols[k])].name);
  }
  im.notSorted = by.notSorted;
  im.keyNum.assign(cols.size(), missingValue());
  im.keyText.assign(cols.size(), std::string());
  im.rewindTable();
}

int InputTable::nextByGroup() { return impl_->nextByGroup(); }
bool InputTable::nextRecord() {
  impl_->stopAhead();
  return impl_->nextRecord();
}
void InputTable::rewindGroup() { impl_->rewindGroup(); }
void InputTable::rewindTable() { impl_->rewindTable(); }

std::string InputTable::byDescription() const {
  if (impl_->state == Impl::State::NotStarted) return {};
  return impl_->describeKey();
}

double InputTable::byNumber(int k) const {
  if (k < 0 || k >= static_cast<int>(impl_->keyNum.size()) || impl_->byChar[static_cast<size_t>(k)])
    return missingValue();
  return impl_->keyNum[static_cast<size_t>(k)];
}

std::string_view InputTable::byText(int k) const {
  if (k < 0 || k >= static_cast<int>(impl_->keyText.size())) return {};
  return impl_->keyText[static_cast<size_t>(k)];
}

bool InputTable::hasRecord() const { return impl_->hasRecord; }

int64_t InputTable::recordLine() const {
  impl_->materialize();
  return impl_->hasRecord ? impl_->rows[impl_->cur].line : 0;
}

double InputTable::number(int col) const {
  if (!impl_->hasRecord || col < 0 || col >= impl_->nCols) return missingValue();
  impl_->materialize();
  return impl_->fieldNumber(impl_->rows[impl_->cur], col);
}

std::string_view InputTable::text(int col) const {
  if (!impl_->hasRecord || col < 0 || col >= impl_->nCols) return {};
  impl_->materialize();
  const Row& r = impl_->rows[impl_->cur];
  return r.isMissing(col) ? std::string_view() : r.text(col);
}

namespace {

// Digits with at most one point, at most 15 digits in all: the plain
// decimals longer than the 7 bytes of the quick shape test.
bool plainDecimal15(const char* p, const char* e) {
  int digits = 0;
  bool dot = false;
  for (; p < e; ++p) {
    if (*p >= '0' && *p <= '9') {
      ++digits;
    } else if (*p == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return digits >= 1 && digits <= 15;
}

}  // namespace

std::string_view InputTable::plainNumberText(int col) const {
  if (!impl_->hasRecord || col < 0 || col >= impl_->nCols) return {};
  impl_->materialize();
  const detail::Field& f = impl_->rows[impl_->cur].fields[static_cast<size_t>(col)];
  if (!f.p || f.quoted || f.n == 0) return {};
  const char* p = f.p + (f.p[0] == '-');
  const char* e = f.p + f.n;
  if (detail::shortShape8(p, impl_->file.data() + impl_->file.size()) != e - p &&
      !plainDecimal15(p, e))
    return {};
  // Only texts that are already the shortest form std::to_chars would
  // write: no leading or trailing zeros, no bare point, and no integer
  // ending in 0 (1000000 is written 1e+06). A decimal of at most 15
  // significant digits reads back from its double unchanged (DBL_DIG), so
  // no shorter text has its value, and with a non-zero leading digit the
  // fixed form is shorter than the exponent form.
  const char* dot = static_cast<const char*>(std::memchr(p, '.', static_cast<size_t>(e - p)));
  if (dot) {
    if (dot == p || dot + 1 == e || e[-1] == '0') return {};
    if (p[0] == '0' && (dot != p + 1 || dot[1] == '0')) return {};
  } else if (e[-1] == '0' || p[0] == '0') {
    return {};
  }
  return {f.p, f.n};
}

uint64_t InputTable::bytePosition() const { return impl_->pos; }
uint64_t InputTable::byteSize() const { return impl_->file.size(); }

void InputTable::setThreadedRead(bool on) {
  threadedRead_ = on;
  impl_->threaded = on;
  impl_->cursorMoved();
}

// ---------------------------------------------------------------------
// BY synchronisation of a second table
// ---------------------------------------------------------------------

int bySyncMode(const InputTable& input, const InputTable& target) {
  const auto& vars = input.by().variables;
  if (vars.empty()) return 2;
  int have = 0;
  for (const auto& v : vars)
    if (target.varNumber(v.name) != 0) ++have;
  if (have == static_cast<int>(vars.size())) return 0;
  return have == 0 ? 2 : 1;
}

int syncByGroup(const InputTable& input, InputTable& target) {
  int mode = bySyncMode(input, target);
  if (mode == 1) return 2;
  if (mode == 2) {
    if (!target.by().variables.empty()) target.setBy({});
    target.rewindTable();
    target.nextByGroup();
    return 0;
  }
  const InputTable::Impl& in = *input.impl_;
  InputTable::Impl& tg = *target.impl_;
  // The target reads its groups by the input's BY variables.
  bool sameBy = target.by().variables.size() == input.by().variables.size();
  for (size_t k = 0; sameBy && k < input.by().variables.size(); ++k)
    sameBy = sameName(target.by().variables[k].name, input.by().variables[k].name) &&
             target.by().variables[k].descending == input.by().variables[k].descending;
  if (!sameBy) {
    BySpec byVars = input.by();
    byVars.notSorted = byVars.notSorted || target.by().notSorted;
    target.setBy(byVars);
  }
  for (size_t k = 0; k < in.byCols.size(); ++k)
    if (in.byChar[k] != tg.byChar[k]) return 2;

  // Sign of (target group - input group) in BY order.
  auto compare = [&]() {
    for (size_t k = 0; k < in.byCols.size(); ++k) {
      int c;
      if (in.byChar[k]) {
        int m = tg.keyText[k].compare(in.keyText[k]);
        c = m < 0 ? -1 : (m > 0 ? 1 : 0);
      } else {
        double a = tg.keyNum[k], b = in.keyNum[k];
        bool ma = isMissing(a), mb = isMissing(b);
        if (ma || mb) c = ma == mb ? 0 : (ma ? -1 : 1);
        else c = a < b ? -1 : (a > b ? 1 : 0);
      }
      if (c != 0) return in.byDesc[k] ? -c : c;
    }
    return 0;
  };

  if (tg.notSorted || in.notSorted) {
    // Groups in no particular order: search the whole target.
    target.rewindTable();
    while (target.nextByGroup() > 0)
      if (compare() == 0) return 0;
    return 1;
  }
  if (tg.state == InputTable::Impl::State::InGroup || tg.state == InputTable::Impl::State::GroupEnded) {
    int c = compare();
    if (c == 0) {
      target.rewindGroup();
      return 0;
    }
    if (c > 0) return 1;  // the target is already past the input's group
  } else if (tg.state == InputTable::Impl::State::Finished) {
    return 1;
  }
  while (target.nextByGroup() > 0) {
    int c = compare();
    if (c == 0) return 0;
    if (c > 0) return 1;
  }
  return 1;
}

// ---------------------------------------------------------------------
// Read lists
// ---------------------------------------------------------------------

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
  if (im.threaded && fused_ && textBytes_ == 0 && !im.aheadOff && im.byCols.empty() &&
      im.state == InputTable::Impl::State::InGroup)
    return true;
  if (im.ahead) im.stopAhead();
  return false;
}

bool ReadList::read(double* values, char* text) {
  if (!laidOut_) layout();
  remark_.clear();
  // In threaded-read mode the numbers of plain rows come parsed ahead.
  if (aheadUsable() && table_->impl_->readAhead(serial_, columnTarget_, nNumeric_, values, 1))
    return true;
  return readCursor(values, text);
}

int ReadList::readRun(double* values, int max) {
  if (max < 1) return 0;
  if (!laidOut_) layout();
  remark_.clear();
  if (aheadUsable()) {
    const int n = table_->impl_->readAhead(serial_, columnTarget_, nNumeric_, values, max);
    if (n > 0) return n;
  }
  return readCursor(values, nullptr) ? 1 : 0;
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
    f.n = static_cast<uint32_t>(q - s);
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
