// zul/table/type_scan.cpp -- the type pass of an input table (see
// type_scan.hpp): column types, widths and row count in one pass, on
// several threads for a large file.
#include "zul/table/type_scan.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>

namespace zul::table::detail {

namespace {

constexpr int kMaxWidth = 32767;

// The file a scan result belongs to, as it was when scanned.
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

// The type pass over the rows that start in [from, to) of the mapping
// (the last of them may run past to): which columns hold something other
// than a number, the longest value of each column, the rows, and where
// and on which line the pass ended. Throws on a broken line, naming the
// file line counted from startLine.
struct PartScan {
  std::vector<uint8_t> isChar;
  std::vector<size_t> width;
  // Per column: whether a number was seen, and the fields that are not
  // numbers (line numbers counted from the part's startLine).
  std::vector<uint8_t> hasNumber;
  std::vector<NonNumeric> other;
  // Per column: whether a field holds something (not empty, not ".").
  std::vector<uint8_t> valued;
  int64_t rows = 0;
  size_t endPos = 0;
  int64_t endLine = 0;
  // Some rows were checked whole, so the widths of those rows are unknown
  // unless every column turned out numeric.
  bool usedWholeRows = false;
};

// The scan of one part. A dedicated loop: nothing is stored per field.
// Rows of plain numbers are checked whole (fastNumericRow); other rows
// field by field (scanRow), where the common number passes shortShape8()
// with one load and other plain fields are scanned and then checked byte
// by byte. Whole-row checks keep no widths, so they stop once a column is
// known to be character, and if that is found after some of them the pass
// starts again without them.
class PartScanner {
 public:
  PartScanner(InputTable::Impl& im, size_t from, int64_t startLine)
      : im_(im), n_(im.nCols), data_(im.file.data()), size_(im.file.size()),
        end_(data_ + size_), from_(from), startLine_(startLine) {
    // One spare entry takes the fields of a row that has too many.
    const size_t slots = static_cast<size_t>(n_) + 1;
    part_.isChar.assign(slots, 0);
    part_.width.assign(slots, 0);
    part_.hasNumber.assign(slots, 0);
    part_.other.assign(slots, NonNumeric{});
    part_.valued.assign(slots, 0);
    scratch_.fields.resize(static_cast<size_t>(n_));
  }

  PartScan run(size_t to) {
    const char* stopAt = data_ + to;
    const char* q = data_ + from_;
    int64_t line = startLine_;
    int64_t rows = 0;
    bool wholeRows = true;
    bool usedWholeRows = false;
    while (q < stopAt) {
      if (im_.skipBlank && (*q == '\n' || *q == '\r')) {
        if (*q == '\r' && q + 1 < end_ && q[1] == '\n') ++q;
        ++q;
        ++line;
        continue;
      }
      // Rows checked whole do not tell empty fields from numbers, so they
      // are used once every column has held a value.
      if (wholeRows && unvalued_ == 0) {
        const char* next;
        if (detail::fastNumericRow(q, end_, n_, next)) {
          q = next;
          ++line;
          ++rows;
          usedWholeRows = true;
          continue;
        }
      }
      const bool flipped = scanRow(q, line);
      ++rows;
      if (flipped && wholeRows) {
        wholeRows = false;
        if (usedWholeRows) {  // widths of the rows checked whole are unknown
          restart();
          q = data_ + from_;
          line = startLine_;
          rows = 0;
          usedWholeRows = false;
        }
      }
    }
    part_.rows = rows;
    part_.endPos = static_cast<size_t>(q - data_);
    part_.endLine = line;
    part_.usedWholeRows = usedWholeRows;
    return std::move(part_);
  }

 private:
  // Records what a field holds; true when it is no number.
  bool classify(size_t k, const char* p, size_t len, bool quoted, int64_t rowLine) {
    const detail::NumberClass cls = detail::classifyNumber(p, len, quoted);
    if (cls != detail::NumberClass::Missing) noteValue(k);
    if (cls == detail::NumberClass::Number) part_.hasNumber[k] = 1;
    if (cls != detail::NumberClass::Other) return false;
    NonNumeric& o = part_.other[k];
    if (o.count++ == 0) {
      o.firstLine = rowLine;
      o.firstText.assign(p, std::min<size_t>(len, 40));
    }
    return true;
  }

  void noteValue(size_t k) {
    if (part_.valued[k]) return;
    part_.valued[k] = 1;
    if (k < static_cast<size_t>(n_)) --unvalued_;
  }

