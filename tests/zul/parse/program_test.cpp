// The program reader: tokens and their positions, comments, host
// statements, where steps begin and end, and the errors of broken text.
#include "zul/parse/program.hpp"

#include <gtest/gtest.h>

namespace zul::parse {
namespace {

using Kind = ProgramItem::Kind;

TEST(ProgramReader, TokensKeepLineAndColumn) {
  Program p = readProgramText("factor data=a.b\n  gamma=-0.5 nobs=1e-7 fuzz=.25 label='it''s';", "t.zul");
  ASSERT_EQ(p.items.size(), 1u);
  const Statement& s = p.items[0].step.statements.at(0);
  ASSERT_EQ(s.tokens.size(), 19u);
  EXPECT_EQ(s.keyword(), "FACTOR");
  EXPECT_EQ(s.tokens[1].text, "data");
  EXPECT_EQ(s.tokens[3].pos.line, 1);
  EXPECT_EQ(s.tokens[3].pos.column, 13);  // "a" of a.b
  EXPECT_TRUE(s.tokens[4].is('.'));
  // gamma = - 0.5: the sign is its own token
  EXPECT_EQ(s.tokens[6].pos.line, 2);
  EXPECT_EQ(s.tokens[6].pos.column, 3);
  EXPECT_TRUE(s.tokens[8].is('-'));
  EXPECT_EQ(s.tokens[9].kind, TokenKind::Number);
  EXPECT_DOUBLE_EQ(s.tokens[9].number, 0.5);
  EXPECT_DOUBLE_EQ(s.tokens[12].number, 1e-7);
  EXPECT_DOUBLE_EQ(s.tokens[15].number, 0.25);
  EXPECT_EQ(s.tokens[18].kind, TokenKind::String);
  EXPECT_EQ(s.tokens[18].text, "it's");  // doubled quote
  EXPECT_EQ(s.end.line, 2);
}

// 'text'n is a name, never a keyword; 'text' alone and 'text'nx are not.
TEST(ProgramReader, NameLiterals) {
  Program p = readProgramText("factor; var 'my var'n \"Run\"N 'x'nx 'y';", "n.zul");
  ASSERT_EQ(p.items.size(), 1u);
  const Statement& s = p.items[0].step.statements.at(1);
  ASSERT_EQ(s.tokens.size(), 6u);
  EXPECT_EQ(s.tokens[1].kind, TokenKind::Name);
  EXPECT_EQ(s.tokens[1].text, "my var");
  EXPECT_TRUE(s.tokens[1].nameLiteral);
  EXPECT_EQ(s.tokens[2].text, "Run");
  EXPECT_FALSE(s.tokens[2].isWord("RUN"));
  EXPECT_EQ(s.tokens[3].kind, TokenKind::String);  // 'x' then the name nx
  EXPECT_EQ(s.tokens[4].text, "nx");
  EXPECT_EQ(s.tokens[5].kind, TokenKind::String);
}

TEST(ProgramReader, CommentsAreSkippedWherever) {
  const char* text =
      "/* leading comment; with a semicolon */\n"
      "* a comment statement with 'an unbalanced quote;\n"
      "factor /* inside */ data=x; * between statements ;\n"
      "var a /* c */ b;\n"
      "run;\n";
  Program p = readProgramText(text, "c.zul");
  ASSERT_EQ(p.items.size(), 1u);
  const ProgramItem& it = p.items[0];
  EXPECT_TRUE(it.errors.empty());
  ASSERT_EQ(it.kind, Kind::Step);
  ASSERT_EQ(it.step.statements.size(), 2u);
  EXPECT_EQ(it.step.statements[0].tokens.size(), 4u);
  EXPECT_EQ(it.step.statements[1].tokens.size(), 3u);
  EXPECT_EQ(it.step.statements[1].pos.line, 4);
  EXPECT_TRUE(it.step.endedByRun);
  EXPECT_EQ(it.step.pos.line, 3);
}

TEST(ProgramReader, StepsEndAtRunNextStepHostStatementOrEnd) {
  const char* text =
      "LIBNAME Study 'data dir';\n"
      "FACTOR data=study.a; VAR x;\n"  // ended by the next step
      "Factor data=study.b;\n"         // ended by RUN
      "run;\n"
      "options validvarname=v6 threads=4 set tile=0.5 -zacorr=2 nothreads debug='SYN SEM';\n"
      "factor data=c;\n"               // ended by the end of the text
      "var y;\n";
  Program p = readProgramText(text, "s.zul");
  ASSERT_EQ(p.items.size(), 5u);
  EXPECT_EQ(p.items[0].kind, Kind::Libname);
  EXPECT_EQ(p.items[0].libref, "STUDY");
  EXPECT_EQ(p.items[0].path, "data dir");
  EXPECT_EQ(p.items[1].kind, Kind::Step);
  EXPECT_EQ(p.items[1].step.statements.size(), 2u);
  EXPECT_FALSE(p.items[1].step.endedByRun);
  EXPECT_EQ(p.items[2].step.statements.size(), 1u);
  EXPECT_TRUE(p.items[2].step.endedByRun);
  ASSERT_EQ(p.items[3].kind, Kind::Options);
  const auto& o = p.items[3].options;
  std::vector<std::string> options;
  for (const auto& x : o) options.push_back(x.name + "=" + x.value);
  EXPECT_EQ(options, (std::vector<std::string>{"VALIDVARNAME=v6", "THREADS=4", "TILE=0.5", "-ZACORR=2",
                                               "NOTHREADS=", "DEBUG=SYN SEM"}));
  ASSERT_EQ(o.size(), 6u);
  EXPECT_TRUE(o[2].namedSetting);
  EXPECT_FALSE(o[4].hasValue);
  EXPECT_TRUE(o[5].quoted);
  EXPECT_EQ(p.items[4].step.statements.size(), 2u);
  for (const auto& it : p.items) EXPECT_TRUE(it.errors.empty());
}

TEST(ProgramReader, FaultsNameFileLineColumnAndSkipOnlyTheirItem) {
  const char* text =
      "factor data=x label='no end;\n"  // the string swallows the rest
      "run;\n";
  Program p = readProgramText(text, "e.zul");
  ASSERT_EQ(p.items.size(), 1u);
  ASSERT_EQ(p.items[0].errors.size(), 1u);
  EXPECT_EQ(p.items[0].errors[0],
            "ERROR: e.zul:1:21: The quoted string starting here has no closing quote.");

  p = readProgramText("proc x;\nlibname a;\nlibname b 'd' x;\nfactor data=x", "f.zul");
  ASSERT_EQ(p.items.size(), 4u);
  EXPECT_EQ(p.items[0].kind, Kind::Invalid);
  EXPECT_NE(p.items[0].errors.at(0).find("f.zul:1:1: Statement PROC is not valid here"),
            std::string::npos);
  EXPECT_NE(p.items[1].errors.at(0).find("f.zul:2:10: Expected the library's directory"),
            std::string::npos);
  EXPECT_NE(p.items[2].errors.at(0).find("f.zul:3:15: Expected ';'"), std::string::npos);
  // the last statement lacks its ';'
  EXPECT_EQ(p.items[3].errors.at(0), "ERROR: f.zul:4:14: Expected ';' at the end of the program.");

  // A host statement that cannot be read stays that statement: it ends the
  // step before it, which is not skipped for it, and keeps its library name.
  p = readProgramText("factor data=x;\nvar a;\noptions linesize=1e400;\nlibname a 'd' 1e999;",
                      "k.zul");
  ASSERT_EQ(p.items.size(), 3u);
  EXPECT_TRUE(p.items[0].errors.empty());
  EXPECT_EQ(p.items[1].kind, Kind::Options);
  EXPECT_NE(p.items[1].errors.at(0).find("k.zul:3:18: The number 1e400"), std::string::npos);
  EXPECT_EQ(p.items[2].kind, Kind::Libname);
  EXPECT_EQ(p.items[2].libref, "A");
  p = readProgramText("libname b 'd' x;", "k.zul");
  EXPECT_EQ(p.items.at(0).libref, "B");
  // An empty directory or SQLite file: SQLite would open a database that
  // vanishes with the run.
  p = readProgramText("libname c '';\nlibname d sqlite '';\nlibname e postgres '';", "k.zul");
  ASSERT_EQ(p.items.size(), 3u);
  EXPECT_NE(p.items[0].errors.at(0).find("k.zul:1:11: The directory '' is empty"),
            std::string::npos);
  EXPECT_NE(p.items[1].errors.at(0).find("k.zul:2:18: The database file '' is empty"),
            std::string::npos);
  EXPECT_TRUE(p.items[2].errors.empty());

  // A misspelt step is one error: its VAR and BY go with it, not one each.
  p = readProgramText("factr data=x;\nvar a;\nby g;\nrun;\nvar b;", "i.zul");
  ASSERT_EQ(p.items.size(), 2u);
  EXPECT_NE(p.items[0].errors.at(0).find("i.zul:1:1: Statement FACTR is not valid here"),
            std::string::npos);
  EXPECT_NE(p.items[0].errors.at(0).find("; did you mean FACTOR?"), std::string::npos);
  EXPECT_NE(p.items[1].errors.at(0).find("i.zul:5:1: Statement VAR"), std::string::npos);

  // One item each, whose first error says what is wrong where. An empty
  // name literal would name no variable, or the file ".csv". Text pasted
  // from a word processor, and names beyond ASCII: said as written, with
  // what to write instead, rather than as a stray byte.
  const std::pair<const char*, const char*> single[] = {
      {"factor data=x; /* never closed\nrun;",
       "ERROR: j.zul:1:16: The comment starting here has no closing '*/'."},
      {"factor data=w.''n;", "j.zul:1:15: The name literal ''n is empty"},
      {"factor nfactors=3x;", "j.zul:1:17: A number runs into a name"},
      {"factor mineigen=1e400;", "j.zul:1:17: The number 1e400 is beyond the range of numbers "
                                 "(about 1e-308 to 1.8e308 in size); write"},
      {"factor rotate=\u2018varimax\u2019;", "1:15: The text \u2018varimax\u2019 is in typographic quotes"},
      {"factor n=2\u00a0rotate=v;", "1:11: A no-break space (U+00A0) is here"},
      {"factor;\nvar gr\u00f6\u00dfe x;", "2:5: The name gr\u00f6\u00dfe holds characters other than "
                                     "letters, digits and '_'; write it as a name literal: "
                                     "'gr\u00f6\u00dfe'n."}};
  for (const auto& [text, error] : single) {
    p = readProgramText(text, "j.zul");
    ASSERT_EQ(p.items.size(), 1u) << text;
    EXPECT_NE(p.items[0].errors.at(0).find(error), std::string::npos) << p.items[0].errors.at(0);
  }
}

TEST(ProgramReader, ByteOrderMarkAndLineEndings) {
  Program p = readProgramText("\xEF\xBB\xBF" "factor data=x;\r\n  var a;\r\nrun;\r\n", "b.zul");
  ASSERT_EQ(p.items.size(), 1u);
  EXPECT_TRUE(p.items[0].errors.empty());
  EXPECT_EQ(p.items[0].step.statements.at(1).pos.line, 2);
  EXPECT_EQ(p.items[0].step.statements.at(1).pos.column, 3);
  p = readProgramText(std::string("\xFF\xFE" "f\0a\0", 6), "u.zul");
  ASSERT_EQ(p.items.size(), 1u);
  EXPECT_EQ(p.items[0].errors.at(0), "ERROR: u.zul: The program is UTF-16 text; save it as UTF-8, which zul reads.");
}

TEST(ProgramReader, MissingFileIsOneInvalidItem) {
  Program p = readProgram("/nonexistent/dir/p.zul");
  ASSERT_EQ(p.items.size(), 1u);
  EXPECT_EQ(p.items[0].kind, Kind::Invalid);
  ASSERT_FALSE(p.items[0].errors.empty());
  // The reason, so that a mistyped path is told from an unreadable file.
  EXPECT_EQ(p.items[0].errors[0],
            "ERROR: /nonexistent/dir/p.zul: The program file cannot be read: No such file or directory.");
}

TEST(ProgramReader, LibnameOfADatabase) {
  Program p = readProgramText(
      "libname reg sqlite 'register.db';\n"
      "LIBNAME pg POSTGRES 'dbname=survey password=x';\n"
      "LIBNAME bad ORACLE 'x';\n"
      "LIBNAME lite SQLITE;\n"
      "LIBNAME lite SQLITE 'a.db' extra;\n",
      "d.zul");
  ASSERT_EQ(p.items.size(), 5u);
  EXPECT_EQ(p.items[0].engine, "SQLITE");
  EXPECT_EQ(p.items[0].path, "register.db");
  EXPECT_TRUE(p.items[0].errors.empty());
  EXPECT_EQ(p.items[1].engine, "POSTGRES");
  EXPECT_EQ(p.items[1].path, "dbname=survey password=x");
  ASSERT_EQ(p.items[2].errors.size(), 1u);
  EXPECT_NE(p.items[2].errors[0].find("is no library engine"), std::string::npos);
  ASSERT_EQ(p.items[3].errors.size(), 1u);
  EXPECT_NE(p.items[3].errors[0].find("SQLITE 'data.db'"), std::string::npos);
  ASSERT_EQ(p.items[4].errors.size(), 1u);
  EXPECT_NE(p.items[4].errors[0].find("after the database"), std::string::npos);
}

}  // namespace
}  // namespace zul::parse
