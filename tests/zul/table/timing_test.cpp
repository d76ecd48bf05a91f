// Throughput of the read path on a large numeric table. Disabled by
// default (it writes about 150 MB); run it with
//   zul_table_tests --gtest_also_run_disabled_tests --gtest_filter='*Throughput*'
// ZUL_TABLE_TIMING_ROWS changes the row count (default 1,000,000 rows of
// 20 columns). It prints rates and asserts only that the values read back.
#include <gmock/gmock.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <time.h>

#include "test_util.hpp"

namespace zul::table {
namespace {

class Timing : public testing::ScratchDir {};

// Processor time of this process: the machine may be shared, and wall
// time would then measure the neighbours.
struct CpuClock {
  using duration = std::chrono::nanoseconds;
  using time_point = std::chrono::time_point<CpuClock>;
  static time_point now() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return time_point(duration(static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec));
  }
};

double seconds(CpuClock::time_point since) {
  return std::chrono::duration<double>(CpuClock::now() - since).count();
}

TEST_F(Timing, DISABLED_ThroughputOfAMillionNumericRows) {
  const char* env = std::getenv("ZUL_TABLE_TIMING_ROWS");
  const long rows = env ? std::atol(env) : 1000000;
  const int cols = 20;
  double expectSum = 0;
  {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> normal(0.0, 10.0);
    std::string buf;
    for (int c = 0; c < cols; ++c) buf += (c ? ",x" : "x") + std::to_string(c + 1);
    buf += '\n';
    FILE* f = std::fopen((dir / "big.csv").c_str(), "wb");
    char num[32];
    for (long r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        // Six significant digits, as measured data usually has.
        double v = std::round(normal(rng) * 1e4) / 1e4;
        auto res = std::to_chars(num, num + 32, v);
        if (c) buf += ',';
        buf.append(num, res.ptr);
        double back;
        std::from_chars(num, res.ptr, back);
        expectSum += back;
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
  const double mb = static_cast<double>(std::filesystem::file_size(dir / "big.csv")) / 1e6;
  std::printf("table: %ld rows x %d columns, %.1f MB\n", rows, cols, mb);

  auto readAll = [&](InputTable& t) {
    ReadList list(t, cols);
    for (int c = 0; c < cols; ++c) list.bind(c, c + 1, false, 8);
    double v[cols];
    double sum = 0;
    t.nextByGroup();
    while (list.read(v, nullptr))
      for (int c = 0; c < cols; ++c) sum += v[c];
    return sum;
  };

  auto t0 = CpuClock::now();
  InputTable first(ref("big"));
  double tOpen = seconds(t0);
  ASSERT_EQ(first.columns()[0].type, ColumnType::Numeric);
  t0 = CpuClock::now();
  double sum = readAll(first);
  double tRead = seconds(t0);
  EXPECT_NEAR(sum, expectSum, 1e-6 * std::abs(expectSum) + 1e-6);
  std::printf("type pass (open, no metadata): %.3f s, %.0f MB/s\n", tOpen, mb / tOpen);
  std::printf("read pass (20 numeric slots):  %.3f s, %.0f MB/s\n", tRead, mb / tRead);
  std::printf("open + read:                   %.3f s, %.0f MB/s\n", tOpen + tRead,
              mb / (tOpen + tRead));

  // An OUT=-style copy: every input column plus two computed ones.
  {
    InputTable in(ref("big"));
    OutputTable out(ref("bigout"));
    out.copyAllColumns(in);
    out.declareColumn({"Factor1", "", ColumnType::Numeric, 8});
    out.declareColumn({"Factor2", "", ColumnType::Numeric, 8});
    t0 = CpuClock::now();
    in.nextByGroup();
    double scores[2] = {0, 0};
    while (in.nextRecord()) {
      scores[0] = in.number(0) * 0.5;
      scores[1] = in.number(1) / 3.0;
      out.appendRow(scores, nullptr);
    }
    out.commit();
    std::printf("copy to an output table:       %.3f s, %.0f MB/s of input\n", seconds(t0),
                mb / seconds(t0));
  }

  t0 = CpuClock::now();
  InputTable again(ref("big"));
  std::printf("second open (types remembered): %.4f s\n", seconds(t0));

  write("big.csv-metadata.json",
        [&] {
          std::string s = R"({"tableSchema": {"columns": [)";
          for (int c = 0; c < cols; ++c)
            s += std::string(c ? "," : "") + R"({"name": "x)" + std::to_string(c + 1) +
                 R"(", "datatype": "double"})";
          return s + "]}}";
        }());
  t0 = CpuClock::now();
  InputTable withMeta(ref("big"));
  double tMeta = seconds(t0);
  t0 = CpuClock::now();
  readAll(withMeta);
  std::printf("with metadata: open %.4f s, read %.3f s, %.0f MB/s\n", tMeta, seconds(t0),
              mb / (tMeta + seconds(t0)));
}

}  // namespace
}  // namespace zul::table
