// Copying rows read ahead into an output table written by its own thread:
// the bytes must be those of the plain path (the cursor and writes on the
// calling thread), row for row and in order, across chunk and buffer
// boundaries; a failed write must still fail the table and leave nothing.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "test_util.hpp"
#include "zul/table/file_writer.hpp"
#include "zul/table/read_ahead.hpp"

namespace zul::table {
namespace {

using ::testing::HasSubstr;

class OutputPipeline : public testing::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    savedAhead_ = detail::readAheadTuning();
    savedWriter_ = detail::fileWriterTuning();
  }
  void TearDown() override {
    detail::readAheadTuning() = savedAhead_;
    detail::fileWriterTuning() = savedWriter_;
    ScratchDir::TearDown();
  }

  // Chunks of a few rows cut at odd places and buffers of a few rows, or
  // neither helpers nor a writer thread: the path to compare with.
  static void pipelined(bool on) {
    detail::ReadAheadTuning& a = detail::readAheadTuning();
    a.helpers = on ? 2 : 0;
    a.chunkBytes = 97;
    a.minBytes = 0;
    detail::FileWriterTuning& w = detail::fileWriterTuning();
    w.thread = on;
    w.bufferBytes = 211;
    w.flushBytes = 1000;
  }

  // Reads `in` as the scoring pass does (threaded read, the numeric
  // columns `cols` bound, one record at a time) and writes each record's
  // columns with one computed column, the record's running number, so
  // that a row out of order shows. BY groups are walked when given.
  std::string copy(const std::string& csv, const std::vector<int>& cols, bool on,
                   const std::string& by = "") {
    pipelined(on);
    const std::string name = on ? "ahead" : "plain";
    InputTable in(table("in_" + name, csv));
    if (!by.empty()) in.setBy({{{by, false}}, false});
    OutputTable out(ref("out_" + name));
    out.copyAllColumns(in);
    out.declareColumn(Column{"n", "", ColumnType::Numeric, 8});
    out.columnsDone();
    double n = 0;
    while (in.nextByGroup() > 0) {
      in.setThreadedRead(true);
      ReadList list(in, static_cast<int>(cols.size()));
      testing::bindNumbers(list, cols);
      std::vector<double> v(cols.size());
      while (list.read(v.data(), nullptr)) {
        ++n;
        out.appendRow(&n, nullptr);
      }
      in.setThreadedRead(false);
    }
    out.commit();
    return read("out_" + name + ".csv");
  }

 private:
  detail::ReadAheadTuning savedAhead_;
  detail::FileWriterTuning savedWriter_;
};

// Numbers in every spelling the copy treats differently (shortest, with
// trailing zeros that are dropped or that leave a form to be formatted
// again, a leading zero, an exponent, a plus, missing as "." or empty), a
// character column, and now and then a row the cursor reads (quoted
// fields, a field that is no number).
std::string mixedTable(int rows, unsigned seed) {
  const char* numbers[] = {"1.5",     "-0.25",     "1.50",     "007",      "10",     "1e3",
                           "+2",      ".",         "",         "0.05",     "12345678.125",
                           "-3",      "0.5",       "7.",       "-0.50",    "100.000", "0.000010",
                           "-0.000",  "1000000.0", "12.3456789012345000",  "0.0"};
  const char* texts[] = {"abc", "x y", "", "Z"};
  std::mt19937 gen(seed);
  std::string csv = "a,t,b,c\n";
  for (int i = 0; i < rows; ++i) {
    const auto pick = [&](int n) { return static_cast<size_t>(gen() % static_cast<unsigned>(n)); };
    std::string t = texts[pick(4)];
    if (gen() % 53 == 0) t = "\"q, r\"";
    const int spellings = static_cast<int>(std::size(numbers));
    std::string c = numbers[pick(spellings)];
    if (gen() % 71 == 0) c = "n/a";
    csv += std::string(numbers[pick(spellings)]) + "," + t + "," + numbers[pick(spellings)] + "," +
           c + "\n";
  }
  return csv;
}

TEST_F(OutputPipeline, SameBytesAsThePlainPathAcrossChunksAndBuffers) {
  const std::string csv = mixedTable(3000, 5);
  const std::string plain = copy(csv, {1, 3, 4}, false);
  EXPECT_EQ(copy(csv, {1, 3, 4}, true), plain);
  // Hand-checked start: the running number in the last column is in order.
  EXPECT_THAT(plain, ::testing::StartsWith("a,t,b,c,n\r\n"));
  size_t rows = 0;
  for (char ch : plain) rows += ch == '\n';
  EXPECT_EQ(rows, 3001u);
}

TEST_F(OutputPipeline, OneRowWithAndWithoutALineEnd) {
  EXPECT_EQ(copy("a,b\n1.50,2\n", {1, 2}, true), "a,b,n\r\n1.5,2,1\r\n");
  EXPECT_EQ(copy("a,b\n-0.5,x", {1}, true), "a,b,n\r\n-0.5,x,1\r\n");  // no line end
}

