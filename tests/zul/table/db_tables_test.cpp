// Tables in an SQLite library: written and read back through the same
// interface as CSV tables, dates and times as numbers since 1960, BY
// groups in zul's order, transactions that leave nothing of a failed
// table, and the connection string's password kept out of messages.
#include <gmock/gmock.h>

#include <cmath>

#include "test_util.hpp"
#include "zul/table/db_connection.hpp"
#include "zul/table/db_dates.hpp"
#include "zul/table/places.hpp"

namespace zul::table {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(DbDates, IsoTextAndNumbersSince1960) {
  using db::ColumnKind;
  struct Case {
    ColumnKind kind;
    const char* text;
    double value;
    const char* written;  // the text written back
  };
  const Case cases[] = {
      {ColumnKind::Date, "1960-01-01", 0, "1960-01-01"},
      {ColumnKind::Date, "1959-12-31", -1, "1959-12-31"},
      {ColumnKind::Date, "2000-03-01", 14670, "2000-03-01"},  // after a leap day of a /400 year
      {ColumnKind::Time, "13:45:30.25", 49530.25, "13:45:30.250000"},
      {ColumnKind::Time, "00:00:00", 0, "00:00:00"},
      // A timestamp in 2030 is past 2^31 seconds since 1960.
      {ColumnKind::Timestamp, "2030-06-15 08:00:01", 2223360001.0, "2030-06-15 08:00:01"},
      {ColumnKind::Timestamp, "1960-01-01T00:00:00.5", 0.5, "1960-01-01 00:00:00.500000"},
      // Beyond the four-digit years, as PostgreSQL writes them: 1 BC is a
      // leap year, 366 days before 1 January of the year 1.
      {ColumnKind::Date, "10000-01-01", 2936550, "10000-01-01"},
      {ColumnKind::Date, "0001-01-01 BC", -715875, "0001-01-01 BC"},
      {ColumnKind::Timestamp, "0001-12-31 23:00:00 BC", -715510 * 86400.0 + 82800, "0001-12-31 23:00:00 BC"},
  };
  for (const Case& c : cases) {
    double x = 0;
    ASSERT_TRUE(db::parseTemporal(c.kind, c.text, x)) << c.text;
    EXPECT_EQ(x, c.value) << c.text;
    EXPECT_EQ(db::formatTemporal(c.kind, c.value), c.written) << c.text;
  }
  double x;
  // An offset gives UTC; text of other shapes is no date.
  ASSERT_TRUE(db::parseTemporal(ColumnKind::Timestamp, "1960-01-01 02:00:00+02", x));
  EXPECT_EQ(x, 0);
  ASSERT_TRUE(db::parseTemporal(ColumnKind::Timestamp, "0001-12-31 23:00:00+00 BC", x));
  EXPECT_EQ(x, -715510 * 86400.0 + 82800);
  for (const char* bad : {"infinity", "2024-13-01", "2024-1-01", "12:3", "2024-01-01 x", "", "0000-01-01 BC"})
    EXPECT_FALSE(db::parseTemporal(ColumnKind::Timestamp, bad, x) &&
                 db::parseTemporal(ColumnKind::Date, bad, x))
        << bad;
  EXPECT_EQ(db::formatTemporal(ColumnKind::Date, missingValue()), "");
  // Rounding to the microsecond carries into the next day.
  EXPECT_EQ(db::formatTemporal(ColumnKind::Timestamp, 86399.9999999), "1960-01-02 00:00:00");
}

TEST(DbPassword, HiddenInEveryForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"dbname=s password=abc host=/run", "dbname=s password=*** host=/run"},
      {"password = 'a b\\' c' user=u", "password = *** user=u"},
      {"PASSWORD=x", "PASSWORD=***"},
      {"postgresql://u:secret@h:5/db", "postgresql://u:***@h:5/db"},
      {"postgres://h/db?user=u&password=secret&sslmode=off", "postgres://h/db?user=u&password=***&sslmode=off"},
      // Nothing else changes; a word that only contains "password" is kept.
      {"dbname=passwords user=u", "dbname=passwords user=u"},
      // A keyword libpq does not know, most often a misspelt password.
      {"passwd=secret dbname=d", "passwd=*** dbname=d"},
      {"postgresql://h/db?pasword=secret&user=u", "postgresql://h/db?pasword=***&user=u"},
      // Read as libpq reads them: a '?' inside the user part, the SSL key's
      // passphrase, a percent-encoded keyword, a URI only at the start.
      {"postgresql://u:a?b@h/db", "postgresql://u:***@h/db"},
      {"postgresql:///db?sslpassword=a&passw%6Frd=b", "postgresql:///db?sslpassword=***&passw%6Frd=***"},
      {"password=s dbname=postgres://h/db", "password=*** dbname=postgres://h/db"},
      // A connection string or URI given as a value.
      {"dbname='host=h password=abc' user=u", "dbname='host=h password=***' user=u"},
      {"dbname=postgres://u:abc@h/db", "dbname=postgres://u:***@h/db"},
      // A password with a blank, not quoted: libpq quotes its second word.
      {"password=se cret  x host=h", "password=*** host=h"},
      // A '/' or '@' not percent-encoded in a URI's password: libpq reads a
      // host or port out of it, but it is hidden whole.
      {"postgresql://u:pa/ss@h/db", "postgresql://u:***@h/db"},
      {"postgresql://u:pa@ss@h/db?options=a@b", "postgresql://u:***@h/db?options=a@b"},
  };
  for (const auto& [given, shown] : cases) EXPECT_EQ(db::hidePassword(given), shown) << given;
  EXPECT_EQ(db::hidePasswordIn("missing \"=\" after \"cret\"", "password=se cret"),
            "missing \"=\" after \"***\"");
  // A message that quotes the string, or the password alone.
  EXPECT_EQ(db::hidePasswordIn("bad token: \"s%zz\" in \"postgres://u:s%zz@h\"", "postgres://u:s%zz@h"),
            "bad token: \"***\" in \"postgres://u:***@h\"");
  // libpq's messages about such URIs quote pieces of the password.
  EXPECT_EQ(db::hidePasswordIn("invalid integer value \"1t@h\" for connection option \"port\"",
                               "postgresql://u:S@k:1t@h/db"),
            "invalid integer value \"***@h\" for connection option \"port\"");
  EXPECT_EQ(db::hidePasswordIn("could not translate host name \"kr1t@\"", "postgresql://u:Se@kr1t@/db"),
            "could not translate host name \"***@\"");
}

