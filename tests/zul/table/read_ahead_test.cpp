// Reading ahead on helper threads (threaded-read mode) and the type pass
// in parts: both must give exactly what the plain cursor gives. The
// reference in each comparison is the same table read with reading ahead
// off, an independent path through the tokenizer; the hand-checked cases
// say where their numbers come from.
#include <gmock/gmock.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "test_util.hpp"
#include "zul/table/csv.hpp"
#include "zul/table/read_ahead.hpp"

namespace zul::table {
namespace {

using ::testing::HasSubstr;

// Small chunks and several helpers, so that a file of a few kilobytes is
// cut into many chunks; restored after each test.
class ReadAheadTest : public testing::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    saved_ = detail::readAheadTuning();
    useHelpers(2);
  }
  void TearDown() override {
    detail::readAheadTuning() = saved_;
    ScratchDir::TearDown();
  }
  static void useHelpers(int helpers) {
    detail::ReadAheadTuning& t = detail::readAheadTuning();
    t.helpers = helpers;
    t.chunkBytes = 97;  // a few rows per chunk, cut at odd places
    t.minBytes = 0;
  }

  // Everything a reader can observe of one record.
  struct Seen {
    std::vector<uint64_t> bits;  // the numbers, bit for bit
    std::string remark;
    int64_t line = 0;
    std::string firstText;  // the current record's first field
    bool operator==(const Seen& o) const {
      return bits == o.bits && remark == o.remark && line == o.line && firstText == o.firstText;
    }
  };
  struct Outcome {
    std::vector<Seen> records;
    std::string error;  // what() of a TableError, empty when none
  };

  // Reads the whole table through a read list of the numeric columns
  // `cols` (from 1), in threaded-read mode or not.
  static Outcome readAll(const TableRef& ref, const std::vector<int>& cols, bool threaded) {
    Outcome out;
    try {
      InputTable t(ref);
      t.nextByGroup();
      t.setThreadedRead(threaded);
      ReadList list(t, static_cast<int>(cols.size()));
      testing::bindNumbers(list, cols);
      std::vector<double> v(cols.size());
      while (list.read(v.data(), nullptr)) {
        Seen s;
        for (double x : v) {
          uint64_t b;
          std::memcpy(&b, &x, 8);
          s.bits.push_back(b);
        }
        s.remark = list.remark();
        s.line = t.recordLine();
        s.firstText = std::string(t.text(0));
        out.records.push_back(std::move(s));
      }
      t.setThreadedRead(false);
    } catch (const TableError& e) {
      out.error = e.what();
    }
    return out;
  }

  // A table whose metadata file declares the column types, so that a
  // field that is no number in a numeric column is read as missing with a
  // remark (without it the type pass would make the column character).
  TableRef typedTable(const std::string& member, const std::string& csv,
                      const std::vector<std::string>& names, const std::string& textColumn) {
    std::string cols;
    for (const auto& n : names) {
      if (!cols.empty()) cols += ",";
      cols += n == textColumn ? R"({"name":")" + n + R"(","datatype":"string","maxLength":20})"
                              : R"({"name":")" + n + R"(","datatype":"double"})";
    }
    write(member + ".csv-metadata.json", R"({"tableSchema":{"columns":[)" + cols + "]}}");
    return table(member, csv);
  }

  detail::ReadAheadTuning saved_;
};

// Rows of plain numbers with, here and there, every kind of row the
// helpers leave to the cursor.
std::string mixedTable(int rows, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> pick(0, 39);
  std::uniform_real_distribution<double> val(-1000, 1000);
  std::string csv = "a,b,c,d\n";
  for (int r = 0; r < rows; ++r) {
    switch (pick(gen)) {
      case 0: csv += "1.5,\"2\",3,4\n"; break;                // quoted number
      case 1: csv += "x1,2,3,4\n"; break;                     // no number: remark
      case 2: csv += "\n"; break;                             // blank line
      case 3: csv += "5,\"line\nbreak\",6,7\n"; break;        // LF inside quotes
      case 4: csv += ".,,1e5,-0.25\r\n"; break;               // missing values, CRLF
      case 5: csv += " 12 ,+3,4.5E-3,1234567890123456789012\n"; break;  // slow numbers
      default: {
        char buf[128];
        std::snprintf(buf, sizeof buf, "%.6f,%.3f,%d,%.9g\n", val(gen), val(gen),
                      static_cast<int>(val(gen)), val(gen));
        csv += buf;
      }
    }
  }
  return csv;
}

