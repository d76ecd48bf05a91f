// The three renderers on hand-built models: layout rules of the listing,
// the JSON shape scripts rely on, and the HTML report's self-containment.
#include <gtest/gtest.h>

#include <sstream>

#include "helpers.hpp"
#include "zul/output/json_writer.hpp"
#include "zul/output/listing.hpp"
#include "kernels/text_width.hpp"

namespace zul::output {
namespace {

Column numeric(std::string name, std::string format, Role role = Role::None) {
  Column c;
  c.name = std::move(name);
  c.format = std::move(format);
  c.role = role;
  return c;
}

Column character(std::string name, int width, Role role = Role::None) {
  Column c;
  c.name = std::move(name);
  c.isCharacter = true;
  c.width = width;
  c.role = role;
  return c;
}

// A table of one number.
Item numberItem(int value) {
  Item t;
  t.columns = {numeric("x", "4.0")};
  t.rows = {{Value::of(value)}};
  return t;
}

// One table of one number in step `step`, printed at once.
void printNumberItem(Model& m, Listing& listing, int step, int value) {
  m.items.push_back(numberItem(value));
  m.items.back().step = step;
  listing.print(m, m.items.back());
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(Listing, NumbersAlignOnTheDecimalPoint) {
  Item t;
  t.name = "Best";
  t.columns = {numeric("x", "BEST8.")};
  t.rows = {{Value::of(1)}, {Value::of(2.5)}, {Value::of(-10.25)}, {Value::missing()}};
  auto l = lines(renderTable(t, 0));
  // Header, then 4 rows; the points of 2.5 and -10.25 line up, the integer
  // 1 sits where its point would be, the missing row is empty.
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[1].find('1') + 1, l[2].find('.'));
  EXPECT_EQ(l[2].find('.'), l[3].find('.'));
  EXPECT_EQ(l[4], "");
  // Width 8 is the least a BEST8. column takes.
  EXPECT_EQ(l[0], "       x");
}

TEST(Listing, NamesInAnyScriptKeepTheColumnsAligned) {
  // Each name is 4 columns wide on a terminal: bytes (6, 5, 12) and code
  // points (5 with the combining accent) would misalign the numbers.
  Item t;
  t.columns = {character("Variable", 16, Role::HeaderText), numeric("Mean", "8.2")};
  for (const char* name : {"abcd", "caf\u00e9", "cafe\u0301", "\u4e2d\u6587"})
    t.rows.push_back({Value::of(std::string(name)), Value::of(1.5)});
  const auto l = lines(renderTable(t, 0));
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[1], "abcd      1.50");
  for (size_t r = 2; r < l.size(); ++r)
    EXPECT_EQ(kernels::displayWidth(l[r].substr(0, l[r].find("1.50"))), 10) << l[r];
}

TEST(Listing, LongHeadersWrapAndSitOnTheBottomLine) {
  Item t;
  t.columns = {character("Variable", 8, Role::HeaderText), numeric("m", "8.4")};
  t.columns[1].label = "Measure of Sampling Adequacy";
  t.columns[1].labelGiven = true;
  t.rows = {{Value::of(std::string("income")), Value::of(0.5)}};
  auto l = lines(renderTable(t, 0));
  // In the format's 8 columns the 28-character label would need four
  // lines ("Measure", "of", "Sampling", "Adequacy"); widened to 10 it
  // takes three: "Measure of", "Sampling", "Adequacy", right-aligned after
  // the 6-wide name column and its 2 blanks.
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[0], "        Measure of");
  EXPECT_EQ(l[1], "          Sampling");
  EXPECT_EQ(l[2], "          Adequacy");
  EXPECT_EQ(l[3], "income      0.5000");
}

