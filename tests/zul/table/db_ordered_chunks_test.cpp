// Ranges produced on several threads come to the consumer in range order,
// whatever the queues' capacity; an error ends the reading at its place;
// a consumer that stops early, or a producer that breaks, never leaves a
// thread waiting. Run under ThreadSanitizer with the rest of the suite.
#include <gmock/gmock.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "zul/table/db_ordered_chunks.hpp"

namespace zul::table::db {
namespace {

// Range r is r % 3 chunks "r.k;" then an empty last chunk (range 0 is
// empty, as a range of deleted rows is).
bool produceRange(int r, ChunkQueue& q) {
  for (int k = 0; k < r % 3; ++k)
    if (!q.push({std::to_string(r) + "." + std::to_string(k) + ";", false, {}})) return false;
  return q.push({{}, true, {}});
}

std::string expected(int ranges) {
  std::string s;
  for (int r = 0; r < ranges; ++r)
    for (int k = 0; k < r % 3; ++k) s += std::to_string(r) + "." + std::to_string(k) + ";";
  return s;
}

std::string readAll(OrderedChunks& chunks, std::string* error = nullptr) {
  std::string s;
  Chunk c;
  while (chunks.next(c)) {
    if (!c.error.empty() && error) *error = c.error;
    s += c.bytes;
  }
  return s;
}

TEST(OrderedChunks, RangesComeInOrder) {
  const struct {
    int ranges, streams;
    size_t capacity;
  } cases[] = {{1, 2, 1}, {2, 2, 1}, {9, 2, 1}, {9, 2, 1 << 20}, {10, 3, 4}, {40, 2, 8}};
  for (const auto& c : cases) {
    OrderedChunks chunks(c.ranges, c.streams, c.capacity, [&](int s, ChunkQueue& q) {
      for (int r = s; r < c.ranges; r += c.streams)
        if (!produceRange(r, q)) return;
    });
    EXPECT_EQ(readAll(chunks), expected(c.ranges)) << c.ranges << " ranges, " << c.streams;
  }
}

TEST(OrderedChunks, AnErrorEndsTheReadingWhereItHappened) {
  // Stream 1 fails in range 5 after one chunk of it; stream 0 goes on.
  OrderedChunks chunks(12, 2, 1, [](int s, ChunkQueue& q) {
    for (int r = s; r < 12; r += 2) {
      if (r == 5) {
        q.push({"5.0;", false, {}});
        q.push({{}, false, "server closed the connection"});
        return;
      }
      if (!produceRange(r, q)) return;
    }
  });
  std::string error;
  EXPECT_EQ(readAll(chunks, &error), expected(5) + "5.0;");
  EXPECT_EQ(error, "server closed the connection");
  Chunk c;
  EXPECT_FALSE(chunks.next(c));
}

TEST(OrderedChunks, ABrokenProducerIsAnErrorNotAWait) {
  const struct {
    const char* what;
    OrderedChunks::Producer produce;
    const char* error;
  } cases[] = {
      {"throws", [](int, ChunkQueue&) { throw std::runtime_error("out of memory"); },
       "out of memory"},
      {"returns early", [](int s, ChunkQueue& q) { produceRange(s, q); },
       "the rows of a range ended early"},
  };
  for (const auto& c : cases) {
    OrderedChunks chunks(6, 2, 1, c.produce);
    std::string error;
    readAll(chunks, &error);
    EXPECT_EQ(error, c.error) << c.what;
  }
}

TEST(OrderedChunks, AConsumerThatStopsEarlyEndsTheProducers) {
  std::atomic<int> ended{0};
  {
    // Endless ranges, queues of one chunk: both producers are waiting on a
    // full queue when the consumer goes.
    OrderedChunks chunks(1 << 30, 2, 1, [&](int s, ChunkQueue& q) {
      for (int r = s;; r += 2)
        if (!produceRange(r, q)) break;
      ended.fetch_add(1);
    });
    Chunk c;
    for (int k = 0; k < 7; ++k) ASSERT_TRUE(chunks.next(c));
  }
  EXPECT_EQ(ended.load(), 2);
}

}  // namespace
}  // namespace zul::table::db
