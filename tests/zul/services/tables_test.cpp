// Tables through the service vector: an input opened as the parser opens
// it, an output whose columns copy the input's, BY groups, and the commit
// or removal at the end of the step.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zul/messages/messages.hpp"
#include "zul/services/service_vector.hpp"
#include "zul/services/session.hpp"
#include "zul/table/metadata.hpp"
#include "zul/table/read_ahead.hpp"

namespace fs = std::filesystem;
namespace zs = zul::services;

namespace {

template <class F>
F svc(int id) {
  return reinterpret_cast<F>(zul_service(zs::serviceVector(), id / 1000, id % 1000));
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Tables : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("zul_tables_test_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "in.csv") << "g,x,f1\nA,1,10\nA,2,20\nB,3,30\n";
    zs::session().libraries = std::make_unique<zul::table::Libraries>(dir);
    zs::session().step = &step;
  }
  void TearDown() override {
    zs::session().step = nullptr;
    fs::remove_all(dir);
  }
  // member opened as the parser opens it (TYPE= given when type is not
  // empty), as an input or as an output.
  zul_table* open(const std::string& member, bool output = false, const std::string& type = "") {
    zul::parse::TableSpec s;
    s.member = member;
    s.hasType = !type.empty();
    s.type = type;
    std::string error;
    zul_table* t = output ? opener.openOutput(s, error) : opener.openInput(s, error);
    EXPECT_NE(t, nullptr) << member << ": " << error;
    return t;
  }
  fs::path dir;
  zs::StepContext step;
  zs::HostTableOpener opener;
};

TEST_F(Tables, OutputCopiesInputColumnsButADeclaredNameWins) {
  zul_table* in = open("in");
  zul_table* out = open("scores", true);
  ASSERT_TRUE(in && out);
  EXPECT_EQ(svc<zul_var_count_fn>(ZUL_VAR_COUNT)(in), 3);
  EXPECT_EQ(svc<zul_var_number_fn>(ZUL_VAR_NUMBER)(in, "F1", 2), 3);
  EXPECT_EQ(svc<zul_var_number_fn>(ZUL_VAR_NUMBER)(in, "nope", 4), 0);
  zul_var_desc d;
  ASSERT_EQ(svc<zul_var_desc_fn>(ZUL_VAR_DESC)(in, 1, &d), 0);
  EXPECT_STREQ(d.name, "g");
  EXPECT_EQ(d.type, 2);

  // Like OUT=: every input column, then a factor column named f1 that
  // replaces the input's f1.
  ASSERT_EQ(svc<zul_copy_all_columns_fn>(ZUL_COPY_ALL_COLUMNS)(out, in), 0);
  zul_column_desc f1{"f1", "Factor 1", 0, 8};
  ASSERT_EQ(svc<zul_declare_column_fn>(ZUL_DECLARE_COLUMN)(out, &f1), 0);
  EXPECT_NE(svc<zul_declare_column_fn>(ZUL_DECLARE_COLUMN)(out, &f1), 0);  // twice
  ASSERT_EQ(svc<zul_columns_done_fn>(ZUL_COLUMNS_DONE)(out), 0);
  ASSERT_EQ(svc<zul_attribute_fn>(ZUL_ATTRIBUTE)(out, ZUL_ATTR_SET_TYPE,
                                                 const_cast<char*>("FACTOR")), 0);

  auto next = svc<zul_next_by_group_fn>(ZUL_NEXT_BY_GROUP);
  ASSERT_EQ(next(in), 1);
  zul_readlist* list = svc<zul_readlist_create_fn>(ZUL_READLIST_CREATE)(in, 1);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(svc<zul_readlist_bind_fn>(ZUL_READLIST_BIND)(list, 0, 2, 0, 8), 0);
  auto read = svc<zul_read_next_fn>(ZUL_READ_NEXT);
  auto append = svc<zul_append_row_fn>(ZUL_APPEND_ROW);
  double x = 0;
  int32_t status = -1;
  while (read(list, &x, nullptr, &status) == 1) {
    EXPECT_EQ(status, 0);
    double score = x / 2;
    ASSERT_EQ(append(out, &score, nullptr), 0);
  }
  EXPECT_EQ(next(in), 0);  // no BY variables: one group

  ASSERT_TRUE(zs::finishTables(step, true));
  std::string csv = slurp(dir / "scores.csv");
  EXPECT_EQ(csv, "g,x,f1\r\nA,1,0.5\r\nA,2,1\r\nB,3,1.5\r\n");  // RFC 4180 line ends
  std::string meta = slurp(dir / "scores.csv-metadata.json");
  EXPECT_NE(meta.find("FACTOR"), std::string::npos);
  // The table just created is the default input of the next step.
  ASSERT_TRUE(zs::session().libraries->lastCreated().has_value());
  EXPECT_EQ(zs::session().libraries->lastCreated()->member, "scores");
}

TEST_F(Tables, StoppedStepsAndDroppedOutputsLeaveNoTable) {
  std::ofstream(dir / "old.csv") << "a\n1\n";
  zul_table* in = open("in");
  zul_table* out = open("old", true);
  ASSERT_TRUE(in && out && open("dropped", true));
  ASSERT_EQ(svc<zul_copy_by_columns_fn>(ZUL_COPY_BY_COLUMNS)(out, in), 0);
  zul_column_desc c{"v", nullptr, 0, 8};
  ASSERT_EQ(svc<zul_declare_column_fn>(ZUL_DECLARE_COLUMN)(out, &c), 0);
  double v = 1;
  ASSERT_EQ(svc<zul_append_row_fn>(ZUL_APPEND_ROW)(out, &v, nullptr), 0);
  // A stopped step: the old table of that name is untouched, the output
  // with no columns declared (dropped by the module) is not written.
  ASSERT_TRUE(zs::finishTables(step, false));
  EXPECT_EQ(slurp(dir / "old.csv"), "a\n1\n");
  EXPECT_FALSE(fs::exists(dir / "dropped.csv"));
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_TRUE(e.path().filename() == "in.csv" || e.path().filename() == "old.csv")
        << e.path();  // no temporary file left behind
}

TEST_F(Tables, RowsMarkedWithoutResultLeaveTheOldTable) {
  std::ofstream(dir / "old.csv") << "a\n1\n";
  zul_table* in = open("in");
  zul_table* out = open("old", true);
  ASSERT_TRUE(in && out);
  ASSERT_EQ(svc<zul_copy_all_columns_fn>(ZUL_COPY_ALL_COLUMNS)(out, in), 0);
  zul_column_desc c{"score", nullptr, 0, 8};
  ASSERT_EQ(svc<zul_declare_column_fn>(ZUL_DECLARE_COLUMN)(out, &c), 0);
  double missing = zul_missing();
  ASSERT_EQ(svc<zul_append_row_fn>(ZUL_APPEND_ROW)(out, &missing, nullptr), 0);
  auto attr = svc<zul_attribute_fn>(ZUL_ATTRIBUTE);
  EXPECT_NE(attr(in, ZUL_ATTR_SET_NO_RESULT, const_cast<char*>("")), 0);  // outputs only
  ASSERT_EQ(attr(out, ZUL_ATTR_SET_NO_RESULT, const_cast<char*>("")), 0);
  // A step that ends well, but whose rows hold no result: as with no rows,
  // the table from before stays.
  ASSERT_TRUE(zs::finishTables(step, true));
  EXPECT_EQ(slurp(dir / "old.csv"), "a\n1\n");
}

TEST_F(Tables, AttributesAndRewind) {
  zul_table* in = open("in", false, "corr");
  ASSERT_NE(in, nullptr);
  auto attr = svc<zul_attribute_fn>(ZUL_ATTRIBUTE);
  char type[9];
  ASSERT_EQ(attr(in, ZUL_ATTR_TYPE, type), 0);
  EXPECT_STREQ(type, "CORR    ");
  char member[33];
  ASSERT_EQ(attr(in, ZUL_ATTR_MEMBER, member), 0);
  EXPECT_STREQ(member, "IN");
  int32_t readable = 0;
  ASSERT_EQ(attr(in, ZUL_ATTR_READABLE, &readable), 0);
  EXPECT_EQ(readable, 1);
  EXPECT_NE(attr(in, 9999, type), 0);
  // A group read twice gives the same rows.
  ASSERT_EQ(svc<zul_next_by_group_fn>(ZUL_NEXT_BY_GROUP)(in), 1);
  zul_readlist* list = svc<zul_readlist_create_fn>(ZUL_READLIST_CREATE)(in, 1);
  svc<zul_readlist_bind_fn>(ZUL_READLIST_BIND)(list, 0, 3, 0, 8);
  auto read = svc<zul_read_next_fn>(ZUL_READ_NEXT);
  double sum1 = 0, sum2 = 0, x;
  int32_t st;
  while (read(list, &x, nullptr, &st) == 1) sum1 += x;
  ASSERT_EQ(svc<zul_rewind_fn>(ZUL_REWIND)(in, 0x42), 0);
  while (read(list, &x, nullptr, &st) == 1) sum2 += x;
  EXPECT_EQ(sum1, 60);
  EXPECT_EQ(sum2, 60);
  svc<zul_readlist_release_fn>(ZUL_READLIST_RELEASE)(list);
  EXPECT_EQ(read(list, &x, nullptr, &st), 0);  // released: refused
  EXPECT_NE(st, 0);
}

// Records read in runs (400/19) are those read one by one (212/26), with
// the same remark status, in both read modes; a broken line is an error
// that comes after the records before it.
TEST_F(Tables, RecordsInRunsAreTheRecordsOneByOne) {
  std::string csv = "a,b\n";
  for (int i = 0; i < 300; ++i) {
    csv += std::to_string(i) + "," + std::to_string(i * 0.25) + "\n";
    if (i == 100) csv += "\"7\",x\n";  // quoted, and a remark
  }
  csv += "1,2,3\n";  // too many fields
  std::ofstream(dir / "runs.csv") << csv;
  // Metadata as zul writes it, with the file's size and hash: its types are
  // trusted, no type pass runs, and the broken line is met while reading.
  std::ofstream(dir / "runs.csv-metadata.json")
      << R"({"zul:csvBytes":)" << csv.size() << R"(,"zul:csvHash":")"
      << zul::table::detail::hashTextOf("lanes64", csv.data(), csv.size())
      << R"(","tableSchema":{"columns":[{"name":"a","datatype":"double"},)"
      << R"({"name":"b","datatype":"double"}]}})";
  zul::table::detail::ReadAheadTuning& tuning = zul::table::detail::readAheadTuning();
  const zul::table::detail::ReadAheadTuning saved = tuning;
  tuning.helpers = 1;
  tuning.chunkBytes = 200;  // many chunks, cut inside the runs
  tuning.minBytes = 0;
  struct Outcome {
    std::vector<double> values;
    int remarks = 0;
    int32_t lastStatus = 0;
  };
  auto readAll = [&](bool threaded, int run) {
    Outcome o;
    zul_table* in = open("runs");
    if (!in) return o;
    svc<zul_next_by_group_fn>(ZUL_NEXT_BY_GROUP)(in);
    svc<zul_threaded_read_fn>(ZUL_THREADED_READ)(in, threaded ? 1 : 0);
    zul_readlist* list = svc<zul_readlist_create_fn>(ZUL_READLIST_CREATE)(in, 2);
    svc<zul_readlist_bind_fn>(ZUL_READLIST_BIND)(list, 0, 2, 0, 8);  // b first
    svc<zul_readlist_bind_fn>(ZUL_READLIST_BIND)(list, 1, 1, 0, 8);
    std::vector<double> buf(2 * static_cast<size_t>(std::max(run, 1)));
    for (;;) {
      int32_t st = 0;
      int got;
      if (run == 0) {
        got = svc<zul_read_next_fn>(ZUL_READ_NEXT)(list, buf.data(), nullptr, &st);
      } else {
        got = svc<zul_read_records_fn>(ZUL_READ_RECORDS)(list, buf.data(), run, &st);
      }
      o.values.insert(o.values.end(), buf.begin(), buf.begin() + 2 * got);
      o.remarks += st == ZUL_READ_REMARK;
      o.lastStatus = st;
      if (got == 0 || (st != 0 && st != ZUL_READ_REMARK)) break;
    }
    svc<zul_threaded_read_fn>(ZUL_THREADED_READ)(in, 0);
    return o;
  };
  const Outcome single = readAll(false, 0);
  ASSERT_EQ(single.values.size(), 2u * 301);  // every row before the broken one
  EXPECT_EQ(single.values[2 * 101 + 1], 7);   // the quoted number
  EXPECT_EQ(single.remarks, 1);
  EXPECT_EQ(single.lastStatus, 1);
  for (bool threaded : {false, true}) {
    for (int run : {1, 7, 256}) {
      const Outcome o = readAll(threaded, run);
      // Bit for bit: the remark's field is the missing value, a NaN.
      ASSERT_EQ(o.values.size(), single.values.size()) << threaded << " " << run;
      EXPECT_EQ(std::memcmp(o.values.data(), single.values.data(), 8 * o.values.size()), 0)
          << threaded << " " << run;
      EXPECT_EQ(o.remarks, 1) << threaded << " " << run;
      EXPECT_EQ(o.lastStatus, 1) << threaded << " " << run;
    }
  }
  tuning = saved;
}

}  // namespace

