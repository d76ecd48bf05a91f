// zul/services/workfile.hpp -- the step's work file (save area): a real
// temporary file holding records addressed by keys (services 48/7, 48/8,
// 48/9, 48/11, 48/3).
//
// Records are appended at the end of the file and keep their place; a key
// is the record's number from 1. Key 0 is the position before the first
// record (open positions there). The file is unlinked as soon as it is
// created, so it disappears with the process whatever happens.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "zul/abi.h"

namespace zul::services {

// Host statuses of the work file (nonzero means failure).
enum WorkFileStatus : int32_t {
  kWorkOk = 0,
  kWorkBadDescriptor = 1,  // not opened, or opened by someone else
  kWorkCannotCreate = 2,   // the temporary file could not be made
  kWorkIo = 3,             // a read or write of the file failed
  kWorkNoRecord = 4,       // position or read of a record that is not there
  kWorkTooLong = 5,        // read of more bytes than the record holds
};

class WorkFile {
 public:
  // directory: where the temporary file is made ($TMPDIR or /tmp when empty).
  explicit WorkFile(std::filesystem::path directory = {});
  ~WorkFile();
  WorkFile(const WorkFile&) = delete;
  WorkFile& operator=(const WorkFile&) = delete;

  int32_t open();
  int32_t position(int64_t key);
  int32_t write(const void* buffer, int64_t bytes, int64_t& key);
  int32_t read(void* buffer, int64_t bytes);
  int32_t close();
  bool isOpen() const { return fd_ >= 0; }
  int64_t current() const { return current_; }
  int64_t recordCount() const { return static_cast<int64_t>(records_.size()); }

 private:
  struct Record {
    int64_t offset;
    int64_t bytes;
  };
  std::filesystem::path directory_;
  int fd_ = -1;
  int64_t end_ = 0;
  int64_t current_ = 0;
  std::vector<Record> records_;
};

// The services over a module descriptor: open makes a WorkFile and keeps
// it in descriptor->host; the others find it there. Every open file is
// also on the list of the step (closeAllWorkFiles at the end of a step).
int32_t workOpen(zul_workfile* file);
int32_t workPosition(zul_workfile* file, int64_t key);
int32_t workWrite(zul_workfile* file, const void* buffer, int64_t bytes, int64_t* key);
int32_t workRead(zul_workfile* file, void* buffer, int64_t bytes);
int32_t workClose(zul_workfile* file, int32_t how);
int closeAllWorkFiles();  // returns how many were still open
void setWorkDirectory(const std::filesystem::path& directory);

}  // namespace zul::services
