#include "zul/services/workfile.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>

namespace zul::services {

WorkFile::WorkFile(std::filesystem::path directory) : directory_(std::move(directory)) {}

WorkFile::~WorkFile() { close(); }

int32_t WorkFile::open() {
  if (fd_ >= 0) return kWorkBadDescriptor;
  std::filesystem::path dir = directory_;
  if (dir.empty()) {
    const char* t = std::getenv("TMPDIR");
    dir = (t && *t) ? t : "/tmp";
  }
  std::string pattern = (dir / "zul-work-XXXXXX").string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return kWorkCannotCreate;
  ::unlink(pattern.c_str());
  fd_ = fd;
  end_ = 0;
  current_ = 0;
  records_.clear();
  return kWorkOk;
}

int32_t WorkFile::position(int64_t key) {
  if (fd_ < 0) return kWorkBadDescriptor;
  if (key < 0 || key > recordCount()) return kWorkNoRecord;
  current_ = key;
  return kWorkOk;
}

int32_t WorkFile::write(const void* buffer, int64_t bytes, int64_t& key) {
  if (fd_ < 0) return kWorkBadDescriptor;
  if (bytes < 0 || (bytes > 0 && !buffer)) return kWorkIo;
  const char* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < bytes) {
    ssize_t n = ::pwrite(fd_, p + done, static_cast<size_t>(bytes - done), end_ + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kWorkIo;
    done += n;
  }
  records_.push_back({end_, bytes});
  end_ += bytes;
  key = recordCount();
  current_ = key;
  return kWorkOk;
}

int32_t WorkFile::read(void* buffer, int64_t bytes) {
  if (fd_ < 0) return kWorkBadDescriptor;
  if (current_ < 1 || current_ > recordCount()) return kWorkNoRecord;
  const Record& r = records_[static_cast<size_t>(current_ - 1)];
  if (bytes < 0 || bytes > r.bytes) return kWorkTooLong;
  if (bytes > 0 && !buffer) return kWorkIo;
  char* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < bytes) {
    ssize_t n = ::pread(fd_, p + done, static_cast<size_t>(bytes - done), r.offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kWorkIo;
    done += n;
  }
  return kWorkOk;
}

int32_t WorkFile::close() {
  if (fd_ < 0) return kWorkBadDescriptor;
  int rc = ::close(fd_);
  fd_ = -1;
  records_.clear();
  end_ = current_ = 0;
  return rc == 0 ? kWorkOk : kWorkIo;
}

// ---- the services ----

namespace {

std::mutex g_mutex;
std::set<WorkFile*> g_open;
std::filesystem::path g_directory;

WorkFile* of(zul_workfile* file) {
  if (!file || !file->host) return nullptr;
  auto* w = static_cast<WorkFile*>(file->host);
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_open.count(w) ? w : nullptr;
}

}  // namespace

void setWorkDirectory(const std::filesystem::path& directory) { g_directory = directory; }

int32_t workOpen(zul_workfile* file) {
  if (!file) return kWorkBadDescriptor;
  if (of(file)) return kWorkBadDescriptor;  // opened twice
  auto* w = new WorkFile(g_directory);
  int32_t st = w->open();
  if (st != kWorkOk) {
    delete w;
    return st;
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_open.insert(w);
  }
  file->host = w;
  file->position = 0;
  return kWorkOk;
}

int32_t workPosition(zul_workfile* file, int64_t key) {
  WorkFile* w = of(file);
  if (!w) return kWorkBadDescriptor;
  int32_t st = w->position(key);
  if (st == kWorkOk) file->position = key;
  return st;
}

int32_t workWrite(zul_workfile* file, const void* buffer, int64_t bytes, int64_t* key) {
  WorkFile* w = of(file);
  if (!w) return kWorkBadDescriptor;
  int64_t k = 0;
  int32_t st = w->write(buffer, bytes, k);
  if (st == kWorkOk) {
    if (key) *key = k;
    file->position = k;
  }
  return st;
}

int32_t workRead(zul_workfile* file, void* buffer, int64_t bytes) {
  WorkFile* w = of(file);
  return w ? w->read(buffer, bytes) : kWorkBadDescriptor;
}

int32_t workClose(zul_workfile* file, int32_t /*how*/) {
  WorkFile* w = of(file);
  if (!w) return kWorkBadDescriptor;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_open.erase(w);
  }
  int32_t st = w->close();
  delete w;
  file->host = nullptr;
  return st;
}

int closeAllWorkFiles() {
  std::set<WorkFile*> all;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    all.swap(g_open);
  }
  for (WorkFile* w : all) delete w;
  return static_cast<int>(all.size());
}

}  // namespace zul::services
