// zul/table/sav_rows.cpp -- counting the cases of an SPSS .sav file by
// walking its dictionary records to the data and its data to their end.
#include "zul/table/sav_rows.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace zul::table::detail {

namespace {

constexpr int kHeaderBytes = 176;
constexpr int kMaxRecords = 1 << 24;  // a dictionary that never ends is damaged
constexpr int32_t kMaxBlockBytes = 1 << 30;  // a .zsav block unpacked (writers use 4 MB)

// Reads the file's 32-bit integers in its byte order, which the layout
// code (2 or 3) gives away.
class Reader {
 public:
  explicit Reader(const std::filesystem::path& file) : in_(file, std::ios::binary) {}
  bool ok() const { return static_cast<bool>(in_); }
  void setSwap(bool swap) { swap_ = swap; }
  int64_t int64() {
    const uint32_t a = static_cast<uint32_t>(int32()), b = static_cast<uint32_t>(int32());
    return static_cast<int64_t>(swap_ ? uint64_t{a} << 32 | b : uint64_t{b} << 32 | a);
  }
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

// Counts the values of bytecode-compressed data, fed in pieces: blocks of
// eight codes, each but 0 (padding) and 252 (the end, after which the
// block holds no more) one value, code 253 one whose eight bytes follow
// the block. whole() is false when the data stop inside a block or a value.
class BytecodeValues {
 public:
  void feed(const unsigned char* p, size_t n) {
    while (n > 0 && !ended_) {
      if (rawLeft_ > 0) {
        const size_t take = std::min<size_t>(n, static_cast<size_t>(rawLeft_));
        rawLeft_ -= static_cast<int64_t>(take), p += take, n -= take;
        ended_ = rawLeft_ == 0 && endAfterRaw_;
        continue;
      }
      codes_[filled_++] = *p++, --n;
      if (filled_ == 8) block();
    }
  }
  bool whole() const { return ended_ || (filled_ == 0 && rawLeft_ == 0); }
  // The values the data hold bytes of: a block's raw values count only
  // when all of them are there.
  int64_t values() const { return rawLeft_ > 0 ? values_ - raw_ : values_; }

 private:
  void block() {
    filled_ = 0;
    raw_ = 0;
    bool end = false;
    for (unsigned char c : codes_) {
      if (c == 252) end = true;
      if (end) continue;
      if (c == 253) ++raw_;
      if (c != 0) ++values_;
    }
    rawLeft_ = raw_ * 8;
    endAfterRaw_ = end;
    ended_ = end && raw_ == 0;
  }
  unsigned char codes_[8] = {};
  int filled_ = 0;
  int64_t raw_ = 0, rawLeft_ = 0, values_ = 0;
  bool ended_ = false, endAfterRaw_ = false;
};

bool countCompressedValues(std::ifstream& in, int64_t& values) {
  BytecodeValues counted;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    counted.feed(reinterpret_cast<const unsigned char*>(buffer.data()),
                 static_cast<size_t>(in.gcount()));
  }
  values = counted.values();
  return counted.whole();
}

// The bytecode data of a .zsav file are zlib streams, blocks that the
// trailer lists (where each lies, its sizes packed and unpacked) after a
// header of three offsets. Nothing when the trailer cannot be read (a cut
// file: libreadstat then says what is wrong), else whether every block
// unpacks to its size and the data end whole, with values their count.
std::optional<bool> countZlibValues(Reader& r, int64_t& values) {
  r.int64();  // where this header is
  const int64_t trailer = r.int64(), trailerBytes = r.int64();
  r.stream().seekg(trailer);
  r.int64(), r.int64();  // the bias and a zero
  r.int32();             // the block size
  const int64_t blocks = r.int32();
  if (!r.ok() || blocks < 0 || trailerBytes != 24 + 24 * blocks) return std::nullopt;
  struct Block {
    int64_t at;
    uint32_t size, packed;
  };
  std::vector<Block> index;
  for (int64_t b = 0; b < blocks && r.ok(); ++b) {
    r.int64();  // where it lies unpacked
    const int64_t at = r.int64();
    const int32_t size = r.int32(), packed = r.int32();
    if (size < 0 || packed < 0 || size > kMaxBlockBytes) return false;
    index.push_back({at, static_cast<uint32_t>(size), static_cast<uint32_t>(packed)});
  }
  if (!r.ok()) return std::nullopt;
  BytecodeValues counted;
  std::vector<unsigned char> in, out;
  for (const Block& b : index) {
    in.resize(b.packed);
    out.resize(b.size);
    r.stream().seekg(b.at);
    r.stream().read(reinterpret_cast<char*>(in.data()), b.packed);
    uLongf made = b.size;
    if (!r.ok() || ::uncompress(out.data(), &made, in.data(), b.packed) != Z_OK || made != b.size)
      return false;
    counted.feed(out.data(), out.size());
  }
  values = counted.values();
  return counted.whole();
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
  if (elements <= 0) return out;
  const int64_t start = r.position();
  int64_t values = 0;
  if (compression == 2) {
    const std::optional<bool> whole = countZlibValues(r, values);
    if (!whole) return out;
    if (!*whole) out.damage = "a compressed block does not unpack, or the data stop inside one";
  } else if (compression == 0) {
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
