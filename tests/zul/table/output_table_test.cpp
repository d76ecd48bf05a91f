// Output tables: the text written, atomic commit and abort, columns copied
// from an input, and the round trip of values through a file.
#include <gmock/gmock.h>

#include <sys/stat.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "test_util.hpp"

namespace zul::table {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::readGroupAsText;
namespace fs = std::filesystem;

class OutputTables : public testing::ScratchDir {};

Column num(const std::string& name, const std::string& label = "") {
  return Column{name, label, ColumnType::Numeric, 8};
}
Column chr(const std::string& name, int width, const std::string& label = "") {
  return Column{name, label, ColumnType::Character, width};
}

TEST_F(OutputTables, WritesRfc4180TextAndNothingBeforeCommit) {
  OutputTable out(ref("o"));
  out.declareColumn(chr("s", 10));
  out.declareColumn(num("x"));
  out.columnsDone();
  const std::string rows[] = {"a,b", "say \"hi\"", "two\nlines", ".", "", " lead"};
  const double x[] = {1.5, missingValue(), -0.0, 1e-300, 2, 0.1};
  for (int i = 0; i < 6; ++i) {
    std::string padded = rows[i];
    padded.resize(10, ' ');  // character values arrive blank padded
    const char* texts[2] = {padded.c_str(), nullptr};
    const double values[2] = {0, x[i]};
    out.appendRow(values, texts);
  }
  // Only the hidden temporary file exists so far.
  ASSERT_EQ(files().size(), 1u);
  EXPECT_EQ(files()[0].rfind(".o.csv.", 0), 0u);
  out.commit();
  EXPECT_THAT(files(), ElementsAre("o.csv", "o.csv-metadata.json"));
  EXPECT_EQ(read("o.csv"),
            "s,x\r\n"
            "\"a,b\",1.5\r\n"
            "\"say \"\"hi\"\"\",\r\n"
            "\"two\nlines\",-0\r\n"
            "\".\",1e-300\r\n"
            ",2\r\n"
            " lead,0.1\r\n");
}

TEST_F(OutputTables, AbortAndDestructorLeaveTheEarlierTableIntact) {
  write("keep.csv", "old\n1\n");
  {
    OutputTable out(ref("keep"));
    out.declareColumn(num("new"));
    double v = 2;
    out.appendRow(&v, nullptr);
    out.abort();
    EXPECT_THROW(out.appendRow(&v, nullptr), TableError);
    EXPECT_THROW(out.commit(), TableError);
  }
  {
    OutputTable out(ref("keep"));  // a failed step: never committed
    out.declareColumn(num("new"));
    double v = 3;
    out.appendRow(&v, nullptr);
  }
  EXPECT_THAT(files(), ElementsAre("keep.csv"));
  EXPECT_EQ(read("keep.csv"), "old\n1\n");
}

TEST_F(OutputTables, ReplacingTheTableBeingReadKeepsTheReaderOnTheOldRows) {
  InputTable in(table("same", "x\n1\n2\n3\n"));
  ASSERT_EQ(in.nextByGroup(), 1);
  ASSERT_TRUE(in.nextRecord());
  OutputTable out(ref("same"));
  out.declareColumn(num("y"));
  double v = 9;
  out.appendRow(&v, nullptr);
  out.commit();
  EXPECT_THAT(readGroupAsText(in), ElementsAre("2", "3"));
  InputTable again(ref("same"));
  ASSERT_EQ(again.nextByGroup(), 1);
  EXPECT_THAT(readGroupAsText(again), ElementsAre("9"));
}

TEST_F(OutputTables, ByColumnsCarryTheGroupNotTheRowReadAhead) {
  // Statistics rows are appended after the whole group has been read,
  // when the reader has already looked at the next group's first row.
  InputTable in(table("in", "grp,sub,x\nA,1,1\nA,1,2\nB,2,3\n"));
  in.setBy({{{"grp", false}, {"sub", false}}, false});
  OutputTable out(ref("stat"));
  out.copyByColumns(in);
  out.declareColumn(chr("_TYPE_", 8));
  out.declareColumn(num("x"));
  out.columnsDone();
  while (in.nextByGroup() > 0) {
    double sum = 0, n = 0;
    while (in.nextRecord()) {
      sum += in.number(2);
      ++n;
    }
    double values[2] = {0, sum / n};
    const char* texts[2] = {"MEAN    ", nullptr};
    out.appendRow(values, texts);
  }
  out.commit();
  // Means by hand: group A (1 + 2) / 2 = 1.5, group B 3.
  EXPECT_EQ(read("stat.csv"), "grp,sub,_TYPE_,x\r\nA,1,MEAN,1.5\r\nB,2,MEAN,3\r\n");
}

TEST_F(OutputTables, AllColumnsCopiedFromTheCurrentRecord) {
  InputTable in(table("in", "id,name,x,Factor1\n1,\"Doe, J\",2.5,9\n2,,.,9\n"));
  OutputTable out(ref("scores"));
  out.copyAllColumns(in, {"FACTOR1"});  // a column the step declares itself
  int f = out.declareColumn(num("Factor1"));
  out.columnsDone();
  EXPECT_EQ(f, 0);
  EXPECT_EQ(out.columns().size(), 4u);
  ASSERT_EQ(in.nextByGroup(), 1);
  double score = 0;
  while (in.nextRecord()) {
    score += 0.5;
    out.appendRow(&score, nullptr);
  }
  out.commit();
  EXPECT_EQ(read("scores.csv"), "id,name,x,Factor1\r\n1,\"Doe, J\",2.5,0.5\r\n2,,,1\r\n");
}

TEST_F(OutputTables, CopiedNumbersAreWrittenInShortestForm) {
  // Each input spelling and the shortest text of its value (by hand).
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"12.3456", "12.3456"}, {"-0.5", "-0.5"}, {"1.50", "1.5"},   {"007", "7"},
      {"1000000", "1e+06"},   {"0.00001", "1e-05"}, {".5", "0.5"}, {"7.", "7"},
      {"-0", "-0"},           {"0.05", "0.05"},   {"1e3", "1000"}, {"+2", "2"},
      // Longer plain decimals: copied while 15 digits or fewer and shortest.
      {"10.523412", "10.523412"}, {"-123456.789012345", "-123456.789012345"},
      {"0.1234567891", "0.1234567891"}, {"10.5234120", "10.523412"},
      {"1234567890123", "1234567890123"}, {"12345678901230", "12345678901230"},
      {"0.000012345678", "1.2345678e-05"}, {"12.3456789012345678", "12.345678901234567"}};
  std::string csv = "x\n";
  for (const auto& c : cases) csv += c.first + "\n";
  InputTable in(table("in", csv));
  OutputTable out(ref("out"));
  out.copyAllColumns(in);
  ASSERT_EQ(in.nextByGroup(), 1);
  while (in.nextRecord()) out.appendRow(nullptr, nullptr);
  out.commit();
  std::string expect = "x\r\n";
  for (const auto& c : cases) expect += c.second + "\r\n";
  EXPECT_EQ(read("out.csv"), expect);
}

