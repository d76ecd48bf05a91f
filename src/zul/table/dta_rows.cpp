// zul/table/dta_rows.cpp -- walking an old Stata file past its declared
// data through its value-label tables.
#include "zul/table/dta_rows.hpp"

#include <cstdint>
#include <fstream>

namespace zul::table::detail {

namespace {

constexpr int kHeaderBytes = 109;  // release, byte order, ..., label, time stamp
constexpr int kNameBytes = 33;
constexpr int kLabelBytes = 81;

class Reader {
 public:
  Reader(const std::filesystem::path& file, bool bigEndian)
      : in_(file, std::ios::binary), big_(bigEndian) {}
  bool ok() const { return static_cast<bool>(in_); }
  uint64_t number(int bytes) {
    unsigned char b[4] = {};
    in_.read(reinterpret_cast<char*>(b), bytes);
    uint64_t v = 0;
    for (int k = 0; k < bytes; ++k) v = v << 8 | b[big_ ? k : bytes - 1 - k];
    return v;
  }
  void skip(uint64_t n) { in_.seekg(static_cast<std::streamoff>(n), std::ios::cur); }
  void seek(uint64_t at) { in_.seekg(static_cast<std::streamoff>(at)); }
  int byte() { return in_.get(); }
  uint64_t position() { return static_cast<uint64_t>(in_.tellg()); }

 private:
  std::ifstream in_;
  bool big_;
};

// The bytes of one observation, from the type list: a string of 1 to 244
// bytes, or byte, int, long, float, double (251 to 255).
uint64_t recordBytes(Reader& r, int nVars) {
  static const int kWidths[] = {1, 2, 4, 4, 8};
  uint64_t width = 0;
  for (int v = 0; v < nVars; ++v) {
    const int t = r.byte();
    if (t >= 1 && t <= 244) width += static_cast<uint64_t>(t);
    else if (t >= 251 && t <= 255) width += static_cast<uint64_t>(kWidths[t - 251]);
    else return 0;
  }
  return width;
}

}  // namespace

std::string oldStataExcess(const std::filesystem::path& file) {
  std::ifstream head(file, std::ios::binary);
  const int release = head.get(), order = head.get();
  if (release < 113 || release > 115 || (order != 1 && order != 2)) return {};
  Reader r(file, order == 1);
  r.seek(4);
  const int nVars = static_cast<int>(r.number(2));
  const uint64_t nObs = r.number(4);
  r.seek(kHeaderBytes);
  const uint64_t width = recordBytes(r, nVars);
  const uint64_t formatBytes = release == 113 ? 12 : 49;
  // Names, sort list, formats, value-label names, variable labels.
  r.skip(nVars * (kNameBytes + 2 + formatBytes + kNameBytes + kLabelBytes) + 2);
  // Expansion fields: a type byte and a length, until both are 0.
  for (;;) {
    const int type = r.byte();
    const uint64_t len = r.number(4);
    if (!r.ok() || width == 0) return {};  // libreadstat tells what is wrong
    if (type == 0 && len == 0) break;
    r.skip(len);
  }
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(file, ec);
  const uint64_t dataEnd = r.position() + nObs * width;
  if (ec || dataEnd > size) return {};  // cut short: libreadstat says so
  // Value-label tables: a length, a name and padding, then a table of n
  // entries (n, the text length, n offsets, n values, the texts).
  uint64_t at = dataEnd;
  while (at < size) {
    r.seek(at);
    const uint64_t len = r.number(4);
    r.skip(kNameBytes + 3);
    const uint64_t n = r.number(4), textBytes = r.number(4);
    if (!r.ok() || len != 8 + 8 * n + textBytes) break;
    at += 4 + kNameBytes + 3 + len;
  }
  if (at == size) return {};
  return "after the " + std::to_string(nObs) + " observations its header gives, " +
         std::to_string(size - dataEnd) + " bytes follow that are not value labels";
}

}  // namespace zul::table::detail