TEST(Listing, TablesAndTitlesAreCentredOnThePage) {
  Item t = numberItem(7);
  t.titles = {{"", "Ab"}};
  auto l = lines(renderTable(t, 20));
  // Page 20, table 4 wide: 8 blanks before it; the title (2) 9 blanks.
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[0], "         Ab");
  EXPECT_EQ(l[1], "");
  EXPECT_EQ(l[3], "           7");
  // Wider than the page: flush left.
  auto wide = lines(renderTable(t, 2));
  EXPECT_EQ(wide[3], "   7");
}

TEST(Listing, LongTitlesBreakBetweenTheirPhrases) {
  Item t = numberItem(7);
  t.titles = {{"", "Eigenvalues of the Reduced Correlation Matrix: Total = 4.3928  "
                   "Average = 0.87856  (5 eigenvalues)"}};
  auto l = lines(renderTable(t, 70));
  // 97 characters on a 70-wide page: the break falls at the double blank
  // before "Average", never between a label and its number; each line is
  // centred.
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[0], "    Eigenvalues of the Reduced Correlation Matrix: Total = 4.3928");
  EXPECT_EQ(l[1], std::string(18, ' ') + "Average = 0.87856  (5 eigenvalues)");
  // A single phrase wider than the page falls back to breaking at words.
  t.titles = {{"", "Partial Correlations Controlling All Other Variables"}};
  l = lines(renderTable(t, 30));
  ASSERT_GE(l.size(), 2u);
  EXPECT_EQ(l[0], "     Partial Correlations");
}

TEST(Listing, LongFootnotesWrapAtThePageEdge) {
  Item t = numberItem(7);
  std::string words;
  for (int i = 0; i < 30; ++i) words += "word" + std::to_string(i) + " ";
  t.footnotes = {words};
  auto l = lines(renderTable(t, 60));
  // Page 60, table 4 wide and indented 28: 32 columns beside the indent
  // are fewer than a footnote's 40, so it starts at the margin and wraps
  // at the page's edge; every word survives.
  std::string joined;
  for (size_t i = 3; i < l.size(); ++i) {
    EXPECT_LE(l[i].size(), 60u) << l[i];
    EXPECT_NE(l[i][0], ' ') << l[i];
    joined += l[i] + " ";
  }
  EXPECT_GT(l.size(), 5u);
  EXPECT_EQ(joined, words);
}

TEST(Listing, EachStepBeginsWithAHeadingLine) {
  Model m;
  m.steps.push_back({"p.zul", 3, 0, true});
  m.steps.push_back({"q.zul", 12, 0, true});
  std::ostringstream out;
  Listing listing(&out, 40);
  for (int step = 0; step < 2; ++step)
    for (int k = 0; k < 2; ++k) printNumberItem(m, listing, step, k);
  std::vector<std::string> headings;
  for (const std::string& l : lines(out.str()))
    if (l.find("Step ") != std::string::npos) headings.push_back(l);
  ASSERT_EQ(headings.size(), 2u);
  // 40 columns: 23 characters of text between 8 and 9 "=" signs.
  EXPECT_EQ(headings[0], "======== Step 1: p.zul, line 3 =========");
  EXPECT_EQ(headings[1], "======== Step 2: q.zul, line 12 ========");
  // A path too long for the line loses its middle, not the file's name.
  m.steps[0].program = "/home/someone/projects/a-long-directory-name/survey.zul";
  std::ostringstream longOut;
  Listing longListing(&longOut, 40);
  printNumberItem(m, longListing, 0, 0);
  const std::string heading = lines(longOut.str())[0];
  EXPECT_EQ(kernels::displayWidth(heading), 40) << heading;
  EXPECT_NE(heading.find("Step 1: /home/s"), std::string::npos) << heading;
  EXPECT_NE(heading.find("ey.zul, line 3 ==="), std::string::npos) << heading;
}

