// zul/table/db_ordered_chunks.cpp -- ranges produced on several threads,
// taken in order (see db_ordered_chunks.hpp).
#include "zul/table/db_ordered_chunks.hpp"

#include <exception>
#include <utility>

namespace zul::table::db {

bool ChunkQueue::push(Chunk chunk) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopped_ || bytes_ < capacity_ || chunks_.empty(); });
  if (stopped_) return false;
  bytes_ += chunk.bytes.size();
  chunks_.push_back(std::move(chunk));
  changed_.notify_all();
  return true;
}

Chunk ChunkQueue::pop() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !chunks_.empty(); });
  Chunk chunk = std::move(chunks_.front());
  chunks_.pop_front();
  bytes_ -= chunk.bytes.size();
  changed_.notify_all();
  return chunk;
}

void ChunkQueue::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

bool ChunkQueue::stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

OrderedChunks::OrderedChunks(int ranges, int streams, size_t capacity, Producer produce)
    : ranges_(ranges) {
  for (int s = 0; s < streams; ++s) queues_.push_back(std::make_unique<ChunkQueue>(capacity));
  try {
    for (int s = 0; s < streams && s < ranges; ++s)
      threads_.emplace_back([s, this, produce] { run(produce, s, *queues_[static_cast<size_t>(s)]); });
  } catch (...) {
    stop();  // a thread that could not start: the others are ended
    throw;
  }
}

// A producer that throws, or returns before its last range, ends its
// stream with an error: the consumer never waits for a chunk that cannot
// come. After a stream that ended well the chunk is never taken.
void OrderedChunks::run(const Producer& produce, int stream, ChunkQueue& queue) {
  Chunk end;
  end.error = "the rows of a range ended early";
  try {
    produce(stream, queue);
  } catch (const std::exception& e) {
    end.error = e.what();
  } catch (...) {
  }
  queue.push(std::move(end));
}

OrderedChunks::~OrderedChunks() { stop(); }

void OrderedChunks::stop() {
  for (auto& q : queues_) q->stop();
  for (std::thread& t : threads_)
    if (t.joinable()) t.join();
}

bool OrderedChunks::next(Chunk& out) {
  if (failed_ || range_ >= ranges_) return false;
  const size_t stream = static_cast<size_t>(range_) % queues_.size();
  out = queues_[stream]->pop();
  if (!out.error.empty()) failed_ = true;
  else if (out.last) ++range_;
  return true;
}

}  // namespace zul::table::db
