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
      // Start the pages on their way to the disk while rows are still
      // being made; the commit's fsync() then waits for little.
      if (bytes_ - writtenBack_ >= fileWriterTuning().writeBackBytes) {
        ::sync_file_range(fd_, static_cast<off_t>(writtenBack_),
                          static_cast<off_t>(bytes_ - writtenBack_), SYNC_FILE_RANGE_WRITE);
        writtenBack_ = bytes_;
      }
    } catch (const TableError& e) {
      error = e.what();
    }
    buf.clear();
    lock.lock();
    busy_ = false;
    if (!error.empty()) {
      error_ = error;
      pending_.clear();
    }
    spare_.push_back(std::move(buf));
    changed_.notify_all();
  }
}

void FileWriter::finish(std::string& buf) {
  if (thread_.joinable()) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return (pending_.empty() && !busy_) || !error_.empty(); });
    }
    stop();
    if (!error_.empty()) throw TableError(error_);
  }
  writeNow(buf);
  buf.clear();
}

}  // namespace zul::table::detail
