// The CSV reader: RFC 4180 quoting, line ends, missing values, column
// types decided from the data, and the errors a broken file gives.
#include <gmock/gmock.h>
#include <sys/mman.h>

#include <cstring>

#include "test_util.hpp"

namespace zul::table {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::errorOf;
using testing::readGroupAsText;
using testing::readNumbers;
using Rows = std::vector<std::vector<double>>;

class CsvReader : public testing::ScratchDir {};

TEST_F(CsvReader, QuotedFieldsKeepDelimitersQuotesAndLineBreaks) {
  InputTable t(table("q", "name,note\n"
                          "\"x, y\",\"he said \"\"hi\"\"\"\n"
                          "\"two\nlines\",plain\"quote\n"
                          "\"\",\"tail\"after\n"));
  ASSERT_EQ(t.varCount(), 2);
  ASSERT_EQ(t.nextByGroup(), 1);
  std::vector<std::string> note;
  std::vector<int64_t> lines;
  std::vector<std::string> name;
  while (t.nextRecord()) {
    name.emplace_back(t.text(0));
    note.emplace_back(t.text(1));
    lines.push_back(t.recordLine());
  }
  EXPECT_THAT(name, ElementsAre("x, y", "two\nlines", ""));
  // A quote inside an unquoted field is a plain character; text after a
  // closing quote is kept.
  EXPECT_THAT(note, ElementsAre("he said \"hi\"", "plain\"quote", "tailafter"));
  // The record with the embedded line break starts on line 3 and takes
  // lines 3 and 4, so the next one starts on line 5.
  EXPECT_THAT(lines, ElementsAre(2, 3, 5));
}

// CRLF, a lone CR, no final line end; blank lines skipped, except in a
// one-column table, where an empty line is a missing value.
TEST_F(CsvReader, LineEndsAndBlankLines) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a,b\r\n1,2\r\n3,4", {"1|2", "3|4"}},
      {"a,b\r1,2\r3,4\r", {"1|2", "3|4"}},
      {"a,b\n\n1,2\n\r\n3,4\n\n", {"1|2", "3|4"}},
      {"x\n1\n\n3\n", {"1", "", "3"}},
  };
  for (const auto& [csv, rows] : cases) {
    InputTable t(table("t", csv));
    ASSERT_EQ(t.nextByGroup(), 1);
    EXPECT_EQ(readGroupAsText(t), rows) << csv;
  }
  // Line numbers count the line breaks inside quoted fields as the rows
  // end, whichever the file uses (the broken row starts on line 5).
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    const std::string csv = "a,b" + end + "1,\"x" + end + end + "y\"" + end + "2" + end;
    EXPECT_THAT(errorOf([&] { InputTable(table("lines", csv)); }),
                HasSubstr("line 5: 1 field where the header has 2")) << csv;
  }
}

TEST_F(CsvReader, EmptyFieldAndLoneDotAreMissing) {
  InputTable t(table("m", "x,y,s\n1,,a\n.,2,.\n,,\".\"\n"));
  EXPECT_EQ(t.columns()[0].type, ColumnType::Numeric);
  EXPECT_EQ(t.columns()[1].type, ColumnType::Numeric);
  // A quoted "." is text, so s is character.
  EXPECT_EQ(t.columns()[2].type, ColumnType::Character);
  ASSERT_EQ(t.nextByGroup(), 1);
  ReadList list(t, 3);
  list.bind(0, 1, false, 8);
  list.bind(1, 2, false, 8);
  list.bind(2, 3, true, 2);
  double v[2];
  char s[2];
  ASSERT_TRUE(list.read(v, s));
  EXPECT_EQ(v[0], 1.0);
  EXPECT_TRUE(isMissing(v[1]));
  EXPECT_EQ(std::string(s, 2), "a ");
  ASSERT_TRUE(list.read(v, s));
  EXPECT_TRUE(isMissing(v[0]));
  EXPECT_EQ(v[1], 2.0);
  EXPECT_EQ(std::string(s, 2), "  ");  // unquoted "." is a blank value
  ASSERT_TRUE(list.read(v, s));
  EXPECT_TRUE(isMissing(v[0]) && isMissing(v[1]));
  EXPECT_EQ(std::string(s, 2), ". ");
  EXPECT_FALSE(list.read(v, s));
  EXPECT_TRUE(list.remark().empty());
}