TEST(Listing, AStepThatFailedSaysSoInTheListingAndTheReport) {
  // Step 2 prints a table then stops; step 3 stops before printing
  // anything. Neither may look complete, nor vanish from either output.
  Model m;
  m.steps = {{"p.zul", 1, 0, true}, {"p.zul", 5, 108, true}, {"p.zul", 9, 1000, true},
             {"p.zul", 12, 0, true}};
  std::ostringstream out;
  Listing listing(&out, 80);
  for (int step = 0; step < 4; ++step) {
    if (step != 2) printNumberItem(m, listing, step, step);
    listing.endStep(m, step);
  }
  std::ostringstream html;
  writeHtml(m, html, "Report");
  struct Case {
    std::string output, text;
  } order[] = {
      {out.str(), "Step 2: p.zul, line 5"}, {out.str(), "ended with completion code 108"},
      {out.str(), "Step 3: p.zul, line 9"}, {out.str(), "stopped (completion code 1000)"},
      {out.str(), "Step 4: p.zul, line 12"}, {html.str(), "<h2>p.zul, line 5</h2>"},
      {html.str(), "ended with completion code 108"}, {html.str(), "<h2>p.zul, line 9</h2>"},
      {html.str(), "stopped (completion code 1000)"}, {html.str(), "<h2>p.zul, line 12</h2>"}};
  size_t at = 0;
  for (size_t i = 0; i < std::size(order); ++i) {
    if (i > 0 && order[i].output != order[i - 1].output) at = 0;
    const size_t found = order[i].output.find(order[i].text, at);
    ASSERT_NE(found, std::string::npos) << order[i].text << " in\n" << order[i].output;
    at = found;
  }
  EXPECT_EQ(out.str().find("completion code 0"), std::string::npos);
}