// A row whose copied fields all read as written goes out as one piece; a
// row with any field that must be rewritten goes field by field, and both
// give the same bytes as copying each field.
TEST_F(OutputTables, CopiedRowsMatchTheFieldByFieldForm) {
  InputTable in(table("in",
                      "a,t,b\n1.5,x,-2\n1.50,x,-2\n1.5,x ,-2\n1.5,.,-2\n1.5,\"q\",-2\n.,,2\n,,\n"));
  OutputTable out(ref("out"));
  out.copyAllColumns(in);
  const int score = out.declareColumn(num("s"));
  ASSERT_EQ(in.nextByGroup(), 1);
  double v = 0.25;
  while (in.nextRecord()) out.appendRow(&v, nullptr);
  out.commit();
  EXPECT_EQ(score, 0);
  EXPECT_EQ(read("out.csv"),
            "a,t,b,s\r\n1.5,x,-2,0.25\r\n1.5,x,-2,0.25\r\n1.5,x,-2,0.25\r\n1.5,,-2,0.25\r\n"
            "1.5,q,-2,0.25\r\n,,2,0.25\r\n,,,0.25\r\n");
}

// Random spellings of decimals (leading and trailing zeros, 1 to 17
// digits, signs, points anywhere) copied three to a row: each field
// written must be the shortest text of the value it reads as.
TEST_F(OutputTables, CopiedFieldsAreTheShortestTextOfTheirValue) {
  std::mt19937 gen(11);
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    std::string s = gen() % 3 == 0 ? "-" : "";
    const int digits = 1 + static_cast<int>(gen() % 17);
    const int point = static_cast<int>(gen() % (digits + 2)) - 1;
    for (int d = 0; d < digits; ++d) {
      if (d == point) s += '.';
      s += static_cast<char>('0' + (gen() % 4 == 0 ? 0 : gen() % 10));
    }
    texts.push_back(s);
  }
  std::string csv = "a,b,c\n";
  for (size_t i = 0; i < texts.size(); i += 3)
    csv += texts[i] + "," + texts[i + 1] + "," + texts[i + 2] + "\n";
  InputTable in(table("in", csv));
  OutputTable out(ref("out"));
  out.copyAllColumns(in);
  ASSERT_EQ(in.nextByGroup(), 1);
  while (in.nextRecord()) out.appendRow(nullptr, nullptr);
  out.commit();
  std::istringstream written(read("out.csv"));
  std::string line, field;
  std::getline(written, line);  // the header
  for (size_t i = 0; i < texts.size(); i += 3) {
    ASSERT_TRUE(std::getline(written, line));
    line.pop_back();  // the CR of CRLF
    std::istringstream row(line);
    for (size_t k = i; k < i + 3; ++k) {
      std::getline(row, field, ',');
      double value = 0;
      ASSERT_TRUE(parseNumber(texts[k], value)) << texts[k];
      EXPECT_EQ(field, formatNumber(value)) << texts[k];
    }
  }
}

