// The FORMAT statement of a step: read by the host, kept out of the
// statements the procedure parses.
#include "zul/parse/format_statement.hpp"

#include <gmock/gmock.h>

namespace zul::parse {
namespace {

using ::testing::HasSubstr;

// "variable=format" for each assignment of the program's only step.
std::vector<std::string> assignments(const ProgramItem& item) {
  std::vector<std::string> out;
  for (const FormatAssignment& a : item.step.formats) out.push_back(a.variable + "=" + a.format);
  return out;
}

TEST(FormatStatement, FormatsGoToTheVariablesBeforeThem) {
  Program p = readProgramText(
      "factor data=t;\n"
      "  format x1 x2 8.2 region $12. n F6. 'my var'n f10.3;\n"
      "  var x1 x2;\n"
      "  format x2 old;\n"
      "run;",
      "f.zul");
  ASSERT_EQ(p.items.size(), 1u);
  const ProgramItem& it = p.items[0];
  EXPECT_TRUE(it.errors.empty()) << it.errors.front();
  EXPECT_THAT(assignments(it), ::testing::ElementsAre("x1=8.2", "x2=8.2", "region=$12.", "n=6.",
                                                      "my var=10.3", "x2=", "old="));
  EXPECT_EQ(it.step.formats[2].pos.line, 2);
  EXPECT_EQ(it.step.formats[2].pos.column, 20);  // region
  // The procedure sees its own statements only.
  ASSERT_EQ(it.step.statements.size(), 2u);
  EXPECT_EQ(it.step.statements[1].keyword(), "VAR");
}

TEST(FormatStatement, FaultsNameTheirPlaceAndSkipTheStep) {
  const std::pair<const char*, const char*> cases[] = {
      {"format 8.2 x;", "f.zul:2:8: The format 8.2 follows no variable"},
      {"format x 8.123;", "f.zul:2:10: '8.123' is not a display format; the formats are w.d"},
      {"format x $ 8.;", "f.zul:2:10: '$' is not a display format"},
      {"format q1-q5 8.2;", "f.zul:2:8: Expected a variable name or a display format after "
                            "FORMAT, found 'q1-q5'"},
  };
  for (const auto& [statement, error] : cases) {
    Program p = readProgramText(std::string("factor data=t;\n") + statement + "\nrun;", "f.zul");
    ASSERT_EQ(p.items.size(), 1u) << statement;
    ASSERT_EQ(p.items[0].errors.size(), 1u) << statement;
    EXPECT_THAT(p.items[0].errors[0], HasSubstr("ERROR: " + std::string(error))) << statement;
  }
}

}  // namespace
}  // namespace zul::parse
