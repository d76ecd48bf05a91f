// Tables built by the module's TableWriter travel through the service
// vector (400/1 -> the host's serviceDispatch) into the host's Report and
// out through the three renderers: the module and the host each come from
// their own library, joined as zul joins them at run time.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <sstream>
#include <stdexcept>

#include "fake_host/fake_host.hpp"
#include "zul/output/json_writer.hpp"
#include "zul/output/listing.hpp"
#include "zul/output/report.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/table_writer.hpp"

namespace {

using zul::output::Report;

std::vector<int> reportedStatuses;
int32_t dispatchOverride = 0;  // when nonzero, 400/1 answers this instead

void statusReport(int32_t, int32_t status) { reportedStatuses.push_back(status); }
const char* hostMessage(int32_t group, int32_t number) {
  static std::map<std::pair<int, int>, std::string> texts = {
      {{180, 378}, "Initial Factor Method"}, {{180, 33}, "Eigenvalues of the Correlation Matrix"}};
  auto it = texts.find({group, number});
  return it == texts.end() ? nullptr : it->second.c_str();
}
int32_t dispatch(void* object, int32_t op, int32_t n, zul_attr* a) {
  if (dispatchOverride) return dispatchOverride;
  return zul::output::serviceDispatch(object, op, n, a);
}

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.provide(ZUL_STATUS_REPORT, &statusReport);
    fake.provide(ZUL_HSTRING_MSG, &hostMessage);
    fake.provide(ZUL_SINK_DISPATCH, &dispatch);
    zulfact::host().attach(fake.vector(), nullptr);
    zul::output::setCurrentReport(&report);
    reportedStatuses.clear();
    dispatchOverride = 0;
    report.beginStep("fa.zul", 7);
    bool graphics = true;
    sink = zulfact::createSink(graphics);
    ASSERT_NE(sink, nullptr);
    EXPECT_FALSE(graphics);  // no HTML report asked for
  }
  void TearDown() override {
    zul::output::setCurrentReport(nullptr);
    zulfact::host().attach(nullptr, nullptr);
  }

  zul_test::FakeHost fake;  // the module's side, with the host's real dispatch
  std::ostringstream listing;
  Report report{{&listing, false}};
  void* sink = nullptr;
};

TEST_F(WriterTest, AnEigenvalueTableArrivesWhole) {
  // Eigenvalues 2, 1, 0.5, 0.5 of a 4-variable correlation matrix (sum 4):
  // proportions 0.5, 0.25, 0.125, 0.125, differences 1, 0.5, 0, missing.
  const double ev[4] = {2, 1, 0.5, 0.5};
  zulfact::TableWriter out(sink);
  out.openSection("InitialSolution", zulfact::Text::message(180, 378),
                  "Initial Factor Method: Principal Components");
  out.beginTable("Eigenvalues");
  out.title(zulfact::Text::message(180, 33), "titeval");
  int cNumber = out.column(zulfact::Column::number("Number", "8.0", {}, zulfact::ColumnRole::HeaderText));
  out.column(zulfact::Column::number("Eigenvalue"));
  out.column(zulfact::Column::number("Difference"));
  out.column(zulfact::Column::number("Proportion", "8.4"));
  EXPECT_EQ(cNumber, 0);
  for (int i = 0; i < 4; ++i) {
    out.row({i + 1, ev[i], i < 3 ? ev[i] - ev[i + 1] : zul_missing(), ev[i] / 4});
  }
  out.tableNote("EigenNote", "2 factors will be retained by the MINEIGEN criterion.");
  out.endTable();
  EXPECT_FALSE(out.tableOpen());
  EXPECT_TRUE(reportedStatuses.empty());

  const auto& m = report.model();
  ASSERT_EQ(m.items.size(), 1u);
  const auto& t = m.items[0];
  EXPECT_EQ(t.name, "Eigenvalues");
  EXPECT_EQ(t.templatePath, "Stat.Factor.Eigenvalues");
  EXPECT_EQ(m.sectionPath(t.section), "InitialSolution");
  EXPECT_EQ(m.sections[0].label, "Initial Factor Method");
  ASSERT_EQ(t.titles.size(), 1u);
  EXPECT_EQ(t.titles[0].text, "Eigenvalues of the Correlation Matrix");
  EXPECT_EQ(t.titles[0].item, "titeval");
  ASSERT_EQ(t.rows.size(), 4u);
  EXPECT_DOUBLE_EQ(t.rows[2][3].number, 0.125);
  EXPECT_TRUE(t.rows[3][2].isMissing());

  // Listing: largest eigenvalue 2 gives 8 decimals in width 10; the
  // Number column has no header (HeaderText); the proportion keeps 4.
  std::string text = listing.str();
  EXPECT_NE(text.find("Initial Factor Method: Principal Components"), std::string::npos);
  EXPECT_NE(text.find("Eigenvalue  Difference  Proportion"), std::string::npos) << text;
  EXPECT_NE(text.find("       1  2.00000000  1.00000000      0.5000"), std::string::npos) << text;
  EXPECT_NE(text.find("       4  0.50000000                  0.1250"), std::string::npos) << text;
  EXPECT_NE(text.find("2 factors will be retained"), std::string::npos);

  // JSON: the documented shape, exact numbers, null for missing.
  auto j = zul::output::toJson(m);
  EXPECT_EQ(j["steps"][0]["program"], "fa.zul");
  EXPECT_EQ(j["steps"][0]["line"], 7);
  auto& jt = j["tables"][0];
  EXPECT_EQ(jt["section"], "InitialSolution");
  EXPECT_EQ(jt["columns"][1]["format"], "10.8");
  EXPECT_EQ(jt["columns"][0]["role"], "HeaderText");
  EXPECT_EQ(jt["rows"][0][0], 1);
  EXPECT_TRUE(jt["rows"][3][2].is_null());
  EXPECT_EQ(jt["notes"][0], "2 factors will be retained by the MINEIGEN criterion.");
}

