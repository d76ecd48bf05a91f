// Table names, librefs and where their files are.
#include <gmock/gmock.h>
#include <sqlite3.h>

#include "test_util.hpp"
#include "zul/table/sqlite_uri.hpp"

namespace zul::table {
namespace {

using ::testing::HasSubstr;

class LibrariesTest : public testing::ScratchDir {};

TEST(TableNames, Forms) {
  // Written, then library|member|quoted.
  const std::pair<const char*, const char*> good[] = {{"study.Survey", "study|Survey|0"},
                                                      {"  scores ", "|scores|0"},
                                                      {"'data/it''s.csv'", "|data/it's.csv|1"},
                                                      {"\"x y.csv\"", "|x y.csv|1"}};
  for (const auto& [text, parts] : good) {
    const TableName n = parseTableName(text);
    EXPECT_EQ(n.library + "|" + n.member + "|" + std::to_string(n.quoted), parts) << text;
  }
  for (const char* bad : {"1abc", "a.b.c", "toolongname.x", "lib.", ".x", "a b", "'open",
                          "'x' y", "../etc", ""})
    EXPECT_THROW(parseTableName(bad), TableError) << bad;
}

TEST_F(LibrariesTest, ResolvesWorkLibrefsCaseBlindFilesAndPaths) {
  std::filesystem::create_directories(dir / "study");
  write("study/Survey.csv", "x\n1\n");
  Libraries libs(dir);
  libs.assign("Study", dir / "study");

  TableRef r = libs.resolve(parseTableName("study.survey"));
  EXPECT_EQ(r.file, dir / "study" / "Survey.csv");  // the file as spelled on disk
  EXPECT_EQ(r.displayName(), "STUDY.SURVEY");
  EXPECT_EQ(r.metadataFile(), dir / "study" / "Survey.csv-metadata.json");

  TableRef w = libs.resolve(parseTableName("NewOne"));
  EXPECT_EQ(w.library, "WORK");
  EXPECT_EQ(w.file, dir / "NewOne.csv");  // not there yet: as written

  TableRef p = libs.resolve(parseTableName("'" + (dir / "study" / "Survey").string() + "'"));
  EXPECT_EQ(p.file, dir / "study" / "Survey.csv");  // ".csv" added for a missing file
  EXPECT_EQ(p.library, "");
  EXPECT_EQ(p.displayName(), (dir / "study" / "Survey.csv").string());

  EXPECT_THAT(testing::errorOf([&] { libs.resolve(parseTableName("nolib.x")); }),
              HasSubstr("Library NOLIB is not assigned"));
  EXPECT_THROW(libs.assign("gone", dir / "does-not-exist"), TableError);
  EXPECT_THROW(libs.assign("9bad", dir), TableError);
}

// Libraries of one SQLite file share one connection, however the path is
// written, through a link too: two would lock each other out when a step
// writes to both. A library at a link to no file yet that is only read
// leaves the link as it was, and no empty file behind.
TEST_F(LibrariesTest, LibrariesOfOneDatabaseFileShareAConnectionAndKeepItsLink) {
  namespace fs = std::filesystem;
  fs::create_directories(dir / "real");
  fs::create_symlink("real/two.db", dir / "link.db");
  {
    Libraries libs(dir);
    libs.assignDatabase("a", "SQLITE", (dir / "one.db").string());
    libs.assignDatabase("b", "SQLITE", (dir / "real" / ".." / "one.db").string());
    libs.assignDatabase("c", "SQLITE", (dir / "link.db").string());
    libs.assignDatabase("d", "SQLITE", (dir / "real" / "two.db").string());
    auto database = [&](const char* name) { return libs.resolve(parseTableName(name)).database; };
    EXPECT_EQ(database("a.t"), database("b.t"));
    EXPECT_EQ(database("c.t"), database("d.t"));
    EXPECT_NE(database("a.t"), database("c.t"));
  }
  EXPECT_TRUE(fs::is_symlink(dir / "link.db"));
  EXPECT_EQ(fs::read_symlink(dir / "link.db"), "real/two.db");
  EXPECT_FALSE(fs::exists(dir / "real" / "two.db"));
  EXPECT_FALSE(fs::exists(dir / "one.db"));
}

// A file URI names its file too: it shares the connection of a plain path to
// that file when its options ask nothing else of it, and is refused, saying
// why, when sharing would drop an option (a read-only library made writable).
TEST_F(LibrariesTest, FileUrisShareTheirFilesConnectionOnlyWithTheSameOptions) {
  namespace fs = std::filesystem;
  Libraries libs(dir);
  const std::string one = (dir / "one.db").string();
  libs.assignDatabase("a", "SQLITE", one);
  libs.assignDatabase("b", "SQLITE", "file:" + one + "?mode=rw");
  libs.assignDatabase("c", "SQLITE", "file://localhost" + (dir / "o%6Ee.db").string() + "#x");
  const std::string two = (dir / "two.db").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(two.c_str(), &db), SQLITE_OK);  // mode=ro opens no new file
  sqlite3_exec(db, "create table t (x real)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  libs.assignDatabase("r", "SQLITE", "file:" + two + "?nolock=1&mode=ro");
  libs.assignDatabase("s", "SQLITE", "file:" + two + "?mode=ro&nolock=1");  // the same options
  auto database = [&](const char* name) { return libs.resolve(parseTableName(name)).database; };
  EXPECT_EQ(database("a.t"), database("b.t"));
  EXPECT_EQ(database("a.t"), database("c.t"));
  EXPECT_EQ(database("r.t"), database("s.t"));
  EXPECT_NE(database("a.t"), database("r.t"));
  const std::string refused = testing::errorOf(
      [&] { libs.assignDatabase("e", "SQLITE", "file:" + one + "?mode=ro"); });
  EXPECT_THAT(refused, HasSubstr("Library E cannot be assigned"));
  EXPECT_THAT(refused, HasSubstr("library A, opened to read and write"));
  EXPECT_THAT(refused, HasSubstr("this one is with mode=ro"));
  EXPECT_THROW(libs.assignDatabase("w", "SQLITE", two), TableError);  // r stays read-only
  // A library given anew with other options leaves the old connection.
  libs.assignDatabase("a", "SQLITE", "file:" + (dir / "three.db").string());
  libs.assignDatabase("b", "SQLITE", "file:" + (dir / "three.db").string() + "?mode=rwc");
  EXPECT_EQ(database("a.t"), database("b.t"));
  const auto parsed = parseSqliteUri("file:a%20b.db?mode=rwc&cache=shared");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->file, "a b.db");
  EXPECT_EQ(parsed->options, "cache=shared");
  EXPECT_FALSE(parseSqliteUri("file::memory:"));
  EXPECT_FALSE(parseSqliteUri("file:x.db?mode=memory"));
  EXPECT_FALSE(parseSqliteUri("file://elsewhere/x.db"));
}

}  // namespace
}  // namespace zul::table
