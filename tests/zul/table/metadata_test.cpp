// The CSV-on-the-Web metadata beside a table: written for every output,
// read when present, and data-set options over both.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "test_util.hpp"
#include "zul/table/metadata.hpp"

namespace zul::table {
namespace {

using ::testing::HasSubstr;
using testing::errorOf;

class Metadata : public testing::ScratchDir {};

TEST_F(Metadata, WrittenForEveryOutputAndReadBack) {
  {
    OutputTable out(ref("fstat"));
    out.setType("factor");
    out.setLabel("Factor analysis statistics");
    out.declareColumn({"_TYPE_", "Type of statistic", ColumnType::Character, 8});
    out.declareColumn({"_NAME_", "", ColumnType::Character, 12});
    out.declareColumn({"x1", "Item one", ColumnType::Numeric, 8});
    double v[3] = {0, 0, 0.5};
    const char* t[3] = {"N       ", "1           ", nullptr};
    out.appendRow(v, t);
    out.commit();
  }
  nlohmann::json doc = nlohmann::json::parse(read("fstat.csv-metadata.json"));
  EXPECT_EQ(doc["@context"], "http://www.w3.org/ns/csvw");
  EXPECT_EQ(doc["url"], "fstat.csv");
  EXPECT_EQ(doc["dc:type"], "FACTOR");
  EXPECT_EQ(doc["dc:title"], "Factor analysis statistics");
  EXPECT_EQ(doc["tableSchema"]["columns"], nlohmann::json::parse(R"([
      {"name": "_TYPE_", "titles": "_TYPE_", "dc:description": "Type of statistic",
       "datatype": {"base": "string", "maxLength": 8}},
      {"name": "_NAME_", "titles": "_NAME_", "datatype": {"base": "string", "maxLength": 12}},
      {"name": "x1", "titles": "x1", "dc:description": "Item one", "datatype": "double"}])"));

  InputTable in(ref("fstat"));
  EXPECT_EQ(in.type(), "FACTOR");
  EXPECT_EQ(in.type8(), "FACTOR  ");
  EXPECT_EQ(in.label(), "Factor analysis statistics");
  // _NAME_ holds "1", a number, yet stays character with its declared width.
  EXPECT_EQ(in.columns()[1].type, ColumnType::Character);
  EXPECT_EQ(in.columns()[1].width, 12);
  EXPECT_EQ(in.columns()[2].label, "Item one");
  // All types came from the metadata: no pass over the data was needed.
  EXPECT_FALSE(in.rowCount().has_value());

  // A name that is not UTF-8 (Latin-1 "caf\xE9") is replaced in the JSON,
  // yet the metadata still belongs to the header: the digits stay text.
  {
    OutputTable out(ref("latin"));
    out.declareColumn({"caf\xE9", "Code", ColumnType::Character, 3});
    const char* t[1] = {"001"};
    out.appendRow(nullptr, t);
    out.commit();
  }
  InputTable latin(ref("latin"));
  EXPECT_TRUE(latin.notes().empty());
  EXPECT_EQ(latin.columns()[0].type, ColumnType::Character);
  EXPECT_EQ(latin.columns()[0].label, "Code");
}

// Writes the one-column table x with the given values.
void writeTable(const TableRef& ref, std::initializer_list<double> values) {
  OutputTable out(ref);
  out.setType("CORR");
  out.declareColumn({"x", "", ColumnType::Numeric, 8});
  for (double v : values) out.appendRow(&v, nullptr);
  out.commit();
}

// A CSV file and its metadata file are one table. A commit that fails
// between its two renames (here by a fault injected there) leaves the new
// CSV file beside the earlier metadata file; a reader refuses that pair,
// naming the table, rather than read the rows with the other's types and
// TYPE. A pair written together, or metadata written by hand without the
// record, reads as before.
TEST_F(Metadata, ACsvFileAndAMetadataFileNotWrittenTogetherAreRefused) {
  writeTable(ref("t"), {1, 2});
  EXPECT_EQ(InputTable(ref("t")).type(), "CORR");
  detail::setFaultBetweenRenames([] { throw TableError("injected fault"); });
  EXPECT_THROW(writeTable(ref("t"), {1, 2, 3}), TableError);
  detail::setFaultBetweenRenames(nullptr);
  EXPECT_EQ(read("t.csv"), "x\r\n1\r\n2\r\n3\r\n");  // the new rows, the old metadata
  const std::string error = errorOf([&] { InputTable(ref("t")); });
  EXPECT_THAT(error, HasSubstr("Table WORK.T: the file"));
  EXPECT_THAT(error, HasSubstr("t.csv-metadata.json was written with"));
  // An edit of the CSV file is caught alike, even when the size stays.
  writeTable(ref("t"), {1, 2});
  write("t.csv", "x\r\n1\r\n3\r\n");
  EXPECT_THROW(InputTable(ref("t")), TableError);
  // Metadata without the record (written by hand) is used as it stands.
  write("h.csv", "x\n1\n2\n");
  write("h.csv-metadata.json", R"({"dc:type": "CORR"})");
  EXPECT_EQ(InputTable(ref("h")).type(), "CORR");
  // Nothing hidden is left behind.
  for (const std::string& f : files()) EXPECT_NE(f[0], '.') << f;
}

// The hash is taken while the table is written, a buffer at a time, and
// checked by a reader over the whole file: the pieces must not matter, and
// any changed byte, wherever it falls in the blocks, must.
TEST_F(Metadata, TheCsvHashDoesNotDependOnHowTheBytesArrive) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += std::to_string(i * 7919 % 1013) + (i % 9 ? "," : "\r\n");
  const std::string whole = detail::hashTextOf("lanes64", bytes.data(), bytes.size());
  for (size_t piece : {1u, 7u, 31u, 32u, 33u, 1000u}) {
    detail::CsvHash h;
    for (size_t at = 0; at < bytes.size(); at += piece)
      h.add(bytes.data() + at, std::min(piece, bytes.size() - at));
    EXPECT_EQ(h.text(), whole) << "pieces of " << piece;
  }
  for (size_t at : {size_t{0}, size_t{17}, size_t{64}, bytes.size() - 1}) {
    std::string changed = bytes;
    changed[at] ^= 1;
    EXPECT_NE(detail::hashTextOf("lanes64", changed.data(), changed.size()), whole) << at;
  }
  EXPECT_EQ(detail::hashTextOf("fnv1a64", "x", 1), "fnv1a64:af63f54c86021707");
}

// Two writers committing one table while a reader reads it: the reader
// always finds a CSV file and a metadata file that belong together.
TEST_F(Metadata, ConcurrentCommitsLeaveAPair) {
  writeTable(ref("t"), {0});
  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0};
  auto writer = [&](double v, int rows) {
    for (int k = 0; k < 40; ++k) {
      OutputTable out(ref("t"));
      out.setType(v > 1 ? "COV" : "CORR");
      out.declareColumn({"x", "", ColumnType::Numeric, 8});
      for (int r = 0; r < rows; ++r) out.appendRow(&v, nullptr);
      out.commit();
    }
  };
  std::thread reader([&] {
    while (!stop) {
      try {
        InputTable in(ref("t"));
      } catch (const TableError&) {
        ++mismatches;
      }
    }
  });
  std::thread a(writer, 1.0, 3), b(writer, 2.0, 5);
  a.join();
  b.join();
  stop = true;
  reader.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_NO_THROW(InputTable(ref("t")));
}

