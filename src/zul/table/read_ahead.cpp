// zul/table/read_ahead.cpp -- chunks of a mapped CSV parsed on helper
// threads and handed over in file order.
#include "zul/table/read_ahead.hpp"

#include <sched.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "zul/table/csv.hpp"
#include "zul/table/table.hpp"
#include "zul/table/written_fields.hpp"

namespace zul::table::detail {

ReadAheadTuning& readAheadTuning() {
  static ReadAheadTuning tuning;
  return tuning;
}

int readAheadHelpers() {
  const int wanted = readAheadTuning().helpers;
  if (wanted >= 0) return wanted;
  // The processors this process may run on (taskset, a container's
  // cpuset), else the machine's.
  int cpus = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) cpus = CPU_COUNT(&set);
  if (cpus <= 0) cpus = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(cpus - 1, 0, 7);
}

ReadAhead::ReadAhead(const char* data, size_t size, size_t from, int nCols,
                     std::vector<int> columnTarget, int outCount, int helpers)
    : data_(data),
      size_(size),
      nCols_(nCols),
      columnTarget_(std::move(columnTarget)),
      outCount_(outCount),
      chunkBytes_(std::max<size_t>(readAheadTuning().chunkBytes, 1)),
      nextBegin_(from) {
  // Two chunks in flight per parsing thread (the reader counts as one):
  // one being parsed, one ready to hand over.
  slots_.resize(static_cast<size_t>(2 * (helpers + 1)));
  for (int i = 0; i < helpers; ++i) {
    try {
      helpers_.emplace_back([this] { helperMain(); });
    } catch (const std::system_error&) {
      break;  // fewer helpers; the reader parses what they leave
    }
  }
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& t : helpers_) t.join();
}

size_t ReadAhead::cutAfter(const char* data, size_t size, size_t start, size_t chunkBytes) {
  if (size - start <= chunkBytes) return size;
  const size_t from = start + chunkBytes;
  const void* lf = std::memchr(data + from, '\n', size - from);
  return lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : size;
}

Chunk* ReadAhead::claimLocked() {
  if (stop_ || nextBegin_ >= size_) return nullptr;
  Chunk* c = slotOf(nextClaim_);
  if (c->state != Chunk::State::Free) return nullptr;
  c->index = nextClaim_++;
  c->begin = nextBegin_;
  c->end = cutAfter(data_, size_, nextBegin_, chunkBytes_);
  c->rows = 0;
  c->stopAt = c->begin;
  // Set once and never changed after, so the helper may read it unlocked.
  c->textFields = textFields_;
  c->textCharacter = textCharacter_.data();
  c->state = Chunk::State::Claimed;
  nextBegin_ = c->end;
  return c;
}

void ReadAhead::parseClaimed(Chunk* c) {
  try {
    parse(data_, size_, nCols_, columnTarget_.data(), outCount_, *c, c->textCharacter);
  } catch (const std::bad_alloc&) {
    // The reader takes the whole chunk through the cursor.
    c->rows = 0;
    c->stopAt = c->begin;
  }
}

void ReadAhead::helperMain() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stop_) return;
    Chunk* c = claimLocked();
    if (!c) {
      if (nextBegin_ >= size_) return;  // every chunk is claimed
      changed_.wait(lock);
      continue;
    }
    lock.unlock();
    parseClaimed(c);
    lock.lock();
    c->state = Chunk::State::Ready;
    changed_.notify_all();
  }
}

Chunk* ReadAhead::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (nextDeliver_ < nextClaim_) {
      Chunk* c = slotOf(nextDeliver_);
      if (c->state == Chunk::State::Ready && c->index == nextDeliver_) {
        ++nextDeliver_;
        return c;
      }
    } else if (nextBegin_ >= size_) {
      return nullptr;  // every chunk was handed over
    }
    // The next chunk is unclaimed, or a helper is still on it: parse the
    // first unclaimed chunk here rather than wait.
    if (Chunk* own = claimLocked()) {
      lock.unlock();
      parseClaimed(own);
      lock.lock();
      own->state = Chunk::State::Ready;
      changed_.notify_all();
      continue;
    }
    changed_.wait(lock);
  }
}

void ReadAhead::wantText(int fields, std::vector<uint8_t> character) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (textFields_ > 0 || fields < 1 || fields > nCols_ ||
      character.size() != static_cast<size_t>(fields))
    return;
  textCharacter_ = std::move(character);
  textFields_ = fields;
}