TEST_F(ReadAheadTest, SameRecordsRemarksAndLinesAsTheCursor) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const TableRef ref = typedTable("mixed" + std::to_string(seed), mixedTable(2000, seed),
                                    {"a", "b", "c", "d"}, "b");
    // Column b is character (quoted text with a line break), so it is
    // left out of the numeric read; a, c, d are numeric.
    const Outcome plain = readAll(ref, {1, 3, 4}, false);
    const Outcome ahead = readAll(ref, {1, 3, 4}, true);
    ASSERT_TRUE(plain.error.empty()) << plain.error;
    ASSERT_EQ(ahead.records.size(), plain.records.size());
    for (size_t i = 0; i < plain.records.size(); ++i)
      ASSERT_TRUE(ahead.records[i] == plain.records[i]) << "record " << i << " seed " << seed;
    EXPECT_TRUE(ahead.error.empty());
    size_t remarks = 0;
    for (const Seen& r : plain.records) remarks += !r.remark.empty();
    EXPECT_GT(remarks, 10u);  // about one row in forty is "x1"
  }
}

TEST_F(ReadAheadTest, HandCheckedValuesLinesAndRemark) {
  // Line 1 is the header; the blank line 4 is skipped, so the rows are on
  // lines 2, 3, 5 and 6.
  std::string csv = "x,y\n1,2\n-3.5,.\n\n7,oops\n8,9";
  for (int i = 0; i < 200; ++i) csv += "\n" + std::to_string(i) + ",0.5";
  const TableRef ref = typedTable("hand", csv, {"x", "y"}, "");
  const Outcome o = readAll(ref, {1, 2}, true);
  ASSERT_EQ(o.records.size(), 204u);
  auto num = [](const Seen& s, size_t k) {
    double d;
    std::memcpy(&d, &s.bits[k], 8);
    return d;
  };
  EXPECT_EQ(num(o.records[0], 0), 1.0);
  EXPECT_EQ(o.records[0].line, 2);
  EXPECT_EQ(num(o.records[1], 0), -3.5);
  EXPECT_TRUE(isMissing(num(o.records[1], 1)));
  EXPECT_EQ(o.records[2].line, 5);
  EXPECT_THAT(o.records[2].remark, HasSubstr("line 5"));
  EXPECT_THAT(o.records[2].remark, HasSubstr("\"oops\" in column y"));
  EXPECT_EQ(o.records[3].line, 6);
  EXPECT_TRUE(o.records[3].remark.empty());
  EXPECT_EQ(o.records[203].line, 206);  // 199,0.5 is the last line
  EXPECT_EQ(num(o.records[203], 0), 199.0);
  EXPECT_EQ(o.records[203].firstText, "199");
}

TEST_F(ReadAheadTest, ErrorWhileReadingAheadWhenTypesComeFromMetadata) {
  // With the types given by the metadata file there is no type pass, so
  // the broken line is met by the data pass itself.
  std::string csv = "a,b\n";
  for (int i = 0; i < 300; ++i) csv += std::to_string(i) + ",1\n";
  csv += "7\n";  // line 302
  csv += "8,9\n";
  const TableRef ref = typedTable("meta", csv, {"a", "b"}, "");
  const Outcome plain = readAll(ref, {1, 2}, false);
  const Outcome ahead = readAll(ref, {1, 2}, true);
  EXPECT_THAT(plain.error, HasSubstr("line 302: 1 field where the header has 2 columns"));
  EXPECT_EQ(ahead.error, plain.error);
}