TEST(Listing, ByLineAndSectionHeadingComeOncePerGroup) {
  Model m;
  m.steps.push_back({"p.zul", 1, 0, false});
  m.sections.push_back({"InitialSolution", "Initial Solution", "Principal Components", -1});
  std::ostringstream out;
  Listing listing(&out, 40);
  for (int group = 0; group < 2; ++group) {
    for (int k = 0; k < 2; ++k) {
      Item t = numberItem(k);
      t.byGroup = group;
      t.by = {{"grp", group == 0 ? "A" : "B", std::nullopt}};
      t.section = 0;
      m.items.push_back(t);
      listing.print(m, m.items.back());
    }
  }
  std::string text = out.str();
  auto count = [&](const std::string& s) {
    size_t n = 0;
    for (size_t p = text.find(s); p != std::string::npos; p = text.find(s, p + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(" grp=A "), 1u);
  EXPECT_EQ(count(" grp=B "), 1u);
  // The same section object is printed once only.
  EXPECT_EQ(count("Principal Components"), 1u);
  // The BY line fills the 40-character page with dashes.
  for (const std::string& l : lines(text)) {
    if (l.find("grp=") != std::string::npos) {
      EXPECT_EQ(l.size(), 40u);
      EXPECT_EQ(l.front(), '-');
    }
  }
  // One too long for the page is broken between words, a word longer than
  // a line cut; each piece between dashes, none past the 40 columns.
  Item wide = m.items.back();
  wide.byGroup = 2;
  wide.by = {{"region", "North East and Yorkshire and the Humber", std::nullopt},
             {"code", std::string(50, 'x'), std::nullopt}};
  std::ostringstream byOut;
  Listing narrow(&byOut, 40);
  narrow.print(m, wide);
  std::string pieces;
  for (const std::string& l : lines(byOut.str())) {
    if (l.empty() || l.front() != '-') continue;
    EXPECT_LE(kernels::displayWidth(l), 40) << l;
    EXPECT_EQ(l.back(), '-') << l;
    pieces += l + "\n";
  }
  EXPECT_NE(pieces.find(" region=North East and "), std::string::npos) << pieces;
  EXPECT_NE(pieces.find(" the Humber "), std::string::npos) << pieces;
  EXPECT_NE(pieces.find(" code=xxxx"), std::string::npos) << pieces;
}

TEST(Listing, NotesAndSectionHeadingsWrapAtTheLineSize) {
  Model m;
  m.steps.push_back({"p.zul", 1, 0, false});
  m.sections.push_back({"InitialSolution", "", "Initial Factor Method: Principal Components", -1});
  Item note;
  note.kind = Item::Kind::Note;
  note.section = 0;
  note.notes = {{"FactorsRetained", "2 factors will be retained by the NFACTOR criterion."}};
  m.items.push_back(note);
  std::ostringstream out;
  Listing listing(&out, 40);
  listing.print(m, m.items.back());
  std::string words;
  for (const std::string& l : lines(out.str())) {
    EXPECT_LE(kernels::displayWidth(l), 40) << l;
    const size_t text = l.find_first_not_of(' ');
    if (text != std::string::npos && l.find("Step") == std::string::npos)
      words += (words.empty() ? "" : " ") + l.substr(text);
  }
  // Nothing is lost: the heading, then the note, word for word.
  EXPECT_NE(words.find("Principal Components 2 factors will be retained"), std::string::npos)
      << words;
}

TEST(Json, ShapeTypesAndPrecision) {
  Model m;
  m.steps.push_back({"p.zul", 3, 4, true});
  Item t;
  t.by = {{"grp", "A", std::nullopt}, {"year", "2001", 2001.0}};
  t.name = "Eigenvalues";
  t.templatePath = "Stat.Factor.Eigenvalues";
  t.titles = {{"titeval", "Eigenvalues"}};
  t.columns = {numeric("Number", "8.0"), numeric("Eigenvalue", "rf"),
               character("Flag", 1, Role::Flag)};
  // 0.1 + 0.2 is not 0.3: the JSON must keep every digit that tells them
  // apart (shortest round trip of 0.30000000000000004).
  t.rows = {{Value::of(1), Value::of(0.1 + 0.2), Value::of(std::string("*"))},
            {Value::of(2), Value::missing(), Value::of(std::string(""))}};
  t.values = {{"_OverallMSA", Value::of(0.5)}};
  m.items.push_back(t);
  Item note;
  note.kind = Item::Kind::Note;
  note.name = "EigenNote";
  note.notes = {{"EigenNote", "n"}};
  m.items.push_back(note);

  std::ostringstream out;
  writeJson(m, out);
  auto j = nlohmann::json::parse(out.str());
  EXPECT_EQ(j["steps"][0]["completionCode"], 4);
  ASSERT_EQ(j["tables"].size(), 2u);
  auto& e = j["tables"][0];
  std::vector<std::string> keys;
  auto ordered = nlohmann::ordered_json::parse(out.str());
  for (auto it = ordered["tables"][0].begin(); it != ordered["tables"][0].end(); ++it) {
    keys.push_back(it.key());
  }
  std::vector<std::string> expected = {"step", "by", "section", "name", "template", "titles",
                                       "footnotes", "notes", "columns", "rows", "values"};
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(e["by"]["grp"], "A");
  EXPECT_TRUE(e["by"]["year"].is_number_integer());
  EXPECT_EQ(e["columns"][0]["type"], "numeric");
  EXPECT_EQ(e["columns"][0]["format"], "8.0");
  EXPECT_EQ(e["columns"][2]["type"], "character");
  EXPECT_EQ(e["columns"][2]["role"], "Flag");
  EXPECT_EQ(e["columns"][1]["label"], "");
  EXPECT_TRUE(e["rows"][0][0].is_number_integer());
  EXPECT_EQ(e["rows"][0][1].get<double>(), 0.1 + 0.2);
  EXPECT_NE(out.str().find("0.30000000000000004"), std::string::npos);
  EXPECT_TRUE(e["rows"][1][1].is_null());
  EXPECT_EQ(e["values"]["_OverallMSA"], 0.5);
  EXPECT_EQ(j["tables"][1]["name"], "EigenNote");
  EXPECT_TRUE(j["tables"][1]["columns"].empty());
}

TEST(Json, EmptyRunsAndBrokenTextStillParse) {
  Model m;
  std::ostringstream empty;
  writeJson(m, empty);
  auto j = nlohmann::json::parse(empty.str());
  EXPECT_TRUE(j["steps"].empty());
  EXPECT_TRUE(j["tables"].empty());

  // A label cut inside a multi-byte character is not valid UTF-8; the
  // file must still be valid JSON, with the table and its rows in it.
  m.steps.push_back({"p.zul", 1, 0, true});
  Item t;
  t.name = "T";
  t.titles = {{"", std::string("caf\xC3")}};
  t.columns = {numeric("x", "4.0")};
  t.rows = {{Value::of(1)}, {Value::of(2)}};
  m.items.push_back(t);
  std::ostringstream out;
  writeJson(m, out);
  j = nlohmann::json::parse(out.str());
  EXPECT_EQ(j["tables"][0]["rows"].size(), 2u);
  EXPECT_EQ(j["tables"][0]["titles"][0].get<std::string>().substr(0, 3), "caf");
}

TEST(Html, EscapesTextJoinsFlagsAndFetchesNothing) {
  Model m;
  m.steps.push_back({"a<b>.zul", 1, 0, true});
  Item t;
  t.name = "FactorPattern";
  t.templatePath = "Stat.Factor.FactorPattern";
  t.titles = {{"", "Pattern & <Structure>"}};
  Column r = numeric("RFactor1", "6.0", Role::RoundFuzzVal);
  r.label = "Factor1";
  r.labelGiven = true;
  t.columns = {character("Variable", 8, Role::HeaderText), r,
               character("FgFactor1", 1, Role::Flag),
               numeric("Factor1", "12.5", Role::OriginalVal)};
  t.rows = {{Value::of(std::string("x\"y")), Value::of(81.23), Value::of(std::string("*")),
             Value::of(0.8123)}};
  m.items.push_back(t);
  Item g;
  g.kind = Item::Kind::Graph;
  g.name = "ScreePlot";
  g.templatePath = "Stat.Factor.Graphics.ScreePlot";
  m.items.push_back(g);

  std::ostringstream out;
  writeHtml(m, out, "Report");
  std::string html = out.str();
  EXPECT_NE(html.find("Pattern &amp; &lt;Structure&gt;"), std::string::npos);
  EXPECT_NE(html.find("a&lt;b&gt;.zul"), std::string::npos);
  EXPECT_NE(html.find("x&quot;y"), std::string::npos);
  // Rounded value and flag share one cell; the exact loading is its tooltip.
  EXPECT_NE(html.find("title=\"0.8123\">81 *</td>"), std::string::npos) << html;
  EXPECT_EQ(html.find("0.81230"), std::string::npos);
  EXPECT_NE(html.find("Stat.Factor.Graphics.ScreePlot"), std::string::npos);
  for (const char* remote : {"http:", "https:", "<script", "<link", "@import", "src="}) {
    EXPECT_EQ(html.find(remote), std::string::npos) << remote;
  }
}

TEST(Html, ContentsNameEachTableByTitleLabelOrSpacedName) {
  Item titled, labelled, bare, counts;
  titled.name = "Corr";
  titled.titles = {{"", "Correlations"}};
  labelled.name = "Eigenvalues";
  labelled.label = "Eigenvalues of the Correlation Matrix";
  bare.name = "SimpleStatistics";
  counts.name = counts.label = "NObs";  // a label that is only the name
  const std::string html = testing::htmlOf({titled, labelled, bare, counts});
  EXPECT_NE(html.find("\">Correlations</a>"), std::string::npos);
  EXPECT_NE(html.find("\">Eigenvalues of the Correlation Matrix</a>"), std::string::npos);
  EXPECT_NE(html.find("\">Simple Statistics</a>"), std::string::npos) << html;
  EXPECT_NE(html.find("\">Number of Observations</a>"), std::string::npos) << html;
  EXPECT_EQ(html.find(">NObs<"), std::string::npos) << html;
}

}  // namespace
}  // namespace zul::output