  // The precise error of a broken row.
  [[noreturn]] void fail(const char* rowStart, int64_t rowLine) {
    RowStatus st = detail::readRow(data_, size_, static_cast<size_t>(rowStart - data_), rowLine,
                                   im_.skipBlank, scratch_);
    if (st == RowStatus::Unterminated)
      throw TableError("Table " + im_.name + ": the quoted field that starts on line " +
                       std::to_string(scratch_.line) + " is never closed.");
    throw im_.fieldCountError(scratch_);
  }

  // One row field by field, from q (moved past it; line counts the line
  // feeds). True when a column became character in this row.
  bool scanRow(const char*& q, int64_t& line) {
    std::vector<uint8_t>& isChar = part_.isChar;
    const char* rowStart = q;
    const int64_t rowLine = line;
    bool flipped = false;
    int c = 0;
    for (;;) {
      const size_t k = static_cast<size_t>(c < n_ ? c : n_);
      const char* s = q;
      size_t len;
      if (*q == '"') {
        detail::Field f;
        scratch_.arena.clear();
        if (!detail::readQuoted(q, end_, scratch_, line, f)) fail(rowStart, rowLine);
        len = f.n;
        const char* p = f.p ? f.p : scratch_.arena.data() + f.arenaOffset;
        if (classify(k, p, f.n, true, rowLine) && !isChar[k]) isChar[k] = 1, flipped = true;
      } else {
        const char* p = q + (*q == '-' || *q == '+');
        int l = isChar[k] ? -1 : detail::shortShape8(p, end_);
        if (l >= 0) {
          q = p + l;
          part_.hasNumber[k] = 1;
          noteValue(k);
        } else {
          q = detail::scanPlain(q, end_);
          if (classify(k, s, static_cast<size_t>(q - s), false, rowLine) && !isChar[k])
            isChar[k] = 1, flipped = true;
        }
        len = static_cast<size_t>(q - s);
      }
      if (len > part_.width[k]) part_.width[k] = len;
      ++c;
      if (q >= end_) break;
      const char ch = *q++;
      if (ch == ',') continue;
      if (ch == '\r' && q < end_ && *q == '\n') ++q;
      ++line;
      break;
    }
    if (c != n_) fail(rowStart, rowLine);
    return flipped;
  }

  void restart() {
    std::fill(part_.isChar.begin(), part_.isChar.end(), 0);
    std::fill(part_.width.begin(), part_.width.end(), 0);
    std::fill(part_.hasNumber.begin(), part_.hasNumber.end(), 0);
    std::fill(part_.other.begin(), part_.other.end(), NonNumeric{});
    std::fill(part_.valued.begin(), part_.valued.end(), 0);
    unvalued_ = n_;
  }

  InputTable::Impl& im_;
  const int n_;
  const char* const data_;
  const size_t size_;
  const char* const end_;
  const size_t from_;
  const int64_t startLine_;
  int unvalued_ = n_;  // columns that have held no value yet
  PartScan part_;
  Row scratch_;  // quoted fields, and the precise error of a broken row
};

PartScan scanPart(InputTable::Impl& im, size_t from, size_t to, int64_t startLine) {
  return PartScanner(im, from, startLine).run(to);
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
      total.valued[c] |= p.valued[c];
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
  const std::vector<size_t>& width = total.width;
  res.types.resize(static_cast<size_t>(n));
  res.maxLengths.resize(static_cast<size_t>(n));
  res.nonNumeric.resize(static_cast<size_t>(n));
  res.text.assign(total.other.begin(), total.other.begin() + n);
  res.valued.assign(total.valued.begin(), total.valued.begin() + n);
  for (size_t c = 0; c < static_cast<size_t>(n); ++c) {
    if (total.hasNumber[c]) res.nonNumeric[c] = total.other[c];
    res.types[c] = isChar[c] ? ColumnType::Character : ColumnType::Numeric;
    res.maxLengths[c] = static_cast<int>(std::min<size_t>(width[c], kMaxWidth));
  }
  return res;
}

}  // namespace

ScanResult columnTypes(InputTable::Impl& im, const std::filesystem::path& file) {
  std::optional<ScanKey> key = scanKeyOf(file);
  if (key) {
    std::lock_guard<std::mutex> lock(gScanMutex);
    auto it = gScanCache.find(*key);
    if (it != gScanCache.end() && static_cast<int>(it->second.types.size()) == im.nCols)
      return it->second;
  }
  ScanResult res = scanTypes(im);
  if (key) {
    std::lock_guard<std::mutex> lock(gScanMutex);
    gScanCache[*key] = res;
  }
  return res;
}

}  // namespace zul::table::detail