void ReadAhead::release(Chunk* chunk) {
  if (!chunk) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    chunk->state = Chunk::State::Free;
  }
  changed_.notify_all();
}

namespace {

// Parses the row at q into v (the numbers of the targeted columns) and
// moves q past its line end; false when the row is left to the cursor.
// The first nSpans fields are noted in spans.
bool parsePlainRow(const char*& q, const char* fileEnd, int nCols, const int* target, double* v,
                   Field* spans, uint8_t* spanDecimal, int nSpans) {
  for (int c = 0;; ++c) {
    if (*q == '"') return false;
    const char* s = q;
    const int t = target[c];
    bool decimal = false;
    if (t >= 0) {
      decimal = parseSimpleNumber(q, fileEnd, v[t]);
      if (!decimal) {
        q = scanPlain(q, fileEnd);
        const size_t n = static_cast<size_t>(q - s);
        if (n == 0 || (n == 1 && s[0] == '.')) v[t] = missingValue();
        else if (!convertNumber(s, n, v[t])) return false;  // read as missing with a remark, by the cursor
      }
    } else {
      q = scanPlain(q, fileEnd);
    }
    if (c < nSpans) {
      spans[c].p = s;
      spans[c].n = static_cast<size_t>(q - s);
      spanDecimal[c] = decimal;
    }
    const char ch = *q;
    if (ch == ',') {
      if (c + 1 >= nCols) return false;  // too many fields
      ++q;
      continue;
    }
    if (c + 1 != nCols) return false;  // too few fields
    if (q >= fileEnd) return true;     // the last line has no line end
    if (ch == '\r') {
      ++q;
      if (q < fileEnd && *q == '\n') ++q;
    } else {
      ++q;  // '\n'
    }
    return true;
  }
}

// Appends the written text of the row just parsed (its fields in
// chunk.spans) as row `row` of the chunk's text.
void addRowText(Chunk& chunk, size_t row, const uint8_t* character) {
  chunk.textBegin[row] = chunk.text.size();
  const uint8_t* decimal = chunk.spanDecimal.data();
  const bool ok = appendWrittenFields(
      chunk.spans.data(), chunk.textFields,
      [character, decimal](int c) {
        return character[c] ? FieldKind::Text : decimal[c] ? FieldKind::Decimal : FieldKind::Number;
      },
      chunk.text);
  chunk.textEnd[row] = ok ? chunk.text.size() : Chunk::kNoText;
}

}  // namespace

void ReadAhead::parse(const char* data, size_t size, int nCols, const int* target, int outCount,
                      Chunk& chunk, const uint8_t* character) {
  const char* fileEnd = data + size;
  const char* chunkEnd = data + chunk.end;
  const char* q = data + chunk.begin;
  const size_t out = static_cast<size_t>(outCount);
  if (!character) chunk.textFields = 0;
  const int textFields = chunk.textFields;
  chunk.text.clear();
  chunk.spans.resize(static_cast<size_t>(textFields));
  chunk.spanDecimal.resize(static_cast<size_t>(textFields));
  // A guess of the rows, grown when short: the buffers keep their
  // capacity from one chunk to the next.
  size_t capacity = chunk.rowBegin.size();
  size_t rows = 0;
  while (q < chunkEnd) {
    const char* rowStart = q;
    // A blank line is skipped by the cursor (or is a row of one empty
    // field in a one-column table): left to it.
    if (*q == '\n' || *q == '\r') break;
    if (rows == capacity) {
      capacity = std::max<size_t>(2 * capacity, 256);
      chunk.rowBegin.resize(capacity);
      chunk.values.resize(capacity * out);
    }
    if (textFields > 0 && chunk.textBegin.size() < capacity) {
      chunk.textBegin.resize(capacity);
      chunk.textEnd.resize(capacity);
    }
    if (!parsePlainRow(q, fileEnd, nCols, target, chunk.values.data() + rows * out,
                       chunk.spans.data(), chunk.spanDecimal.data(), textFields) ||
        q > chunkEnd) {
      q = rowStart;
      break;
    }
    if (textFields > 0) addRowText(chunk, rows, character);
    chunk.rowBegin[rows++] = static_cast<size_t>(rowStart - data);
  }
  chunk.rows = rows;
  chunk.stopAt = static_cast<size_t>(q - data);
}

}  // namespace zul::table::detail