TEST_F(Metadata, DataSetOptionsWinOverMetadataAndOverTheProcedure) {
  write("c.csv-metadata.json", R"({"dc:type": "COV", "dc:title": "from file"})");
  write("c.csv", "x\n1\n");
  InputTable plain(ref("c"));
  EXPECT_EQ(plain.type(), "COV");
  EXPECT_EQ(plain.columns()[0].type, ColumnType::Numeric);  // no schema: from the data
  InputTable opt(ref("c"), DataSetOptions{std::string("corr"), std::string("mine")});
  EXPECT_EQ(opt.type(), "CORR");
  EXPECT_EQ(opt.label(), "mine");

  OutputTable out(ref("o"), DataSetOptions{std::string("ucorr"), std::nullopt});
  out.setType("FACTOR");  // the procedure's own type does not override
  out.setLabel("set by the step");
  EXPECT_EQ(out.type(), "UCORR");
  EXPECT_EQ(out.label(), "set by the step");
  out.declareColumn({"x", "", ColumnType::Numeric, 8});
  out.commit();  // no rows: the header alone
  InputTable back(ref("o"));
  EXPECT_EQ(back.type(), "UCORR");
  EXPECT_EQ(back.varCount(), 1);
  EXPECT_EQ(back.nextByGroup(), 1);
  EXPECT_FALSE(back.nextRecord());
}

