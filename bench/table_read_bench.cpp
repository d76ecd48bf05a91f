// Throughput of the host's read path on a large numeric table: the type
// pass of opening a CSV file, the read of every value through a read list,
// an OUT=-style copy to an output table, and the open when a metadata file
// gives the types. The table (1,000,000 rows of 20 columns, about 150 MB;
// ZUL_TABLE_TIMING_ROWS changes the row count) is written once into a
// scratch directory that is removed at the end. Google Benchmark's CPU
// time is that of the calling thread; the host's helper threads (the
// split type pass of a large file, the read-ahead) show in wall time.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "zul/table/table.hpp"

namespace {

namespace fs = std::filesystem;
using namespace zul::table;

constexpr int kColumns = 20;

struct BigTable {
  fs::path dir;
  long rows = 0;
  double sum = 0;  // of every value as written, to check what is read back
  double megabytes = 0;

  BigTable() {
    const char* env = std::getenv("ZUL_TABLE_TIMING_ROWS");
    rows = env ? std::atol(env) : 1000000;
    dir = fs::temp_directory_path() / ("zul-table-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    write(dir / "big.csv");
    megabytes = static_cast<double>(fs::file_size(dir / "big.csv")) / 1e6;
  }
  ~BigTable() { fs::remove_all(dir); }

  void write(const fs::path& path) {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> normal(0.0, 10.0);
    std::string buf;
    for (int c = 0; c < kColumns; ++c) buf += (c ? ",x" : "x") + std::to_string(c + 1);
    buf += '\n';
    FILE* f = std::fopen(path.c_str(), "wb");
    char num[32];
    for (long r = 0; r < rows; ++r) {
      for (int c = 0; c < kColumns; ++c) {
        // Six significant digits, as measured data usually has.
        double v = std::round(normal(rng) * 1e4) / 1e4;
        auto res = std::to_chars(num, num + 32, v);
        if (c) buf += ',';
        buf.append(num, res.ptr);
        double back;
        std::from_chars(num, res.ptr, back);
        sum += back;
      }
      buf += '\n';
      if (buf.size() > (1 << 20)) {
        std::fwrite(buf.data(), 1, buf.size(), f);
        buf.clear();
      }
    }
    std::fwrite(buf.data(), 1, buf.size(), f);
    std::fclose(f);
  }

  TableRef ref(const std::string& member) const {
    Libraries libs(dir);
    return libs.resolve(TableName{"", member, false});
  }
};

BigTable& table() {
  static BigTable t;
  return t;
}

// The host remembers the column types of a file it has scanned, keyed by
// its modification time among others: a new time makes it scan again.
void forgetTypes(benchmark::State& state) {
  state.PauseTiming();
  static int64_t tick = 0;
  const fs::path file = table().dir / "big.csv";
  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::nanoseconds(++tick));
  state.ResumeTiming();
}

void countBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * table().megabytes * 1e6));
}

double readAll(InputTable& t) {
  ReadList list(t, kColumns);
  for (int c = 0; c < kColumns; ++c) list.bind(c, c + 1, false, 8);
  double v[kColumns];
  double sum = 0;
  t.nextByGroup();
  while (list.read(v, nullptr))
    for (int c = 0; c < kColumns; ++c) sum += v[c];
  return sum;
}

// Opening without metadata: the type pass over the whole file.
void BM_TypePass(benchmark::State& state) {
  for (auto _ : state) {
    forgetTypes(state);
    InputTable t(table().ref("big"));
    benchmark::DoNotOptimize(t.columns().size());
  }
  countBytes(state);
}

// Opening again: the types are remembered, no type pass.
void BM_SecondOpen(benchmark::State& state) {
  for (auto _ : state) {
    InputTable t(table().ref("big"));
    benchmark::DoNotOptimize(t.columns().size());
  }
}

// Opening (with the type pass) and reading every value into 20 numeric
// slots.
void BM_OpenAndRead(benchmark::State& state) {
  for (auto _ : state) {
    forgetTypes(state);
    InputTable t(table().ref("big"));
    const double sum = readAll(t);
    if (std::abs(sum - table().sum) > 1e-6 * std::abs(table().sum) + 1e-6) {
      state.SkipWithError("the values read back differ from those written");
      break;
    }
  }
  countBytes(state);
}

// An OUT=-style copy: every input column plus two computed ones.
void BM_CopyToOutputTable(benchmark::State& state) {
  for (auto _ : state) {
    InputTable in(table().ref("big"));
    OutputTable out(table().ref("bigout"));
    out.copyAllColumns(in);
    out.declareColumn({"Factor1", "", ColumnType::Numeric, 8});
    out.declareColumn({"Factor2", "", ColumnType::Numeric, 8});
    in.nextByGroup();
    double scores[2] = {0, 0};
    while (in.nextRecord()) {
      scores[0] = in.number(0) * 0.5;
      scores[1] = in.number(1) / 3.0;
      out.appendRow(scores, nullptr);
    }
    out.commit();
  }
  countBytes(state);
}

// Opening and reading when a metadata file gives every column's type.
void BM_OpenAndReadWithMetadata(benchmark::State& state) {
  const fs::path meta = table().dir / "big.csv-metadata.json";
  {
    std::string s = R"({"tableSchema": {"columns": [)";
    for (int c = 0; c < kColumns; ++c)
      s += std::string(c ? "," : "") + R"({"name": "x)" + std::to_string(c + 1) +
           R"(", "datatype": "double"})";
    std::ofstream(meta, std::ios::binary) << s << "]}}";
  }
  for (auto _ : state) {
    InputTable t(table().ref("big"));
    benchmark::DoNotOptimize(readAll(t));
  }
  fs::remove(meta);
  countBytes(state);
}

BENCHMARK(BM_TypePass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecondOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyToOutputTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndReadWithMetadata)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  table();  // written before the clocks run
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
