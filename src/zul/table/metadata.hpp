// zul/table/metadata.hpp -- the W3C CSV-on-the-Web metadata file kept
// beside each table (`member.csv-metadata.json`): what CSV cannot hold.
#pragma once

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
};

// Reads the metadata file; nothing when it does not exist. Throws
// TableError naming the table when it exists but is no usable JSON.
std::optional<Metadata> readMetadata(const std::filesystem::path& file,
                                     const std::string& tableName);

// The text of a metadata file for a table stored as csvName.
std::string metadataText(const std::string& csvName, const std::string& type,
                         const std::string& label, const std::vector<Column>& columns);

}  // namespace zul::table::detail
