// zul/table/metadata.hpp -- the W3C CSV-on-the-Web metadata file kept
// beside each table (`member.csv-metadata.json`): what CSV cannot hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "zul/table/table.hpp"

namespace zul::table::detail {

struct MetaColumn {
  Column column;
  bool typeKnown = false;   // a datatype was given
  bool widthKnown = false;  // a character column with maxLength
};

struct Metadata {
  std::string type;   // "dc:type", upper case
  std::string label;  // "dc:title"
  bool hasSchema = false;
  std::vector<MetaColumn> columns;  // the non-virtual columns, in order
  // What zul recorded of the CSV file it wrote with this metadata file
  // ("zul:csvBytes", "zul:csvHash"); absent in metadata written by hand.
  std::optional<uint64_t> csvBytes;
  std::string csvHash;
  // The texts "null" declares missing (absent: none declared).
  std::vector<std::string> nulls;

  bool writtenByHand() const { return !csvBytes && csvHash.empty(); }
};

// The hash text of a whole CSV file, by the kind its metadata names
// ("lanes64", CsvHash in table.hpp, or "fnv1a64").
std::string hashTextOf(std::string_view kind, const char* data, size_t size);

// Refuses a CSV file that is not the one its metadata file was written
// with (two runs, or a failure between the two renames of a commit, or an
// edit of one file): TableError naming the table and both files.
void checkPairMatches(const Metadata& meta, const char* data, size_t size, const TableRef& ref);

// The lock that keeps a table's CSV and metadata files a pair: held
// exclusively while a commit renames both, shared while a reader opens
// both. It is taken on the table's directory (flock), so it costs no file;
// a commit holds it for two renames. Where the file system has no such
// locks, nothing is locked and the recorded size and hash still guard.
class PairLock {
 public:
  PairLock(const std::filesystem::path& csvFile, bool exclusive);
  ~PairLock();
  PairLock(const PairLock&) = delete;
  PairLock& operator=(const PairLock&) = delete;

 private:
  int fd_ = -1;
};

// A test's way to fail a commit between the rename of the CSV file and
// that of its metadata file; nullptr for none.
void setFaultBetweenRenames(void (*fault)());
void faultBetweenRenames();

// Reads the metadata file; nothing when it does not exist. Throws
// TableError naming the table when it exists but is no usable JSON.
std::optional<Metadata> readMetadata(const std::filesystem::path& file,
                                     const std::string& tableName);

// A name or label as a metadata file holds it: JSON text is UTF-8, so
// bytes that are not are replaced (by U+FFFD), as metadataText() does.
std::string asJsonText(const std::string& text);

// The text of a metadata file for a table stored as csvName.
// csvBytes and csvHash describe the CSV file written with it.
std::string metadataText(const std::string& csvName, const std::string& type,
                         const std::string& label, const std::vector<Column>& columns,
                         uint64_t csvBytes, const std::string& csvHash);

}  // namespace zul::table::detail