TEST_F(WriterTest, RoundModeShowsValueAndFlagTogetherAndKeepsTheOriginal) {
  // Round mode: 100 x loading with "6.0" and a flag beside it; the exact
  // loading follows in an OriginalVal column.
  const double loading[2] = {0.8123, -0.0412};
  zulfact::TableWriter out(sink);
  out.beginTable("FactorPattern", {}, true);
  out.title("Factor Pattern");
  out.column(zulfact::Column::text("Variable", 8, {}, zulfact::ColumnRole::HeaderText));
  out.column(zulfact::Column::number("RFactor1", "6.0", "Factor1", zulfact::ColumnRole::RoundFuzzVal));
  out.column(zulfact::Column::text("FgFactor1", 1, {}, zulfact::ColumnRole::Flag));
  out.column(zulfact::Column::number("Factor1", "12.5", {}, zulfact::ColumnRole::OriginalVal));
  const char* names[2] = {"income", "age"};
  for (int i = 0; i < 2; ++i) {
    double r = loading[i] * 100;
    out.row({names[i], r, std::abs(loading[i]) > 0.5 ? "*" : " ", loading[i]});
  }
  out.endTable();

  std::string text = listing.str();
  // 81.23 rounds to 81, -4.12 to -4, right-aligned under "Factor1" (7
  // wide) two blanks after the names (6 wide); the flag one blank after.
  EXPECT_NE(text.find("income       81 *\n"), std::string::npos) << text;
  EXPECT_NE(text.find("age          -4\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("0.81230"), std::string::npos);  // original not listed
  auto j = zul::output::toJson(report.model());
  EXPECT_EQ(j["tables"][0]["rows"][0][3], 0.8123);
  EXPECT_EQ(j["tables"][0]["rows"][1][2], "");
}

TEST_F(WriterTest, ANegativeStatusEndsTheStepWith120UnlessTolerated) {
  zulfact::TableWriter out(sink);
  dispatchOverride = ZUL_SINK_NOTHING_TO_DO;
  out.note("EigenNote", "tolerated");  // reported, the step goes on
  ASSERT_EQ(reportedStatuses.size(), 1u);
  EXPECT_EQ(reportedStatuses[0], ZUL_SINK_NOTHING_TO_DO);

  dispatchOverride = ZUL_SINK_UNKNOWN_OPERATION;
  try {
    out.note("EigenNote", "fails");
    FAIL() << "the step should have ended";
  } catch (const zulfact::EndOfStep& e) {
    EXPECT_EQ(e.completionCode, 120);
  }
  EXPECT_EQ(reportedStatuses.back(), ZUL_SINK_UNKNOWN_OPERATION);
  // Bits 11..21 = 63 and bits 0..10 = 53 are what makes a status tolerated,
  // whatever the other bits hold.
  EXPECT_TRUE(zulfact::sinkStatusTolerated(static_cast<int>(0xC001F835u)));
  EXPECT_FALSE(zulfact::sinkStatusTolerated(static_cast<int>(0x8001F836u)));
  dispatchOverride = 0;
}

TEST_F(WriterTest, APublishingFailureInTheDestructorIsKeptForTheEndOfStep) {
  // A writer that goes out of scope publishes its open table; a destructor
  // cannot end the step, so the end is kept for the procedure entry (it was
  // lost before, and the step could end with a lower code).
  (void)zulfact::host().takeDeferredEnd();
  {
    zulfact::TableWriter out(sink);
    out.beginTable("Eigenvalues");
    out.column(zulfact::Column::number("Number", "8.0"));
    out.row({1});
    dispatchOverride = ZUL_SINK_UNKNOWN_OPERATION;
  }
  dispatchOverride = 0;
  EXPECT_EQ(zulfact::host().takeDeferredEnd(), 120);
  EXPECT_EQ(zulfact::host().takeDeferredEnd(), -1);
}

TEST_F(WriterTest, WithoutASinkEverythingIsQuiet) {
  zulfact::TableWriter out(nullptr);
  out.openSection("InitialSolution", "x", "y");
  out.beginTable("Eigenvalues");
  int c = out.column(zulfact::Column::number("Number", "8.0"));
  out.set(c, 1);
  out.emitRow();
  out.endTable();
  EXPECT_TRUE(report.model().items.empty());
}

TEST_F(WriterTest, TextsLongerThanTheColumnAreCut) {
  zulfact::TableWriter out(sink);
  out.beginTable("Names");
  int c = out.column(zulfact::Column::text("Variable", 4));
  out.set(c, std::string_view("abcdefgh"));
  out.emitRow();
  out.set(c, 3.0);  // a number in a text column is ignored, not misread
  out.emitRow();
  out.endTable();
  const auto& rows = report.model().items.at(0).rows;
  EXPECT_EQ(rows[0][0].text, "abcd");
  EXPECT_EQ(rows[1][0].text, "abcd");
}

}  // namespace