// A group read again (the scoring pass of OUT=) meets the same records: their
// remarks keep their status, but each is logged once.
TEST_F(Tables, ARemarkIsLoggedOnceWhenTheGroupIsReadAgain) {
  std::ofstream(dir / "bad.csv") << "a\n1\nx\n2\ny\n";
  std::ofstream(dir / "bad.csv-metadata.json")
      << R"({"tableSchema":{"columns":[{"name":"a","datatype":"double"}]}})";
  std::vector<std::string> logged;
  zul::messages::setLogWriter([&](int, std::string_view line) {
    logged.emplace_back(line);
    return true;
  });
  zul_table* in = open("bad");
  ASSERT_NE(in, nullptr);
  svc<zul_next_by_group_fn>(ZUL_NEXT_BY_GROUP)(in);
  zul_readlist* list = svc<zul_readlist_create_fn>(ZUL_READLIST_CREATE)(in, 1);
  svc<zul_readlist_bind_fn>(ZUL_READLIST_BIND)(list, 0, 1, 0, 8);
  for (int pass = 0; pass < 2; ++pass) {
    double x = 0;
    int32_t st = 0;
    int remarks = 0;
    while (svc<zul_read_next_fn>(ZUL_READ_NEXT)(list, &x, nullptr, &st) == 1)
      remarks += st == ZUL_READ_REMARK;
    EXPECT_EQ(remarks, 2) << "pass " << pass;
    ASSERT_EQ(svc<zul_rewind_fn>(ZUL_REWIND)(in, 0x42), 0);
  }
  zul::messages::setLogWriter(nullptr);
  // The metadata, written by hand, is checked at the open: one warning.
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_NE(logged[0].find("WARNING: Table WORK.BAD: its metadata file"), std::string::npos)
      << logged[0];
  EXPECT_NE(logged[0].find("2 values are not numbers (the first, \"x\", on line 3)"),
            std::string::npos) << logged[0];
  EXPECT_NE(logged[1].find("line 3"), std::string::npos) << logged[1];
  EXPECT_NE(logged[2].find("line 5"), std::string::npos) << logged[2];
}
