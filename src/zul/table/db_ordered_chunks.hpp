// zul/table/db_ordered_chunks.hpp -- the bytes of consecutive ranges of a
// table produced on several threads at once and taken in range order.
// Internal to this folder (db_pg_copy.cpp and its tests).
//
// Range r is produced by stream r mod S, each stream on a thread of its
// own working through its ranges in order into a bounded queue; the
// consumer takes range 0 from stream 0, range 1 from stream 1, and so on.
// So the ranges come in order, every stream works while the consumer reads
// another's range, and no stream runs further ahead than its queue holds.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zul::table::db {

// Bytes of one range; the last chunk of a range says so. A chunk with an
// error ends its stream: the ranges after it are never produced.
struct Chunk {
  std::string bytes;
  bool last = false;
  std::string error;
};

// A bounded queue between one producing thread and the consumer.
class ChunkQueue {
 public:
  explicit ChunkQueue(size_t capacity) : capacity_(capacity) {}
  // Waits while the queue holds capacity bytes or more (a chunk larger
  // than the capacity still passes when the queue is empty). False when
  // the consumer stopped: the producer should end.
  bool push(Chunk chunk);
  // Waits for the next chunk.
  Chunk pop();
  // Wakes and refuses the producer: the consumer reads no more.
  void stop();
  bool stopped() const;

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> chunks_;
  size_t bytes_ = 0;
  bool stopped_ = false;
};

class OrderedChunks {
 public:
  // Produces ranges stream, stream + S, ... (S the number of streams) into
  // the queue: every range ends with a chunk marked last, or the stream
  // with a chunk carrying an error. Runs on its own thread; it must not
  // throw, and must return soon once push() refuses.
  using Producer = std::function<void(int stream, ChunkQueue& queue)>;

  // Starts one thread per stream; capacity bounds each queue in bytes.
  OrderedChunks(int ranges, int streams, size_t capacity, Producer produce);
  // Stops the producers and waits for their threads.
  ~OrderedChunks();
  OrderedChunks(const OrderedChunks&) = delete;
  OrderedChunks& operator=(const OrderedChunks&) = delete;

  // The next chunk in range order; false after the last range. A chunk
  // with an error is returned as it is (the ranges after it never come).
  bool next(Chunk& out);

 private:
  static void run(const Producer& produce, int stream, ChunkQueue& queue);
  void stop();

  int ranges_;
  std::vector<std::unique_ptr<ChunkQueue>> queues_;
  std::vector<std::thread> threads_;
  int range_ = 0;  // of the next chunk
  bool failed_ = false;
};

}  // namespace zul::table::db
