// zul/table/replaced_file.hpp -- a large table file that a commit's rename
// replaces, freed by a process of its own instead of by the rename.
//
// rename(2) over a file frees the file when that was its last name, and
// freeing a large file is slow where the file system discards the freed
// blocks as it frees them (ext4 mounted with `discard` sends the device a
// discard for every extent in the unlink itself: 0.1-0.3 s for 268 MB).
// Given a second name just before the rename, the file outlives the rename
// untouched; once the new table is in place the second name is removed by
// a process of its own (`rm`), which the run does not wait for. The old
// file is whole until the new one is in place, so a failed commit leaves
// it as it was.
#pragma once

#include <cstdint>
#include <filesystem>

namespace zul::table::detail {

// Tests lower the size and turn the detached process off.
struct ReplacedFileTuning {
  uint64_t minBytes = 16u << 20;  // smaller files are freed by the rename, as before
  bool detached = true;           // false: the second name is removed on the calling thread
};
ReplacedFileTuning& replacedFileTuning();

class ReplacedFile {
 public:
  ReplacedFile() = default;
  ~ReplacedFile();  // removes a second name still there, on the calling thread
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;

  // Gives target a second name when it is a regular file of at least
  // minBytes with one name; otherwise (or when linking fails) nothing, and
  // the rename frees it as it would have.
  void keep(const std::filesystem::path& target);
  // After target was replaced: removes the second name in a process the
  // run does not wait for (here when none can be started).
  void freeAside();

 private:
  std::filesystem::path aside_;
};

}  // namespace zul::table::detail
