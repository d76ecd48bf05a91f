// zul/table/file_writer.hpp -- the bytes of an output table's CSV file,
// written by a thread of their own so that computing and formatting the
// rows overlaps with the write(2) calls and the hash of what is written.
//
// The caller fills a buffer and hands it over whole; at most two buffers
// wait, so memory stays bounded whatever the table's size, and they are
// written in the order given. Every few megabytes a second thread makes
// what was written durable (fdatasync), so that the disk flushes while rows
// are still being made and the commit's fsync has only the tail left. A
// failed write or flush is kept and thrown, with its own message, by the
// next hand-over or by finish(); what follows it is dropped. No thread is
// started for a table whose bytes fit one buffer: finish() writes them on
// the calling thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zul/table/table.hpp"

namespace zul::table::detail {

// Tests turn the thread off to compare with writing on the calling thread,
// and make the buffers small.
struct FileWriterTuning {
  bool thread = true;
  size_t bufferBytes = 1u << 20;  // an output table hands its rows over in these
  // Bytes written after which the flushing thread makes them durable.
  size_t flushBytes = 16u << 20;
};
FileWriterTuning& fileWriterTuning();

// Writes n bytes to fd whole (a short write continues, EINTR retries); a
// failure throws TableError naming the table.
void writeAll(int fd, const char* p, size_t n, const std::string& table);

class FileWriter {
 public:
  // fd stays the caller's; table names it in messages.
  FileWriter(int fd, std::string table);
  ~FileWriter();  // stops the thread; bytes not yet written are dropped
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Hands the bytes of buf over (buf is left empty, its capacity kept);
  // waits while two buffers are pending. TableError when an earlier
  // write failed.
  void write(std::string& buf);
  // Writes what is pending and then buf, and waits for all of it and for
  // a flush under way. TableError when a write or a flush failed.
  void finish(std::string& buf);

  // Everything written, after finish().
  uint64_t bytes() const { return bytes_; }
  const CsvHash& hash() const { return hash_; }

 private:
  void writeNow(const std::string& buf);  // on one thread at a time
  void run();
  void flushWhenAsked();
  void requestFlush();
  void stop();

  const int fd_;
  const std::string table_;
  uint64_t bytes_ = 0;
  CsvHash hash_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> pending_;
  std::vector<std::string> spare_;
  bool busy_ = false;  // the thread is writing a buffer
  bool stop_ = false;
  std::string error_;  // what() of the failed write or flush
  std::thread thread_;
  // Flushing: bytes written by the time of the last request, whether one
  // is waiting or under way.
  uint64_t flushAskedAt_ = 0;
  bool flushWanted_ = false;
  bool flushing_ = false;
  std::thread flusher_;
};

}  // namespace zul::table::detail