TEST_F(CsvReader, ColumnTypesAndWidthsFromTheData) {
  // Column by column: numbers in every accepted spelling; one word among
  // numbers; an exponent without digits; inf and nan (not numbers here);
  // missing values only; a quoted number; a leading plus.
  InputTable t(table("types",
                     "num,word,badexp,special,empty,quoted,plus\n"
                     "1, 7 ,1e,inf,,\"2.5\",+3\n"
                     "2.5e3,abcdef,2,1,.,\"-1\",+.5\n"
                     "-.5,3,3,nan,,4,-2\n"
                     "1.,x,4,2,,5,1E+2\n"));
  std::vector<ColumnType> types;
  for (const auto& c : t.columns()) types.push_back(c.type);
  using CT = ColumnType;
  EXPECT_THAT(types, ElementsAre(CT::Numeric, CT::Character, CT::Character, CT::Character,
                                 CT::Numeric, CT::Numeric, CT::Numeric));
  EXPECT_EQ(t.columns()[1].width, 6);  // "abcdef"
  EXPECT_EQ(t.columns()[2].width, 2);  // "1e"
  EXPECT_EQ(t.columns()[0].width, 8);
  ASSERT_TRUE(t.rowCount().has_value());
  EXPECT_EQ(*t.rowCount(), 4);

  ASSERT_EQ(t.nextByGroup(), 1);
  // Columns num, quoted and plus.
  EXPECT_EQ(readNumbers(t, {1, 6, 7}),
            (Rows{{1, 2.5, 3}, {2500, -1, 0.5}, {-0.5, 4, -2}, {1, 5, 100}}));
}

TEST_F(CsvReader, WidthCountsNumbersSeenBeforeAColumnTurnsCharacter) {
  // The early rows are plain numbers; the word in the last row makes b
  // character, and its width is still that of its longest value, 123456789.
  InputTable t(table("late", "a,b\n1,123456789\n2,-5\n3,.\n4,abc\n5,6\n"));
  EXPECT_EQ(t.columns()[0].type, ColumnType::Numeric);
  EXPECT_EQ(t.columns()[1].type, ColumnType::Character);
  EXPECT_EQ(t.columns()[1].width, 9);
  EXPECT_EQ(*t.rowCount(), 5);
}

TEST_F(CsvReader, HeaderNamesBomEmptyAndDuplicateNames) {
  InputTable t(table("h", "\xEF\xBB\xBF id , ,\"Last Name\"\n1,2,3\n"));
  ASSERT_EQ(t.varCount(), 3);
  EXPECT_EQ(t.columns()[0].name, "id");  // BOM and blanks removed
  EXPECT_EQ(t.columns()[1].name, "VAR2");
  EXPECT_EQ(t.columns()[2].name, "Last Name");
  EXPECT_EQ(t.notes().size(), 1u);
  EXPECT_EQ(t.varNumber("LAST NAME"), 3);
  EXPECT_EQ(t.varNumber("ID"), 1);
  EXPECT_EQ(t.varNumber("nope"), 0);

  EXPECT_THAT(errorOf([&] { InputTable(table("dup", "a,b,A\n1,2,3\n")); }), HasSubstr("appears twice"));
  // The name given to a column without one may be taken by the header:
  // the message says which column to name, in either order.
  EXPECT_THAT(errorOf([&] { InputTable(table("v2", "VAR2,,c\n1,2,3\n")); }),
              HasSubstr("column 2 has no name, and VAR2, the name it would be given, is that "
                        "of column 1. Name the column"));
  EXPECT_THAT(errorOf([&] { InputTable(table("v1", ",var1\n1,2\n")); }),
              HasSubstr("column 1 has no name, and VAR1, the name it would be given, is that "
                        "of column 2."));
  EXPECT_THROW(InputTable(table("empty", "")), TableError);

  // A name longer than a variable name is refused, not cut to 32 bytes
  // (two long names could then be taken for one another).
  InputTable ok(table("n32", std::string(32, 'v') + ",b\n1,2\n"));
  EXPECT_EQ(ok.columns()[0].name.size(), 32u);
  const std::string tooLong = errorOf([&] { InputTable(table("long", "a," + std::string(200, 'v') + "\n1,2\n")); });
  EXPECT_THAT(tooLong, HasSubstr("the name of column 2 (vvvv"));
  EXPECT_THAT(tooLong, HasSubstr("is 200 characters long; a variable name has at most 32"));
  // Counted in bytes, told in both; the start shown ends on a whole letter.
  std::string umlauts;
  for (int i = 0; i < 21; ++i) umlauts += "\xC3\xA4";
  const std::string wide = errorOf([&] { InputTable(table("wide", "a" + umlauts + "\n1\n")); });
  EXPECT_THAT(wide, HasSubstr("(a" + umlauts.substr(0, 38) + "...) is 43 bytes long (22 "
                              "characters, some of several bytes); a variable name has at most "
                              "32 bytes."));
}