class SqliteTables : public testing::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    libs = std::make_unique<Libraries>(dir);
    libs->assignDatabase("lite", "sqlite", (dir / "t.db").string());
  }
  TableRef lite(const std::string& member) { return libs->resolve(TableName{"lite", member, false}); }
  void sql(const std::string& text) { lite("x").database->execute(text); }
  // Writes rows (group, value) to lite.member with a date column.
  void writeGroups(const std::string& member, const std::vector<std::pair<std::string, double>>& rows,
                   bool commit = true) {
    OutputTable out(lite(member));
    out.setType("CORR");
    out.declareColumn(Column{"Grp", "the group", ColumnType::Character, 20});
    out.declareColumn(Column{"x", "", ColumnType::Numeric, 8});
    Column when{"When", "", ColumnType::Numeric, 8};
    when.temporal = Temporal::Date;
    out.declareColumn(when);
    for (size_t i = 0; i < rows.size(); ++i) {
      std::string g = rows[i].first;
      g.resize(20, ' ');
      const char* texts[] = {g.c_str(), nullptr, nullptr};
      const double values[] = {0, rows[i].second, 25000.0 + static_cast<double>(i)};
      out.appendRow(values, texts);
    }
    if (commit) out.commit();
  }
  std::unique_ptr<Libraries> libs;
};

TEST_F(SqliteTables, RoundTripWithByGroupsInZulOrder) {
  // Byte order, trailing blanks ignored, a quote in a value: O'Brien
  // comes before Zhang, and "Zhang " joins "Zhang".
  writeGroups("Groups", {{"Zhang", 3}, {"O'Brien", 1}, {"van der Berg", 5}, {"Zhang ", 4},
                         {"O'Brien", missingValue()}});
  InputTable in(lite("GROUPS"));  // found case-blind
  EXPECT_EQ(in.type(), "CORR");
  ASSERT_EQ(in.varCount(), 3);
  EXPECT_EQ(in.columns()[0].label, "the group");
  EXPECT_TRUE(in.columns()[0].isCharacter());
  EXPECT_EQ(in.columns()[0].width, 12);  // the longest value
  EXPECT_EQ(in.columns()[2].temporal, Temporal::Date);
  EXPECT_EQ(in.rowCount(), 5);
  in.setBy(BySpec{{{"grp", false}}, false});
  std::vector<std::string> groups;
  std::vector<double> sums;
  while (in.nextByGroup()) {
    groups.push_back(std::string(in.byText(0)));
    double s = 0;
    int n = 0;
    while (in.nextRecord()) {
      ++n;
      if (!isMissing(in.number(1))) s += in.number(1);
      EXPECT_GE(in.number(2), 25000);
    }
    sums.push_back(s * 10 + n);
  }
  EXPECT_THAT(groups, ElementsAre("O'Brien", "Zhang", "van der Berg"));
  EXPECT_THAT(sums, ElementsAre(12, 72, 51));
}