// A character column first: the copied run ends where a text needs
// quoting, and the rows read ahead fall back to the field-by-field form.
TEST_F(OutputPipeline, TextsThatNeedQuotingAreWrittenFieldByField) {
  std::string csv = "t,a\n";
  for (int i = 0; i < 400; ++i) csv += (i % 7 == 0 ? "." : i % 5 == 0 ? "x " : "w") + std::string(",") + std::to_string(i) + ".0\n";
  const std::string plain = copy(csv, {2}, false);
  EXPECT_EQ(copy(csv, {2}, true), plain);
  EXPECT_THAT(plain, HasSubstr("t,a,n\r\n,0,1\r\n"));  // "." is a missing text
  EXPECT_THAT(plain, HasSubstr("\r\nx,5,6\r\n"));
}

TEST_F(OutputPipeline, ByGroupsWrittenGroupAfterGroup) {
  std::string csv = "g,x\n";
  for (int i = 0; i < 900; ++i) csv += std::to_string(i / 300) + "," + std::to_string(i % 13) + ".250\n";
  const std::string plain = copy(csv, {2}, false, "g");
  EXPECT_EQ(copy(csv, {2}, true, "g"), plain);
  EXPECT_THAT(plain, HasSubstr("\r\n0,0.25,300\r\n1,1.25,301\r\n"));
}

// A write that fails (here the file size limit, EFBIG) after some
// buffers went out: the failure reaches the caller from a later row or
// from the commit, and no file of the table is left.
TEST_F(OutputPipeline, AFailedWriteFailsTheTableAndLeavesNoFile) {
  write("out.csv", "old\r\n");
  pipelined(true);
  std::string csv = "a,b\n";
  for (int i = 0; i < 5000; ++i) csv += std::to_string(i) + ".5," + std::to_string(-i) + "\n";
  InputTable in(table("in", csv));
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*previous)(int) = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 20000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  int64_t rowsAccepted = 0;
  try {
    OutputTable out(ref("out"));
    out.copyAllColumns(in);
    in.nextByGroup();
    in.setThreadedRead(true);
    ReadList list(in, 2);
    testing::bindNumbers(list, {1, 2});
    double v[2];
    while (list.read(v, nullptr)) {
      out.appendRow(nullptr, nullptr);
      ++rowsAccepted;
    }
    out.commit();
  } catch (const TableError& e) {
    error = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_THAT(error, HasSubstr("Table WORK.OUT cannot be written: File too large."));
  EXPECT_LT(rowsAccepted, 5000);  // reported while rows were still coming
  EXPECT_EQ(read("out.csv"), "old\r\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"in.csv", "out.csv"}));
}

// The writer on its own: buffers in order, the hash and size of what was
// written, whatever the number of hand-overs.
TEST_F(OutputPipeline, WriterKeepsTheOrderAndHashesWhatItWrote) {
  pipelined(true);
  const std::string path = (dir / "w.bin").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  std::string all;
  {
    detail::FileWriter w(fd, "W");
    std::string buf;
    for (int i = 0; i < 500; ++i) {
      buf = "piece " + std::to_string(i) + "\n";
      all += buf;
      w.write(buf);
      EXPECT_TRUE(buf.empty());
    }
    buf = "end";
    all += buf;
    w.finish(buf);
    detail::CsvHash h;
    h.add(all.data(), all.size());
    EXPECT_EQ(w.bytes(), all.size());
    EXPECT_EQ(w.hash().text(), h.text());
  }
  ::close(fd);
  EXPECT_EQ(read("w.bin"), all);
}

// A flush that fails is the table's failure even when every write went
// through: the kernel reports such an error once per open file, so the
// commit's fsync would not see it again. A pipe takes the writes and
// refuses fdatasync.
TEST_F(OutputPipeline, AFailedFlushFailsTheTable) {
  pipelined(true);
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::thread drain([&] {
    char sink[4096];
    while (::read(ends[0], sink, sizeof sink) > 0) {
    }
  });
  std::string error;
  int handedOver = 0;
  try {
    detail::FileWriter w(ends[1], "P");
    std::string buf;
    // Until the flushing thread has had its turn: the error then reaches
    // the next hand-over.
    for (; handedOver < 1000000; ++handedOver) {
      buf.assign(100, 'x');
      w.write(buf);
    }
    w.finish(buf);
  } catch (const TableError& e) {
    error = e.what();
  }
  EXPECT_LT(handedOver, 1000000);
  ::close(ends[1]);
  drain.join();
  ::close(ends[0]);
  EXPECT_EQ(error, "Table P cannot be written: Invalid argument.");
}

}  // namespace
}  // namespace zul::table