// A broken file, a missing one, or one with another separator: refused,
// naming the table and the line.
TEST_F(CsvReader, BrokenMissingAndForeignFilesAreNamed) {
  const std::pair<std::string, std::string> cases[] = {
      {"a,b\n1,2\n\n3\n4,5\n", "WORK.T, line 4: 1 field where the header has 2"},
      {"a,b\n1,2\n3,\"never\nclosed\n", "starts on line 3 is never closed"},
      {"a;b\n1;2\n", "the header has 1 column; zul reads comma-separated files"},
      {"a\tb\n1\t2\n", "the header has 1 column; zul reads comma-separated files"},
      {"a\n1\n2,3\n", "line 3: 2 fields where the header has 1 column. Give every row one field"},
  };
  for (const auto& [csv, error] : cases)
    EXPECT_THAT(errorOf([&] { InputTable(table("t", csv)); }), HasSubstr(error)) << csv;
  EXPECT_THAT(errorOf([&] { InputTable(ref("absent")); }), HasSubstr("Table WORK.ABSENT does not exist"));
  EXPECT_EQ(InputTable(table("one", "a\n1\n2\n")).varCount(), 1);  // one column of its own is fine
}

// Which columns hold no value at all: empty fields and "." do not count,
// and rows of plain numbers checked whole do not hide an empty column,
// wherever in the file (and in which part of a threaded pass) it is.
TEST_F(CsvReader, ColumnsWithoutAnyValueAreKnown) {
  std::string csv = "a,b,c,d\n";
  for (int i = 0; i < 20000; ++i) csv += std::to_string(i) + ",," + std::to_string(i % 7) + ",.\n";
  csv += "1,,x,.\n";
  InputTable t(table("sparse", csv));
  EXPECT_TRUE(t.hasValues(0));
  EXPECT_FALSE(t.hasValues(1));
  EXPECT_TRUE(t.hasValues(2));
  EXPECT_FALSE(t.hasValues(3));
  InputTable empty(table("headeronly", "a,b\n"));
  EXPECT_EQ(empty.rowCount().value(), 0);
  EXPECT_FALSE(empty.hasValues(0));
  EXPECT_FALSE(empty.hasValues(1));
}

TEST_F(CsvReader, FileEndingExactlyAtAPageBoundary) {
  // The tokenizer relies on a zero byte after the mapping; a file whose
  // size is a multiple of the page size has no slack in its last page.
  std::string csv = "x,y\n";
  int i = 0;
  while (csv.size() < 8192 - 16) csv += std::to_string(i++ % 10) + ",1\n";
  csv += "7,";
  while (csv.size() < 8192) csv += '9';
  ASSERT_EQ(csv.size(), 8192u);
  const std::string last = csv.substr(csv.rfind(',') + 1);
  InputTable t(table("page", csv));
  ASSERT_EQ(t.nextByGroup(), 1);
  std::string lastSeen;
  int64_t n = 0;
  while (t.nextRecord()) {
    lastSeen = std::string(t.text(1));
    ++n;
  }
  EXPECT_EQ(n, *t.rowCount());
  EXPECT_EQ(lastSeen, last);

  // The same with a short number last, which the read path takes eight
  // bytes at a time: the load reaches past the end of the file.
  csv.resize(csv.rfind('\n') + 1);       // drop the long last line
  const size_t pad = 8192 - csv.size() - 10;  // "1,<zeros>\n" then "7,-12.5"
  csv += "1," + std::string(pad, '0') + "\n7,-12.5";
  ASSERT_EQ(csv.size(), 8192u);
  InputTable u(table("page2", csv));
  ASSERT_EQ(u.nextByGroup(), 1);
  const Rows rows = readNumbers(u, {2});
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back(), std::vector<double>{-12.5});
}

TEST_F(CsvReader, NulBytesInsideAFieldAreData) {
  std::string csv = std::string("s,n\nab") + '\0' + "c,1\n";
  InputTable t(table("nul", csv));
  ASSERT_EQ(t.nextByGroup(), 1);
  ASSERT_TRUE(t.nextRecord());
  EXPECT_EQ(t.text(0), std::string_view("ab\0c", 4));
  EXPECT_EQ(t.number(1), 1.0);
}

