// zul/table/sqlite_uri.hpp -- the file and options of an SQLite file URI.
#pragma once

#include <optional>
#include <string>

namespace zul::table {

// "file:reg.db?mode=ro&nolock=1": the file the URI names (percent-encoding
// undone, relative to the working directory as SQLite takes it) and its
// options in one order ("mode=ro&nolock=1"). mode=rw and mode=rwc are left
// out: a connection opened to write and create does what either asks of an
// existing file. Nothing for an in-memory database (":memory:",
// mode=memory) or a URI of another host, which name no file to share.
struct SqliteUri {
  std::string file;
  std::string options;
};
std::optional<SqliteUri> parseSqliteUri(const std::string& uri);

}  // namespace zul::table
