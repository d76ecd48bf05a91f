// zul/table/file_writer.cpp -- an output table's bytes written on a thread
// of their own.
#include "zul/table/file_writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace zul::table::detail {

namespace {
constexpr size_t kPending = 2;  // buffers waiting at most
}  // namespace

FileWriterTuning& fileWriterTuning() {
  static FileWriterTuning tuning;
  return tuning;
}

FileWriter::FileWriter(int fd, std::string table) : fd_(fd), table_(std::move(table)) {}

FileWriter::~FileWriter() { stop(); }

void FileWriter::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (flusher_.joinable()) flusher_.join();
}

void writeAll(int fd, const char* p, size_t n, const std::string& table) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      throw TableError("Table " + table + " cannot be written: " + std::strerror(errno) + ".");
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void FileWriter::writeNow(const std::string& buf) {
  writeAll(fd_, buf.data(), buf.size(), table_);
  hash_.add(buf.data(), buf.size());
  bytes_ += buf.size();
}

void FileWriter::write(std::string& buf) {
  if (!fileWriterTuning().thread) {
    writeNow(buf);
    buf.clear();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (!thread_.joinable()) {
    try {
      if (stop_) throw std::system_error(std::make_error_code(std::errc::operation_canceled));
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      lock.unlock();
      writeNow(buf);  // no thread to be had: write here
      buf.clear();
      return;
    }
  }
  changed_.wait(lock, [this] { return pending_.size() < kPending || !error_.empty(); });
  if (!error_.empty()) throw TableError(error_);
  const size_t capacity = buf.capacity();
  pending_.push_back(std::move(buf));
  if (!spare_.empty()) {
    buf = std::move(spare_.back());
    spare_.pop_back();
  } else {
    buf = std::string();
    buf.reserve(capacity);
  }
  buf.clear();
  lock.unlock();
  changed_.notify_all();
}

void FileWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    if (stop_) return;
    std::string buf = std::move(pending_.front());
    pending_.pop_front();
    busy_ = true;
    lock.unlock();
    std::string error;
    try {
      writeNow(buf);
    } catch (const TableError& e) {
      error = e.what();
    }
    buf.clear();
    lock.lock();
    busy_ = false;
    if (!error.empty()) {
      error_ = error;
      pending_.clear();
    } else if (bytes_ - flushAskedAt_ >= fileWriterTuning().flushBytes) {
      requestFlush();
    }
    spare_.push_back(std::move(buf));
    changed_.notify_all();
  }
}

// With mutex_ held: asks the flushing thread for one more fdatasync,
// starting it the first time. A request made while one is under way waits
// for it, and the disk then flushes the bytes of both. Without a thread to
// be had the commit's fsync does all of it.
void FileWriter::requestFlush() {
  flushAskedAt_ = bytes_;
  flushWanted_ = true;
  if (flusher_.joinable()) return;
  try {
    flusher_ = std::thread([this] { flushWhenAsked(); });
  } catch (const std::system_error&) {
    flushWanted_ = false;
  }
}

void FileWriter::flushWhenAsked() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || flushWanted_; });
    if (stop_) return;
    flushWanted_ = false;
    flushing_ = true;
    lock.unlock();
    // An error is reported once per open file: the commit's fsync would not
    // see it again, so it is kept like a failed write.
    const int failed = ::fdatasync(fd_) != 0 ? errno : 0;
    lock.lock();
    flushing_ = false;
    if (failed != 0 && error_.empty()) {
      error_ = "Table " + table_ + " cannot be written: " + std::strerror(failed) + ".";
      pending_.clear();
    }
    changed_.notify_all();
  }
}

void FileWriter::finish(std::string& buf) {
  if (thread_.joinable()) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return (pending_.empty() && !busy_) || !error_.empty(); });
      // The commit's fsync does what a waiting flush would; one under way
      // is waited for, as only it can report its error.
      flushWanted_ = false;
      changed_.wait(lock, [this] { return !flushing_; });
    }
    stop();
    if (!error_.empty()) throw TableError(error_);
  }
  writeNow(buf);
  buf.clear();
}

}  // namespace zul::table::detail