TEST_F(CsvReader, ReadListSlotsPackNumbersAndTexts) {
  InputTable t(table("slots", "a,name,b,code\n1.5,Smith,2,7\n"));
  ASSERT_EQ(t.nextByGroup(), 1);
  ReadList list(t, 4);
  // Bound out of column order: b, name (width 3, cut), a, code read as text.
  list.bind(0, 3, false, 8);
  list.bind(1, 2, true, 3);
  list.bind(2, 1, false, 8);
  list.bind(3, 4, true, 4);
  double v[2] = {0, 0};
  char text[7];
  ASSERT_TRUE(list.read(v, text));
  EXPECT_EQ(list.numericCount(), 2);
  EXPECT_EQ(list.textBytes(), 7);
  EXPECT_EQ(v[0], 2.0);
  EXPECT_EQ(v[1], 1.5);
  EXPECT_EQ(std::string(text, 7), "Smi7   ");
  EXPECT_THROW(list.bind(4, 1, false, 8), TableError);
  EXPECT_THROW(list.bind(0, 5, false, 8), TableError);
  EXPECT_THROW(list.bind(0, 2, true, 0), TableError);
}

TEST_F(CsvReader, NumbersThatDoNotParseInADeclaredNumericColumnAreRemarked) {
  // The metadata, written by hand, declares x numeric: the bad value is met
  // while reading (the warning of the type pass that checks such metadata
  // is Metadata.DeclarationsByHandThatTheDataContradictAreWarnedOf's).
  write("bad.csv-metadata.json",
        R"({"@context": "http://www.w3.org/ns/csvw", "url": "bad.csv",
            "tableSchema": {"columns": [{"name": "x", "datatype": "double"}]}})");
  InputTable t(table("bad", "x\n1\noops\n1e999\n4\n"));
  ASSERT_EQ(t.nextByGroup(), 1);
  ReadList list(t, 1);
  list.bind(0, 1, false, 8);
  double v;
  ASSERT_TRUE(list.read(&v, nullptr));
  EXPECT_TRUE(list.remark().empty());
  ASSERT_TRUE(list.read(&v, nullptr));
  EXPECT_TRUE(isMissing(v));
  EXPECT_THAT(list.remark(), HasSubstr("WORK.BAD, line 3: \"oops\" in column x is not a number"));
  // A number beyond the range of a double stops the read, naming it:
  // taken as missing it would silently drop the observation.
  EXPECT_THAT(errorOf([&] { list.read(&v, nullptr); }),
              HasSubstr("WORK.BAD, line 4, column x: the value 1e999 is beyond"));
}

TEST_F(CsvReader, NumbersBeyondTheRangeOfADoubleStopTheRead) {
  // Without metadata the type pass takes 1e400 and -2e308 for numbers (their
  // shape); the read names each, in a plain and in a quoted field, on one
  // thread and with rows parsed ahead. 1e-400 is only rounded to 0.
  for (bool threaded : {false, true}) {
    for (const char* cell : {"1e400", "\"-2e308\""}) {
      std::string text = "x,y\n";
      for (int i = 0; i < 5000; ++i) text += std::to_string(i) + ",1e-400\n";
      text += std::string("7,") + cell + "\n";
      InputTable t(table("range", text));
      ASSERT_EQ(t.columns()[1].type, ColumnType::Numeric);
      t.setThreadedRead(threaded);
      ASSERT_EQ(t.nextByGroup(), 1);
      ReadList list(t, 2);
      testing::bindNumbers(list, {1, 2});
      double v[2];
      int rows = 0;
      const std::string error = errorOf([&] {
        while (list.read(v, nullptr)) rows += v[1] == 0.0;
      });
      EXPECT_THAT(error, HasSubstr("line 5002, column y: the value")) << cell;
      EXPECT_EQ(rows, 5000);
    }
  }
}

}  // namespace
}  // namespace zul::table

#include <random>

#include "zul/table/csv.hpp"