TEST_F(ReadAheadTest, RewindAndRebindWhileReadingAhead) {
  std::string csv = "a,b,c\n";
  for (int i = 0; i < 500; ++i) csv += std::to_string(i) + "," + std::to_string(-i) + ",1\n";
  InputTable t(table("rw", csv));
  t.nextByGroup();
  t.setThreadedRead(true);
  ReadList list(t, 1);
  list.bind(0, 1, false, 8);
  double v = 0;
  for (int i = 0; i < 123; ++i) ASSERT_TRUE(list.read(&v, nullptr));
  EXPECT_EQ(v, 122.0);
  EXPECT_EQ(t.recordLine(), 124);
  EXPECT_EQ(t.number(1), -122.0);  // the current record's other columns
  t.rewindGroup();
  ASSERT_TRUE(list.read(&v, nullptr));
  EXPECT_EQ(v, 0.0);
  // Binding another column: the chunks parsed for the old binding are
  // not handed over.
  list.bind(0, 2, false, 8);
  ASSERT_TRUE(list.read(&v, nullptr));
  EXPECT_EQ(v, -1.0);
  // Leaving threaded-read mode keeps the position and the record.
  t.setThreadedRead(false);
  EXPECT_EQ(t.recordLine(), 3);
  ASSERT_TRUE(t.nextRecord());
  EXPECT_EQ(t.number(0), 2.0);
}

TEST_F(ReadAheadTest, TypePassInPartsFindsLateTextAndWidths) {
  // A column that is numeric for most rows and text only near the end:
  // its width must count the numbers of the rows checked whole too.
  std::string csv = "a,b\n";
  for (int i = 0; i < 400; ++i) csv += "1,123456789012\n";
  csv += "2,abc\n";
  // A quoted field with line feeds spanning many cut points.
  csv += "3,\"" + std::string(300, '\n') + "\"\n";
  for (int i = 0; i < 400; ++i) csv += "4,5\n";
  const TableRef parted = table("late", csv);
  InputTable t(parted);
  useHelpers(0);
  InputTable whole(table("late2", csv));
  ASSERT_EQ(whole.columns()[1].type, ColumnType::Character);
  EXPECT_EQ(whole.columns()[1].width, 300);  // the quoted line feeds
  EXPECT_EQ(t.columns()[1].type, ColumnType::Character);
  EXPECT_EQ(t.columns()[1].width, whole.columns()[1].width);
  EXPECT_EQ(t.columns()[0].type, ColumnType::Numeric);
  ASSERT_TRUE(t.rowCount() && whole.rowCount());
  EXPECT_EQ(*t.rowCount(), 802);
  EXPECT_EQ(*whole.rowCount(), 802);
}

TEST_F(ReadAheadTest, TypePassCutInsideQuotesIsScannedAgain) {
  // Both cuts of the three parts fall inside the quoted line feeds.
  std::string csv = "a,b\n";
  for (int i = 0; i < 100; ++i) csv += "1,2\n";
  csv += "3,\"" + std::string(2000, '\n') + "\"\n";
  for (int i = 0; i < 100; ++i) csv += "x,5\n";
  InputTable t(table("cut", csv));
  EXPECT_EQ(t.columns()[0].type, ColumnType::Character);  // the x rows
  EXPECT_EQ(t.columns()[0].width, 1);
  EXPECT_EQ(t.columns()[1].type, ColumnType::Character);
  EXPECT_EQ(t.columns()[1].width, 2000);
  ASSERT_TRUE(t.rowCount());
  EXPECT_EQ(*t.rowCount(), 201);
  // A broken row after the quotes is reported on its own file line:
  // header 1, rows 2..101, the quoted row 102..2102, the x rows
  // 2103..2202, then line 2203.
  EXPECT_THAT(testing::errorOf([&] { InputTable(table("cutbad", csv + "1,2,3\n")); }),
              HasSubstr("line 2203: 3 fields"));
}

TEST(ReadAheadParse, StopsAtTheFirstRowForTheCursor) {
  // parse() needs the zero page after the data, as the mapping has.
  std::string text = "1,2\n3.25,.\r\n,4\n5,\"6\"\n7,8\n";
  text.append(64, '\0');
  const size_t size = text.size() - 64;
  detail::Chunk c;
  c.begin = 0;
  c.end = size;
  const int target[] = {1, 0};  // column a into slot 1, b into slot 0
  detail::ReadAhead::parse(text.data(), size, 2, target, 2, c);
  ASSERT_EQ(c.rows, 3u);
  EXPECT_EQ(c.values[0], 2.0);
  EXPECT_EQ(c.values[1], 1.0);
  EXPECT_TRUE(isMissing(c.values[2]));
  EXPECT_EQ(c.values[3], 3.25);
  EXPECT_EQ(c.values[4], 4.0);
  EXPECT_TRUE(isMissing(c.values[5]));
  EXPECT_EQ(c.rowBegin[2], 12u);               // ",4" after "1,2\n3.25,.\r\n"
  EXPECT_EQ(c.stopAt, std::strlen("1,2\n3.25,.\r\n,4\n"));  // the quoted row
}