TEST_F(SqliteTables, GroupsReadAgainAndDescending) {
  writeGroups("g", {{"a", 1}, {"b", 2}, {"b", 3}, {"c", 4}});
  InputTable in(lite("g"));
  in.setBy(BySpec{{{"Grp", true}}, false});
  ASSERT_EQ(in.nextByGroup(), 1);
  EXPECT_EQ(in.byText(0), "c");
  ASSERT_EQ(in.nextByGroup(), 1);
  std::vector<std::string> first = testing::readGroupAsText(in);
  in.rewindGroup();  // a second pass over the group, as the scores take
  EXPECT_EQ(testing::readGroupAsText(in), first);
  EXPECT_EQ(first.size(), 2u);
  ASSERT_EQ(in.nextByGroup(), 1);
  EXPECT_EQ(in.byText(0), "a");
  EXPECT_EQ(in.nextByGroup(), 0);
}

TEST_F(SqliteTables, UncommittedTableLeavesTheEarlierOne) {
  writeGroups("t", {{"a", 1}});
  writeGroups("t", {{"b", 2}, {"c", 3}}, false);  // destroyed without commit
  // Two tables in one transaction: the one abandoned leaves nothing, the
  // other is committed.
  {
    OutputTable gone(lite("gone"));
    gone.declareColumn(Column{"x", "", ColumnType::Numeric, 8});
    const double v = 1;
    gone.appendRow(&v, nullptr);
    writeGroups("t", {{"d", 4}});
    gone.abort();
  }
  InputTable in(lite("t"));
  in.nextByGroup();
  EXPECT_THAT(testing::readGroupAsText(in), ElementsAre("d|4|2028-06-12"));
  EXPECT_FALSE(lite("x").database->findTable("gone"));
  auto rest = lite("x").database->query("SELECT count(*) FROM sqlite_master WHERE name LIKE 'zul_new%'");
  ASSERT_TRUE(rest->next());
  EXPECT_EQ(rest->text(0), "0");
}

// A statement refused under a savepoint (as the in-database aggregate is
// when it fails) must not stop the table of the same transaction from
// being committed; a failure outside any savepoint still does.
TEST_F(SqliteTables, FailureUndoneBySavepointStillCommits) {
  for (const bool undone : {true, false}) {
    const std::string member = undone ? "kept" : "lost";
    OutputTable out(lite(member));
    out.declareColumn(Column{"x", "", ColumnType::Numeric, 8});
    const double v = 7;
    out.appendRow(&v, nullptr);
    db::Connection& conn = *lite("x").database;
    if (undone) conn.savepoint("probe");
    EXPECT_THROW(conn.execute("SELECT no_such_function(1)"), TableError);
    if (undone) {
      conn.rollbackTo("probe");
      conn.release("probe");
      out.commit();
    } else {
      EXPECT_THROW(out.commit(), TableError);
    }
    EXPECT_EQ(conn.findTable(member).has_value(), undone) << member;
    EXPECT_FALSE(conn.inTransaction());
  }
}

// Every SQLite connection knows zul_put and zul_puti, which write a
// formatted BY value as zul's own formatter does.
TEST_F(SqliteTables, FormattedValueFunctions) {
  sql("CREATE TABLE f (x REAL, t TEXT)");
  sql("INSERT INTO f VALUES (2.675, 'O''Brien  '), (NULL, NULL), (-0.001, 'a')");
  auto rows = lite("x").database->query(
      "SELECT zul_put(x, '8.2'), zul_puti(t, '$4.', 'DE_DE', 'utf-8'), zul_put(x, '6.') FROM f");
  std::vector<std::string> got;
  while (rows->next())
    for (int c = 0; c < 3; ++c) got.push_back(rows->isNull(c) ? "null" : std::string(rows->text(c)));
  EXPECT_THAT(got, ElementsAre("    2.68", "O'Br", "     3", "null", "null", "null", "    0.00", "a", "     0"));
  EXPECT_THROW(lite("x").database->query("SELECT zul_put(x, 'BEST12.') FROM f")->next(), TableError);
}

