// zul/table/csv.hpp -- internals of the table layer: the mapped file, the
// RFC 4180 row tokenizer and the byte-level number check. Only the .cpp
// files of this folder (and its tests) include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zul::table::detail {

// A file mapped read-only, followed by at least one zero byte: the
// tokenizer stops on NUL as on a delimiter and only then checks for the
// end, which keeps the end test out of the per-byte loop.
class MappedFile {
 public:
  MappedFile() = default;
  // Throws TableError (with what names the file) when it cannot be mapped.
  void open(const std::string& path, const std::string& tableName);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  char* base_ = nullptr;  // the whole reservation
  size_t reserved_ = 0;
  const char* data_ = nullptr;
  size_t size_ = 0;
};

// One field of a row. Plain and quoted fields without doubled quotes point
// into the file; the others were unescaped into the row's arena.
struct Field {
  const char* p = nullptr;  // text, or nullptr when in the arena
  uint32_t n = 0;           // length in bytes
  uint32_t arenaOffset = 0;
  bool quoted = false;
};

struct Row {
  std::vector<Field> fields;  // exactly the column count
  std::string arena;
  size_t begin = 0;      // offset of the row's first byte
  size_t end = 0;        // offset just after its line end
  int64_t line = 0;      // file line of its first byte (from 1)
  int64_t nextLine = 0;  // file line of the byte at end
  int nFields = 0;       // fields found (may differ from the column count)

  std::string_view text(int i) const {
    const Field& f = fields[static_cast<size_t>(i)];
    return f.p ? std::string_view(f.p, f.n) : std::string_view(arena.data() + f.arenaOffset, f.n);
  }
  bool isMissing(int i) const {
    const Field& f = fields[static_cast<size_t>(i)];
    return f.n == 0 || (f.n == 1 && !f.quoted && f.p && f.p[0] == '.');
  }
};

enum class RowStatus {
  Ok,          // a row was read
  End,         // no more rows
  Unterminated // a quoted field runs to the end of the file
};

// Reads the row that starts at offset pos (on file line `line`) into row.
// Lines holding nothing at all are skipped when skipBlank is set. At most
// row.fields.size() fields are stored; row.nFields counts all of them.
RowStatus readRow(const char* data, size_t size, size_t pos, int64_t line, bool skipBlank,
                  Row& row);

// What a field holds as far as column typing is concerned.
enum class NumberClass { Missing, Number, Other };
// A byte-level check, with no conversion, of the syntax that parseNumber()
// accepts: blanks, sign, digits, point, exponent.
NumberClass classifyNumber(const char* p, size_t n, bool quoted);

// Converts a field known to be no missing value; false when it is no
// number (or overflows).
bool convertNumber(const char* p, size_t n, double& out);

// Upper-cased copy (ASCII).
std::string upper(std::string_view s);

}  // namespace zul::table::detail
