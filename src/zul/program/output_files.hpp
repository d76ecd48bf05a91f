// zul/program/output_files.hpp -- the files a run writes its listing, log,
// JSON file and HTML report to: checked against the run's inputs and each
// other before anything is written, created before the analysis starts as
// temporaries beside their targets, and put in place when the run ends.
#pragma once

#include <fstream>
#include <string>

namespace zul::program {

// A file written by the run. open() creates its temporary now, so that a
// path that cannot be written is known before the analysis; close() puts
// it in place by renaming, so that an interrupted or failed run leaves the
// file of an earlier run as it was. A path that exists and is no regular
// file (a terminal, /dev/null, a pipe) is written directly; one reached
// through a descriptor of the run (/dev/stdout on `>>file`) is written
// through that descriptor when the run ends. Both return ""
// or a sentence that says what failed.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  std::string open(const std::string& role, const std::string& path);
  bool isOpen() const { return stream_.is_open(); }
  std::ofstream& stream() { return stream_; }
  // True while every write so far succeeded.
  bool good() const { return !stream_.is_open() || stream_.good(); }
  std::string close();
  // Writes out and closes the temporary without putting it in place yet
  // ("" or the failure, the temporary then removed): files that stand
  // together are all complete before any is renamed. close() then renames.
  std::string finish();
  // Closes and removes the temporary: the target stays as it was.
  void discard();
  // Whether an interrupted run puts what was written so far in place
  // rather than removing it (the log: the record of the steps already run;
  // not once a step turns out to read the target).
  void keepOnInterrupt(bool keep);
  // What has been written to the temporary so far (for a log that is
  // discarded but must still be seen).
  std::string writtenText();
  std::string failure() const;  // the sentence for a failed write

 private:
  std::string role_, path_;
  std::string target_;     // the file renamed onto (symbolic links followed)
  std::string temporary_;  // empty when written directly
  int descriptor_ = -1;    // the shell's descriptor the path reaches (/dev/stdout), copied to on close
  std::ofstream stream_;
};

// A scratch file for a part of a report built as the run goes: made in the
// user's private scratch directory and unlinked at once, so that nothing is
// left behind however the run ends. open() is false when none can be made.
class ScratchStream {
 public:
  bool open();
  std::fstream& stream() { return stream_; }

 private:
  std::fstream stream_;
};

}  // namespace zul::program
