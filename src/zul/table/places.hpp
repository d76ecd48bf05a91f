// zul/table/places.hpp -- what a run reads and writes, by identity, so that
// no output is written over an input or over another output.
//
// Each input and output of a run is a Place: a description for messages
// and the keys that identify its storage. A file has two keys: its device
// and inode when it exists (hard links and other spellings of one file meet
// there), and its absolute path with symbolic links resolved (which is all
// a file not created yet has). A table is two places, its CSV file and its
// metadata file. Another kind of output names itself in its own terms, for
// example "db:CONNECTION:TABLE" for a database table or a file place for a
// graph file: two places are the same when they share any key, so a new
// kind plugs in by the keys it gives. A database table is one place,
// keyed by its connection's identity and its name in lower case.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "zul/table/table.hpp"

namespace zul::table {

struct Place {
  std::string description;  // "--html file r.html", "OUTSTAT= table WORK.ST"
  std::vector<std::string> keys;
  bool sameAs(const Place& other) const;
};

// The keys of a file path. None for an existing file that is not a regular
// file (a terminal, /dev/null, a pipe), which writing cannot destroy.
std::vector<std::string> fileKeys(const std::filesystem::path& path);
Place filePlace(std::string description, const std::filesystem::path& path);

// A table's CSV file and its metadata file. what names the table as the
// message will: "OUTSTAT= table WORK.ST", "table D.G2 that this step reads".
std::vector<Place> tablePlaces(const std::string& what, const TableRef& ref);

// The first clash of an output with the inputs or with earlier outputs: a
// complete sentence naming both, "" when there is none.
std::string outputClash(const Place& output, const std::vector<Place>& inputs,
                        const std::vector<Place>& outputs);
// The first output that an input would be overwritten by ("" for none).
std::string inputClash(const Place& input, const std::vector<Place>& outputs);

}  // namespace zul::table