TEST(ReadAheadParse, CutsFallJustAfterALineFeed) {
  const std::string text = "aaaa\nbb\ncccccc\n";
  EXPECT_EQ(detail::ReadAhead::cutAfter(text.data(), text.size(), 0, 3), 5u);
  EXPECT_EQ(detail::ReadAhead::cutAfter(text.data(), text.size(), 0, 5), 8u);
  EXPECT_EQ(detail::ReadAhead::cutAfter(text.data(), text.size(), 8, 3), text.size());
  EXPECT_EQ(detail::ReadAhead::cutAfter(text.data(), text.size(), 5, 100), text.size());
}

}  // namespace
}  // namespace zul::table

namespace zul::table {
namespace {

// The fast decimal path against the C library's strtod (correctly
// rounded on glibc) on decimals of every length up to the 19-digit limit.
TEST(SimpleNumber, AgreesWithStrtodOnEveryLength) {
  std::mt19937 gen(5);
  std::uniform_int_distribution<int> digit(0, 9), len(0, 13), sign(0, 1);
  int taken = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string s = sign(gen) ? "-" : "";
    const int nInt = len(gen), nFrac = len(gen);
    for (int k = 0; k < nInt; ++k) s += static_cast<char>('0' + digit(gen));
    if (nFrac > 0 || i % 3 == 0) s += '.';
    for (int k = 0; k < nFrac; ++k) s += static_cast<char>('0' + digit(gen));
    std::string buf = s + ",";
    buf.append(16, '\0');
    const char* q = buf.data();
    double d = 0;
    const bool ok = detail::parseSimpleNumber(q, buf.data() + s.size() + 1, d);
    if (nInt + nFrac == 0) {
      EXPECT_FALSE(ok) << s;
      continue;
    }
    if (nInt + nFrac > 19) {
      EXPECT_FALSE(ok) << s;  // left to the full parser
      continue;
    }
    if (!ok) continue;  // above 2^53: left to the full parser
    ++taken;
    EXPECT_EQ(q, buf.data() + s.size()) << s;
    EXPECT_EQ(d, std::strtod(s.c_str(), nullptr)) << s;
  }
  EXPECT_GT(taken, 10000);
  // Hand-checked: 109.177680 is 109177680 / 10^6.
  const char text[] = "109.177680,\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0";
  const char* q = text;
  double d = 0;
  ASSERT_TRUE(detail::parseSimpleNumber(q, text + 11, d));
  EXPECT_EQ(d, 109177680.0 / 1e6);
  EXPECT_EQ(q, text + 10);
}

// The type pass cut into parts: a column of numbers with text in a later
// part reports the count and the file line of its first text, as one pass
// does; a column of text alone and a numeric column report nothing.
TEST_F(ReadAheadTest, TextAmongNumbersIsCountedWithItsFirstLineAcrossParts) {
  for (int helpers : {0, 3}) {
    useHelpers(helpers);
    std::string text = "id,x,name\n";
    for (int i = 0; i < 400; ++i) {
      std::string x = i == 250 ? "oops" : (i == 390 ? "\"1,5\"" : std::to_string(i % 7));
      text += std::to_string(i) + "," + x + ",n" + std::to_string(i) + "\n";
    }
    InputTable t(table("mixed" + std::to_string(helpers), text));
    EXPECT_EQ(t.columns()[1].type, ColumnType::Character);
    EXPECT_EQ(t.nonNumeric(0), nullptr);
    EXPECT_EQ(t.nonNumeric(2), nullptr);  // text only: no numbers among it
    const NonNumeric* o = t.nonNumeric(1);
    ASSERT_NE(o, nullptr) << helpers;
    EXPECT_EQ(o->count, 2);
    EXPECT_EQ(o->firstLine, 252);  // row 250 after the header on line 1
    EXPECT_EQ(o->firstText, "oops");
  }
}

}  // namespace
}  // namespace zul::table
