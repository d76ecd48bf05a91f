// Fuzz target of the CSV reader: the input is a table file (and, after a
// NUL byte, its metadata file). The table is opened and read whole, group
// by group, once by the cursor alone and once with reading ahead on a
// helper thread in chunks of a few bytes; the two must see the same
// records, values (bit for bit), texts, remarks, lines and errors.
//
// The first byte chooses: bit 0 groups by the first column, bit 1 adds
// NOTSORTED, bits 2-7 the chunk size of the threaded read (1 to 64 bytes).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "zul/table/read_ahead.hpp"
#include "zul/table/table.hpp"

namespace {

namespace fs = std::filesystem;
using namespace zul::table;

struct Outcome {
  std::vector<std::string> seen;  // one line per group and per record
  std::string error;
  bool operator==(const Outcome& o) const { return seen == o.seen && error == o.error; }
};

std::string bitsOf(double x) {
  uint64_t b;
  std::memcpy(&b, &x, 8);
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(b));
  return buf;
}

Outcome readWhole(const TableRef& ref, bool byFirst, bool notSorted, bool threaded) {
  Outcome out;
  try {
    InputTable t(ref);
    const int ncols = t.varCount();
    if (byFirst && ncols > 0) t.setBy(BySpec{{{t.columns()[0].name, false}}, notSorted});
    while (t.nextByGroup()) {
      out.seen.push_back("group " + t.byDescription());
      t.setThreadedRead(threaded);
      ReadList list(t, ncols);
      int textBytes = 0;
      for (int c = 0; c < ncols; ++c) {
        const Column& col = t.columns()[c];
        list.bind(c, c + 1, col.isCharacter(), col.isCharacter() ? col.width : 8);
        if (col.isCharacter()) textBytes += col.width;
      }
      std::vector<double> values(static_cast<size_t>(ncols) + 1);
      std::string text(static_cast<size_t>(textBytes) + 1, '\0');
      while (list.read(values.data(), text.data())) {
        std::string line = std::to_string(t.recordLine()) + ":";
        for (int k = 0; k < list.numericCount(); ++k) line += " " + bitsOf(values[k]);
        line += " |" + text.substr(0, static_cast<size_t>(textBytes)) + "| " + list.remark();
        for (int c = 0; c < ncols; ++c) line += "," + std::string(t.text(c));
        out.seen.push_back(std::move(line));
      }
      t.setThreadedRead(false);
    }
  } catch (const TableError& e) {
    out.error = e.what();
  }
  return out;
}

// One scratch folder per process.
const fs::path& scratch() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("zul-csv-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(d);
    std::atexit([] { std::error_code ec; fs::remove_all(scratch(), ec); });
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t nul = rest.find('\0');
  const fs::path csv = scratch() / "t.csv";
  const fs::path meta = scratch() / "t.csv-metadata.json";
  std::ofstream(csv, std::ios::binary | std::ios::trunc) << rest.substr(0, nul);
  std::error_code ec;
  fs::remove(meta, ec);
  if (nul != std::string::npos) std::ofstream(meta, std::ios::binary) << rest.substr(nul + 1);

  Libraries libs(scratch());
  const TableRef ref = libs.resolve(TableName{"", "t", false});
  const bool byFirst = flags & 1, notSorted = flags & 2;

  detail::ReadAheadTuning& tuning = detail::readAheadTuning();
  const detail::ReadAheadTuning saved = tuning;
  const Outcome plain = readWhole(ref, byFirst, notSorted, false);
  tuning.helpers = 1;
  tuning.chunkBytes = 1 + (flags >> 2);
  tuning.minBytes = 0;
  const Outcome ahead = readWhole(ref, byFirst, notSorted, true);
  tuning = saved;
  if (!(plain == ahead)) {
    std::fprintf(stderr, "reading ahead differs from the cursor\n");
    for (const auto* o : {&plain, &ahead}) {
      std::fprintf(stderr, "--- %s (error: %s)\n", o == &plain ? "cursor" : "ahead", o->error.c_str());
      for (const auto& s : o->seen) std::fprintf(stderr, "%s\n", s.c_str());
    }
    std::abort();
  }
  return 0;
}