namespace zul::table {
namespace {

// The whole-row check of the type pass may answer "not sure", but when it
// accepts a row every field must be missing or a number by the field-by-
// field rule, the field count must match, and the next row must start
// right after the line end. Random rows of awkward fields, with the
// fields placed across the 64-byte blocks in every way.
TEST(WholeRowCheck, AcceptsOnlyRowsThatTheFieldRuleAccepts) {
  const std::vector<std::string> tokens = {
      "", ".", "-", "-.", "-.5", "1", "12.5", "1.2.3", "--1", "1-2", "5.", ".5", "1e5", "+1",
      " 1", "a", "\"1\"", "0", "123456789012.5", "-0.25", "..", "7-", "1..2", "-12345678",
      "3.14159265358979", "1.5\r"};
  std::mt19937_64 rng(11);
  int accepted = 0;
  for (int iter = 0; iter < 40000; ++iter) {
    const int nCols = 1 + static_cast<int>(rng() % 30);
    int nFields = nCols + static_cast<int>(rng() % 9 == 0) - static_cast<int>(rng() % 9 == 0);
    if (nFields < 1) nFields = 1;
    bool simple = rng() % 2 == 0;  // only plain numbers and missing values
    std::vector<std::string> fields;
    std::string row;
    for (int f = 0; f < nFields; ++f) {
      std::string t = simple ? std::vector<std::string>{"", ".", "1", "12.5", "5.", ".5", "0",
                                                        "-0.25", "123456789012.5",
                                                        "3.14159265358979"}[rng() % 10]
                             : tokens[rng() % tokens.size()];
      fields.push_back(t);
      if (f) row += ',';
      row += t;
    }
    const char* ends[] = {"\n", "\r\n", "\r", ""};
    const std::string lineEnd = ends[rng() % 4];
    // A following row, unless this one is the last of the file.
    std::string buf = row + lineEnd + (lineEnd.empty() ? "" : "9,9\n");
    const size_t rowEnd = row.size() + lineEnd.size();
    buf.append(96, '\0');  // the zero page after a mapped file
    const char* end = buf.data() + (rng() % 2 ? buf.size() - 96 : rowEnd);
    ASSERT_LE(static_cast<size_t>(end - buf.data()) + 65, buf.size());
    const char* next = nullptr;
    bool fast = detail::fastNumericRow(buf.data(), end, nCols, next);
    if (!fast) {
      continue;
    }
    ++accepted;
    ASSERT_EQ(nFields, nCols) << row;
    // A last field ending in CR before an LF is a CRLF line end.
    if (lineEnd == "\n" && !fields.back().empty() && fields.back().back() == '\r')
      fields.back().pop_back();
    ASSERT_TRUE(lineEnd == "\n" || lineEnd == "\r\n") << row;
    ASSERT_EQ(next, buf.data() + rowEnd) << row;
    for (const auto& t : fields)
      ASSERT_NE(detail::classifyNumber(t.data(), t.size(), false), detail::NumberClass::Other)
          << "field \"" << t << "\" in row " << row;
  }
  EXPECT_GT(accepted, 5000);  // the fast answer is the common one
}

// A quoted field of more than 4 GiB keeps its length: a 32-bit count
// would wrap to a few bytes, and the row would read as another. The
// field's bytes are zeros of an untouched mapping, so nothing but its
// quotes is written to memory; still the reader scans them thrice, half a
// minute on a busy machine, so it runs on request
// (--gtest_also_run_disabled_tests), and the widths are checked always.
static_assert(sizeof(detail::Field::n) >= 8 && sizeof(detail::Field::arenaOffset) >= 8,
              "a CSV field of 4 GiB or more must keep its length and arena offset");

TEST(CsvRow, DISABLED_FieldPastFourGibibytesKeepsItsLength) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a 4 GiB scan under a sanitizer";
#endif
  const size_t field = (size_t{1} << 32) + 3, size = field + 16;
  void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (map == MAP_FAILED) GTEST_SKIP() << "no room to map " << size << " bytes";
  ::madvise(map, size, MADV_HUGEPAGE);  // read through the huge zero page: fewer faults
  char* data = static_cast<char*>(map);
  data[0] = '"';
  std::memcpy(data + 1 + field, "\",x\n", 4);
  detail::Row row;
  row.fields.resize(2);
  ASSERT_EQ(detail::readRow(data, field + 5, 0, 1, true, row), detail::RowStatus::Ok);
  EXPECT_EQ(row.nFields, 2);
  EXPECT_EQ(row.text(0).size(), field);
  EXPECT_EQ(row.text(1), "x");
  EXPECT_EQ(row.end, field + 5);
  ::munmap(map, size);
}

}  // namespace
}  // namespace zul::table