// A column's display format goes in the type field of its catalogue row
// (the catalogue keeps the schema of databases written before formats).
TEST_F(SqliteTables, FormatsAndLabelsInTheCatalogue) {
  {
    OutputTable out(lite("f"));
    Column grp{"Grp", ""}, x{"x", "the x"};
    grp.format = "3.";
    x.format = "8.2";
    for (const Column& c : {grp, x, Column{"y", "the y"}, Column{"z", ""}}) out.declareColumn(c);
    const double values[] = {0, 1, 2, 3};
    out.appendRow(values, nullptr);
    out.commit();
  }
  auto rows = lite("x").database->query(
      "SELECT column_name, coalesce(type, 'null'), coalesce(label, 'null') FROM zul_tables "
      "WHERE table_name = 'f' ORDER BY column_name");
  std::vector<std::string> got;
  while (rows->next())
    got.push_back(std::string(rows->text(0)) + "|" + std::string(rows->text(1)) + "|" +
                  std::string(rows->text(2)));
  // No row for the table (no TYPE, no label), none for z.
  EXPECT_THAT(got, ElementsAre("Grp|3.|null", "x|8.2|the x", "y|null|the y"));
  InputTable in(lite("f"));
  std::vector<std::string> back;
  for (const Column& c : in.columns()) back.push_back(c.label + "|" + c.format);
  EXPECT_THAT(back, ElementsAre("|3.", "the x|8.2", "the y|", "|"));

  // A text that is no format (the check is shared with the metadata file).
  sql("UPDATE zul_tables SET type = 'best12.' WHERE column_name = 'x'");
  EXPECT_THAT(testing::errorOf([&] { InputTable(lite("f")); }),
              HasSubstr("Table LITE.F: the column x has the display format \"best12.\", which is no "
                        "display format"));
}

TEST_F(SqliteTables, DeclaredAndUntypedColumns) {
  sql("CREATE TABLE m (a, b, c TEXT, d INTEGER, e DATETIME)");
  sql("INSERT INTO m VALUES (1, 'x', '2', 3, '2030-01-01 00:00:00'), (2.5, 4, '5', NULL, NULL)");
  InputTable in(lite("m"));
  // An untyped column of numbers is numeric, one with text is not; a
  // declared type is kept.
  EXPECT_FALSE(in.columns()[0].isCharacter());
  EXPECT_TRUE(in.columns()[1].isCharacter());
  EXPECT_TRUE(in.columns()[2].isCharacter());
  EXPECT_FALSE(in.columns()[3].isCharacter());
  EXPECT_EQ(in.columns()[4].temporal, Temporal::Timestamp);
  in.nextByGroup();
  ASSERT_TRUE(in.nextRecord());
  EXPECT_EQ(in.number(4), 2209075200.0);  // 2030-01-01 in seconds since 1960
  EXPECT_EQ(in.number(2), 2);             // a character column read as a number
  ASSERT_TRUE(in.nextRecord());
  EXPECT_TRUE(isMissing(in.number(3)));
  EXPECT_EQ(in.text(1), "4");
  EXPECT_FALSE(in.nextRecord());
}

TEST_F(SqliteTables, NamesAreQuotedNotPasted) {
  // A member name is checked before it reaches SQL, and a name that
  // needs quoting in SQL is still one table.
  EXPECT_THROW(parseTableName("lite.x;drop"), TableError);
  sql("CREATE TABLE \"select\" (\"a\"\"b\" REAL)");
  sql("INSERT INTO \"select\" VALUES (7)");
  InputTable in(lite("SELECT"));
  EXPECT_EQ(in.columns()[0].name, "a\"b");
  in.nextByGroup();
  ASSERT_TRUE(in.nextRecord());
  EXPECT_EQ(in.number(0), 7);
  EXPECT_THAT(testing::errorOf([&] { InputTable(lite("nothere")); }), HasSubstr("LITE.NOTHERE does not exist"));
}

TEST_F(SqliteTables, PlacesCompareDatabaseAndNameCaseBlind) {
  sql("CREATE TABLE Survey (x REAL)");
  Libraries other(dir);
  other.assignDatabase("same", "SQLITE", (dir / "." / "t.db").string());
  other.assignDatabase("else", "SQLITE", (dir / "u.db").string());
  const Place a = tablePlaces("input", lite("survey"))[0];
  EXPECT_TRUE(a.sameAs(tablePlaces("out", other.resolve(TableName{"same", "SURVEY", false}))[0]));
  EXPECT_FALSE(a.sameAs(tablePlaces("out", other.resolve(TableName{"else", "survey", false}))[0]));
  EXPECT_FALSE(a.sameAs(tablePlaces("out", lite("survey2"))[0]));
}

TEST_F(SqliteTables, LibraryAssignmentErrors) {
  EXPECT_THROW(libs->assignDatabase("x", "ORACLE", "a"), TableError);
  EXPECT_THROW(libs->assignDatabase("x", "SQLITE", (dir / "no" / "t.db").string()), TableError);
  EXPECT_THROW(libs->assignDatabase("work", "SQLITE", (dir / "w.db").string()), TableError);
  EXPECT_THAT(libs->describe("LITE"), HasSubstr("SQLite database"));
}

}  // namespace
}  // namespace zul::table