TEST_F(OutputTables, DeclarationErrors) {
  OutputTable out(ref("bad"));
  out.declareColumn(num("x"));
  EXPECT_THROW(out.declareColumn(num("X")), TableError);
  EXPECT_THROW(out.declareColumn(num("")), TableError);
  EXPECT_THROW(out.declareColumn(chr("s", 0)), TableError);
  out.columnsDone();
  EXPECT_THROW(out.declareColumn(num("late")), TableError);
  TableRef r;
  r.file = dir / "no-such-dir" / "x.csv";
  EXPECT_THAT(testing::errorOf([&] { OutputTable out(r); }), HasSubstr("does not exist"));
}

TEST_F(OutputTables, APipeOrALinkToADeviceIsRefusedAndLeftAsItWas) {
  // The commit's rename would have put a plain file in their place.
  const fs::path fifo = dir / "pipe.csv", link = dir / "null.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("/dev/null", link);
  for (const fs::path& file : {fifo, link}) {
    TableRef r;
    r.file = file;
    EXPECT_THAT(testing::errorOf([&] { OutputTable out(r); }), HasSubstr("no plain file")) << file;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), "/dev/null");
  // A write-protected table, or metadata file, is not renamed over either.
  for (const char* name : {"kept.csv", "kept2.csv-metadata.json"}) {
    const fs::path file = dir / name;
    { std::ofstream(file) << "earlier\n"; }
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    TableRef r;
    r.file = dir / (std::string(name).substr(0, std::string(name).find('.')) + ".csv");
    EXPECT_THAT(testing::errorOf([&] { OutputTable out(r); }), HasSubstr("write-protected"))
        << name;
    EXPECT_EQ(fs::file_size(file), 8u);
  }
}

// Every double written reads back bit for bit: the extremes of the
// denormals and of the range, the ties about 2^53 and 1e23, the sum 0.1 + 0.2.
TEST_F(OutputTables, ValuesSurviveTheRoundTripThroughAFile) {
  const double numbers[] = {0.1, 1e-300, 4.9406564584124654e-324, 2.2250738585072009e-308,
                            2.2250738585072014e-308, -0.0, 0.0, 1.0 / 3.0, -2.0 / 7.0, DBL_MAX,
                            -DBL_MAX, 123456789012345678.0, 9007199254740993.0, 1e22, 1e23,
                            0.30000000000000004, missingValue()};
  const std::vector<std::string> texts = {"plain", "a,b", "q\"uote", "line\nbreak", ".",
                                          "  lead", "123", ""};
  OutputTable out(ref("rt"));
  out.declareColumn(num("x"));
  out.declareColumn(chr("s", 12));
  for (size_t i = 0; i < std::size(numbers); ++i) {
    std::string padded = texts[i % texts.size()];
    padded.resize(12, ' ');
    const char* t[2] = {nullptr, padded.c_str()};
    out.appendRow(&numbers[i], t);
  }
  out.commit();

  InputTable in(ref("rt"));
  ASSERT_EQ(in.columns()[1].type, ColumnType::Character);  // kept by the metadata
  ASSERT_EQ(in.nextByGroup(), 1);
  ReadList list(in, 2);
  list.bind(0, 1, false, 8);
  list.bind(1, 2, true, 12);
  double v;
  char s[12];
  for (size_t i = 0; i < std::size(numbers); ++i) {
    ASSERT_TRUE(list.read(&v, s));
    if (isMissing(numbers[i])) {
      EXPECT_TRUE(isMissing(v));
    } else {
      EXPECT_EQ(std::memcmp(&v, &numbers[i], sizeof v), 0) << formatNumber(numbers[i]);
    }
    std::string padded = texts[i % texts.size()];
    padded.resize(12, ' ');
    EXPECT_EQ(std::string(s, 12), padded);
  }
  EXPECT_FALSE(list.read(&v, s));
}

}  // namespace
}  // namespace zul::table
