// zul/program/output_files.hpp -- the files a run writes its listing, log,
// JSON file and HTML report to: checked against the programs before
// anything is written, opened before the analysis starts, and closed with
// their write errors reported.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace zul::program {

// Which file a path is: device and inode of an existing regular file.
struct FileIdentity {
  uint64_t device = 0, inode = 0;
  bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};
// Nothing when the path does not exist or is no regular file (a terminal,
// /dev/null, a pipe): writing there cannot destroy an input.
std::optional<FileIdentity> regularFileIdentity(const std::string& path);
std::optional<FileIdentity> regularFileIdentity(int fd);

// An input of the run (a program file, standard input) by its identity.
struct InputFile {
  std::string name;  // for messages
  FileIdentity id;
};
// An output of the run: role is the option that names it ("--listing").
struct OutputPath {
  std::string role;
  std::string path;
};

// The first clash among the outputs: one that is an input of the run, or
// two that are the same file. A complete sentence, "" when there is none.
std::string outputClash(const std::vector<OutputPath>& outputs,
                        const std::vector<InputFile>& inputs);

// A file written by the run. open() truncates it now, so that a path that
// cannot be written is known before the analysis; close() flushes and
// closes it. Both return "" or a sentence that says what failed.
class OutputFile {
 public:
  // removeIfInterrupted: a file written whole at the end (JSON, HTML) is
  // removed when the run is interrupted before it is closed.
  explicit OutputFile(bool removeIfInterrupted = false) : removeIfInterrupted_(removeIfInterrupted) {}
  std::string open(const std::string& role, const std::string& path);
  bool isOpen() const { return stream_.is_open(); }
  std::ofstream& stream() { return stream_; }
  // True while every write so far succeeded.
  bool good() const { return !stream_.is_open() || stream_.good(); }
  std::string close();
  std::string failure() const;  // the sentence for a failed write

 private:
  bool removeIfInterrupted_;
  std::string role_, path_;
  std::ofstream stream_;
};

}  // namespace zul::program
