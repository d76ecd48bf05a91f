// zul/table/read_ahead.hpp -- numbers of a mapped CSV range parsed ahead
// on helper threads, for the threaded-read mode of an input table.
//
// The range is cut into chunks that end just after a line feed. Each chunk
// is parsed on its own into a row-major buffer of doubles (the numbers of
// the columns a read list converts), and the chunks are handed to the one
// reading thread in file order. A chunk is parsed only as far as its rows
// are plain: the first row holding anything the data pass treats with care
// (a quoted field, a field that is no number, a blank line, a wrong field
// count) stops it, and the reader takes that row and the rest of the chunk
// through the ordinary cursor, which gives its remark, its error message
// and its file line as always. A line feed inside a quoted field can make
// a cut fall inside a row; the reader sees this because its ordinary read
// runs past the chunk's end, and then stops reading ahead.
//
// When an output table copies the leading fields of each row, the reader
// may ask for their written text too (wantText): chunks claimed after that
// also hold, for each row, those fields as the output table writes them,
// so that the helpers do that work as well.
//
// While the reader waits for a chunk a helper is still parsing, it parses
// a later chunk itself, so the reading thread shares the parsing instead
// of idling when helpers are few.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "zul/table/csv.hpp"

namespace zul::table::detail {

struct Chunk {
  size_t begin = 0, end = 0;  // bytes [begin, end) of the mapping
  size_t rows = 0;            // plain rows parsed, one line each
  size_t stopAt = 0;          // where parsing stopped: end when all rows are plain
  std::vector<double> values;     // rows x outCount numbers
  std::vector<size_t> rowBegin;   // offset of each row
  // With textFields > 0, row r's first textFields fields as an output
  // table writes them are text[textBegin[r], textEnd[r]), or textEnd[r]
  // is kNoText when that row must be written field by field.
  static constexpr size_t kNoText = ~size_t{0};
  int textFields = 0;
  const uint8_t* textCharacter = nullptr;  // the kinds of those fields
  std::string text;
  std::vector<size_t> textBegin, textEnd;
  std::vector<Field> spans;  // the current row's fields, while parsing
  std::vector<uint8_t> spanDecimal;  // which of them were read as plain decimals
  enum class State { Free, Claimed, Ready } state = State::Free;
  int64_t index = -1;
};

// How reading ahead is sized. helpers < 0: one less than the hardware
// threads (at most 7); 0 turns reading ahead off. Ranges shorter than
// minBytes are read by the cursor alone. Tests shrink these.
struct ReadAheadTuning {
  int helpers = -1;
  size_t chunkBytes = 256 * 1024;
  size_t minBytes = 4 * 1024 * 1024;
};
ReadAheadTuning& readAheadTuning();
// Helpers to start under the current tuning.
int readAheadHelpers();

class ReadAhead {
 public:
  // Parses [from, size) of data (followed by the zero page of the
  // mapping). columnTarget[c] is the output index of column c, or -1 when
  // the column is only skipped; outCount numbers per row.
  ReadAhead(const char* data, size_t size, size_t from, int nCols,
            std::vector<int> columnTarget, int outCount, int helpers);
  ~ReadAhead();  // stops the helpers and waits for them
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next chunk in file order, nullptr after the last one. The chunk
  // stays valid until release().
  Chunk* next();
  void release(Chunk* chunk);
  int outCount() const { return outCount_; }
  // Asks for the written text of the first `fields` fields of each row in
  // the chunks claimed from now on; character[c] is 1 for a character
  // column. Only the first request counts.
  void wantText(int fields, std::vector<uint8_t> character);

  // Where a chunk of the given start ends: just after the first line
  // feed at or beyond start + chunkBytes, or at size.
  static size_t cutAfter(const char* data, size_t size, size_t start, size_t chunkBytes);
  // Parses the plain rows of chunk->[begin, end) into it, with their
  // written text when chunk.textFields > 0 (character as for wantText).
  static void parse(const char* data, size_t size, int nCols, const int* columnTarget,
                    int outCount, Chunk& chunk, const uint8_t* character = nullptr);

 private:
  Chunk* slotOf(int64_t index) { return &slots_[static_cast<size_t>(index) % slots_.size()]; }
  // Claims the lowest unclaimed chunk whose slot is free; nullptr when
  // none (caller holds the lock).
  Chunk* claimLocked();
  void helperMain();
  void parseClaimed(Chunk* chunk);

  const char* data_;
  size_t size_;
  int nCols_;
  std::vector<int> columnTarget_;
  int outCount_;
  size_t chunkBytes_;
  int textFields_ = 0;                // set once, under the lock
  std::vector<uint8_t> textCharacter_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Chunk> slots_;
  size_t nextBegin_;        // start of the next chunk to claim
  int64_t nextClaim_ = 0;   // index of the next chunk to claim
  int64_t nextDeliver_ = 0; // index of the next chunk the reader takes
  bool stop_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace zul::table::detail
