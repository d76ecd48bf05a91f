// zul/table/sav_rows.cpp -- counting the cases of an SPSS .sav file by
// walking its dictionary records to the data and its data to their end.
#include "zul/table/sav_rows.hpp"

#include <cstring>
#include <fstream>
#include <string>

namespace zul::table::detail {

namespace {

constexpr int kHeaderBytes = 176;
constexpr int kMaxRecords = 1 << 24;  // a dictionary that never ends is damaged

// Reads the file's 32-bit integers in its byte order, which the layout
// code (2 or 3) gives away.
class Reader {
 public:
  explicit Reader(const std::filesystem::path& file) : in_(file, std::ios::binary) {}
  bool ok() const { return static_cast<bool>(in_); }
  void setSwap(bool swap) { swap_ = swap; }
  int32_t int32() {
    unsigned char b[4] = {};
    in_.read(reinterpret_cast<char*>(b), 4);
    if (swap_) return static_cast<int32_t>(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 |
                                           uint32_t(b[2]) << 8 | b[3]);
    return static_cast<int32_t>(uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 |
                                uint32_t(b[1]) << 8 | b[0]);
  }
  void skip(int64_t n) {
    if (n < 0) in_.setstate(std::ios::failbit);
    else in_.seekg(n, std::ios::cur);
  }
  int64_t position() { return static_cast<int64_t>(in_.tellg()); }
  std::ifstream& stream() { return in_; }

 private:
  std::ifstream in_;
  bool swap_ = false;
};

int64_t paddedTo(int64_t n, int64_t unit) { return (n + unit - 1) / unit * unit; }

// Walks the dictionary to the end record (999); the number of 8-byte
// elements of a case (one per variable record) or -1 when the records are
// not ones this knows.
int64_t walkDictionary(Reader& r) {
  int64_t elements = 0;
  for (int n = 0; n < kMaxRecords && r.ok(); ++n) {
    switch (r.int32()) {
      case 2: {  // a variable, or the continuation of a long string
        r.int32();
        const int32_t hasLabel = r.int32();
        const int64_t missing = r.int32();
        r.skip(16);  // print and write formats, short name
        if (hasLabel) r.skip(paddedTo(r.int32(), 4));
        r.skip((missing < 0 ? -missing : missing) * 8);
        ++elements;
        break;
      }
      case 3: {  // value labels: a value, a length byte, the label
        const int64_t count = r.int32();
        for (int64_t k = 0; k < count && r.ok(); ++k) {
          r.skip(8);
          const int len = r.stream().get();
          r.skip(paddedTo(len + 1, 8) - 1);
        }
        if (count < 0) return -1;
        break;
      }
      case 4: r.skip(int64_t{r.int32()} * 4); break;   // the variables labelled
      case 6: r.skip(int64_t{r.int32()} * 80); break;  // documents
      case 7: {
        r.int32();
        const int64_t size = r.int32(), count = r.int32();
        r.skip(size < 0 || count < 0 ? -1 : size * count);
        break;
      }
      case 999: r.int32(); return r.ok() ? elements : -1;
      default: return -1;
    }
  }
  return -1;
}

// Counts the values of bytecode-compressed data: blocks of eight codes,
// each but 0 (padding) and 252 (the end, after which the block holds no
// more) one value, code 253 one whose eight bytes follow the block.
// False when the data stop inside a block or a value.
bool countCompressedValues(std::ifstream& in, int64_t& values) {
  unsigned char codes[8];
  for (;;) {
    in.read(reinterpret_cast<char*>(codes), 8);
    if (in.gcount() == 0) return true;
    if (in.gcount() < 8) return false;
    int raw = 0;
    bool end = false;
    for (unsigned char c : codes) {
      if (c == 252) end = true;
      if (end) continue;
      if (c == 253) ++raw;
      if (c != 0) ++values;
    }
    // The raw values of the block follow it, that of the end too.
    char skip[8 * 8];
    in.read(skip, raw * 8);
    if (in.gcount() < raw * 8) {
      values -= raw;  // those the file holds no bytes of
      return false;
    }
    if (end) return true;
  }
}

}  // namespace

SavRows countSavRows(const std::filesystem::path& file) {
  SavRows out;
  Reader r(file);
  r.skip(64);
  const int32_t layout = r.int32();
  if (!r.ok()) return out;
  if (layout != 2 && layout != 3) r.setSwap(true);
  r.skip(4);  // the case size some writers leave as -1: the records tell it
  const int32_t compression = r.int32();
  r.skip(4);
  out.claimed = r.int32();
  r.skip(kHeaderBytes - 84);
  const int64_t elements = walkDictionary(r);
  out.elements = elements;
  if (elements <= 0 || compression == 2) return out;
  const int64_t start = r.position();
  int64_t values = 0;
  if (compression == 0) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || static_cast<int64_t>(size) < start) return out;
    values = (static_cast<int64_t>(size) - start) / 8;
    if ((static_cast<int64_t>(size) - start) % 8 != 0) out.damage = "its last value is cut short";
  } else if (!countCompressedValues(r.stream(), values)) {
    out.damage = "the data stop inside a compressed block";
  }
  out.held = values / elements;
  if (out.damage.empty() && values % elements != 0) out.damage = "its last case is cut short";
  return out;
}

}  // namespace zul::table::detail