TEST_F(Metadata, ColumnsThatDoNotMatchTheHeaderAreIgnoredWithANote) {
  write("m.csv-metadata.json",
        R"({"dc:type": "CORR", "tableSchema": {"columns": [
              {"name": "a", "datatype": "string"}, {"name": "zzz", "datatype": "string"}]}})");
  InputTable t(table("m", "a,b\n1,2\n"));
  EXPECT_EQ(t.type(), "CORR");  // table attributes are kept
  EXPECT_EQ(t.columns()[0].type, ColumnType::Numeric);
  ASSERT_EQ(t.notes().size(), 1u);
  EXPECT_THAT(t.notes()[0], HasSubstr("do not match its header"));
  // Broken JSON is an error, not a table without metadata.
  write("j.csv-metadata.json", "{ not json");
  EXPECT_THAT(errorOf([&] { InputTable(table("j", "x\n1\n")); }), HasSubstr("metadata file of table WORK.J"));
  EXPECT_THAT(errorOf([&] { InputTable(table("j", "x\n1\n")); }),
              HasSubstr("is not valid JSON at line 1, column 4"));
  // A directory of that name names the file and what to do, not a stream's fault.
  std::filesystem::create_directory(dir / "d.csv-metadata.json");
  EXPECT_THAT(errorOf([&] { InputTable(table("d", "x\n1\n")); }),
              HasSubstr("d.csv-metadata.json) is not a regular file; correct it, or remove it"));
}

// What a metadata file written by hand declares is checked against the
// data: text in a column declared numeric, read as missing, and missing
// spellings zul does not take are both told, never lost unseen.
TEST_F(Metadata, DeclarationsByHandThatTheDataContradictAreWarnedOf) {
  write("w.csv-metadata.json",
        R"({"null": ["", "NA", "."], "tableSchema": {"columns": [
              {"name": "a", "datatype": "double"}, {"name": "c", "datatype": "double"},
              {"name": "n", "datatype": "integer"}]}})");
  InputTable t(table("w", "a,c,n\n1,x,2\n2,\"y\",NA\n3,,4\n"));
  EXPECT_EQ(t.columns()[1].type, ColumnType::Numeric);  // read as declared
  EXPECT_EQ(t.rowCount(), 3);  // the data were read to check them
  ASSERT_EQ(t.warnings().size(), 3u);
  EXPECT_THAT(t.warnings()[0], HasSubstr("declares \"NA\" missing"));
  EXPECT_THAT(t.warnings()[1], HasSubstr("declares column c numeric, but 2 values are not "
                                         "numbers (the first, \"x\", on line 2)"));
  EXPECT_THAT(t.warnings()[2], HasSubstr("column n numeric, but 1 value is not a number "
                                         "(the first, \"NA\", on line 3)"));
  // A pair zul wrote is right as it stands: no pass, nothing to tell.
  writeTable(ref("z"), {1, 2});
  InputTable z(ref("z"));
  EXPECT_TRUE(z.warnings().empty());
  EXPECT_FALSE(z.rowCount().has_value());
}

TEST_F(Metadata, TitlesListsLanguageMapsAndVirtualColumns) {
  write("v.csv-metadata.json",
        R"({"tableSchema": {"columns": [
              {"titles": ["k"], "datatype": {"base": "integer"}},
              {"name": "s", "titles": {"en": "Long label"}, "datatype": "string"},
              {"name": "calc", "virtual": true}]}})");
  InputTable t(table("v", "k,s\n1,abc\n"));
  ASSERT_EQ(t.varCount(), 2);
  EXPECT_EQ(t.columns()[0].type, ColumnType::Numeric);
  EXPECT_EQ(t.columns()[1].type, ColumnType::Character);
  EXPECT_EQ(t.columns()[1].label, "Long label");
  EXPECT_EQ(t.columns()[1].width, 3);  // no maxLength: the longest value
}

}  // namespace
}  // namespace zul::table
