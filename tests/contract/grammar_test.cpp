// The FACTOR grammar (module data handed over the C interface) read by the
// host's real parser: spellings, value forms, ranges and rotation lists,
// checked through the record it fills.
#include "zulfact/options/grammar.hpp"

#include <gtest/gtest.h>

#include <map>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/proc_state.hpp"
#include "zul/parse/parser.hpp"

namespace zulfact {
namespace {

using zul::parse::CollectDiagnostics;
using zul::parse::ColumnInfo;
using zul::parse::TableOpener;
using zul::parse::TableSpec;

// One table of columns a, b, c, x1..x3, grp (character), standing in for
// the host's table layer.
class OneTable : public TableOpener {
 public:
  zul_table* openInput(const TableSpec&, std::string&) override { return handle(); }
  zul_table* openLastCreated(std::string&) override { return handle(); }
  std::vector<ColumnInfo> columns(zul_table*) override {
    return {{"a", false, ""}, {"b", false, ""}, {"c", false, ""}, {"x1", false, ""},
            {"x2", false, ""}, {"x3", false, ""}, {"grp", true, ""}};
  }
  zul_table* openOutput(const TableSpec&, std::string&) override { return handle(); }
  static zul_table* handle() { return reinterpret_cast<zul_table*>(uintptr_t{0x100}); }
};

struct Parsed {
  std::unique_ptr<zul::parse::ParsedStep> step;
  int status = -1;
  std::vector<std::string> lines;
  const zul_parsed& rec() const { return *step->record(); }
  bool bit(int b) const { return zul_flag_test(rec().flags, b) != 0; }
  const zul_slot& slot(int s) const { return rec().slots[s]; }
  const zul_code_list& codes(int s) const {
    return *static_cast<const zul_code_list*>(slot(s).data);
  }
  std::string firstLine() const { return lines.empty() ? "" : lines[0]; }
};

Parsed parse(const std::string& statements) {
  zul::parse::Program p = zul::parse::readProgramText(statements, "f.zul");
  Parsed r;
  EXPECT_EQ(p.items.size(), 1u);
  EXPECT_TRUE(p.items.at(0).errors.empty());
  OneTable tables;
  CollectDiagnostics diag;
  r.step = zul::parse::parseStep(p.items.at(0).step, factorGrammar(), tables, diag, r.status);
  r.lines = diag.lines;
  return r;
}

TEST(FactorGrammar, IsSound) {
  auto problems = zul::parse::checkGrammar(factorGrammar());
  EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(FactorGrammar, EverySpellingOfAnOptionFillsTheSameSlot) {
  struct Case {
    const char* option;
    int slot;
    double value;
  } cases[] = {
      {"nfactors=2", kSlotNFactors, 2}, {"nfactor=2", kSlotNFactors, 2},
      {"nfact=2", kSlotNFactors, 2},    {"n=2", kSlotNFactors, 2},
      {"min=0.5", kSlotMinEigen, 0.5},  {"percent=80", kSlotProportion, 80},
      {"p=0.8", kSlotProportion, 0.8},  {"sing=1e-9", kSlotSingular, 1e-9},
      {"tolerance=0.5", kSlotSingular, 0.5}, {"tol=1", kSlotSingular, 1},
      {"conv=0", kSlotConverge, 0},     {"maxit=32767", kSlotMaxIter, 32767},
      {"rconv=1e-12", kSlotRconverge, 1e-12}, {"g=-1.5", kSlotGamma, -1.5},
      {"hkp=0.5", kSlotHkPower, 0.5},   {"k=4", kSlotPower, 4},
      {"nplots=2", kSlotNPlot, 2},      {"np=32767", kSlotNPlot, 32767},
      {"pc=-3", kSlotPlotChar, -3},     {"random=3000000000", kSlotRandom, 3000000000.0},
      {"hypval=0", kSlotHypValue, 0},   {"alpha=95", kSlotAlpha, 95},
      {"ci=0.5", kSlotCover, 0.5},      {"nthreads=0", kSlotThreads, 0},
      {"thread=4", kSlotThreads, 4},    {"m=ml", kSlotMethod, kMethodMl},
      {"method=fuller", kSlotMethod, kMethodFuller}, {"m=f", kSlotMethod, kMethodFuller},
      {"method=prin", kSlotMethod, kMethodPrincipal}, {"method=i", kSlotMethod, kMethodImage},
      {"prior=asmc", kSlotPriors, kPriorsAsmc}, {"priors=r", kSlotPriors, kPriorsRandom},
      {"norm=none", kSlotNorm, kNormNone}, {"norm=cov", kSlotNorm, kNormCov},
      {"vardef=wgt", kSlotVardef, kVardefWgt},
  };
  for (const Case& c : cases) {
    Parsed r = parse(std::string("factor data=t ") + c.option + ";");
    ASSERT_EQ(r.status, 0) << c.option << ": " << r.firstLine();
    EXPECT_TRUE(r.slot(c.slot).given) << c.option;
    EXPECT_DOUBLE_EQ(r.slot(c.slot).v.number, c.value) << c.option;
  }
  Parsed r = parse("factor data=t covariance s c ev re residual res ultra hey nop se nopmaxnorm "
                   "onet twot stat=o;");
  ASSERT_EQ(r.status, 0) << r.firstLine();
  for (int b : std::initializer_list<int>{kBitCov, kBitSimple, kBitCorr, kBitEigenvectors, kBitReorder, kBitResiduals,
                kBitUltraHeywood, kBitHeywood, kBitNoprint, kBitStderr, kBitNoPromaxNorm,
                kBitOneTail, kBitTwoTail})
    EXPECT_TRUE(r.bit(b)) << b;
  EXPECT_EQ(r.rec().tableGiven[ZUL_DS_OUTSTAT], 1);
  EXPECT_FALSE(r.slot(kSlotVardef).given);
}

// Messages and titles name a method or priors method by the words of
// codes.hpp ("PRIORS=%1 cannot be used with METHOD=%2"); each word must be
// a spelling the statement accepts for the same code, or the advice in the
// message would not parse.
TEST(FactorGrammar, MessageWordsOfMethodsAndPriorsParseToTheirOwnCodes) {
  for (int code = kMethodPrincipal; code <= kMethodScore; ++code) {
    const std::string word = methodWord(code);
    ASSERT_FALSE(word.empty()) << code;
    Parsed r = parse("factor data=t method=" + word + ";");
    ASSERT_EQ(r.status, 0) << word << ": " << r.firstLine();
    EXPECT_DOUBLE_EQ(r.slot(kSlotMethod).v.number, code) << word;
  }
  for (int code = kPriorsSmc; code <= kPriorsRandom; ++code) {
    const std::string word = priorsWord(code);
    Parsed r = parse("factor data=t priors=" + word + ";");
    ASSERT_EQ(r.status, 0) << word << ": " << r.firstLine();
    EXPECT_DOUBLE_EQ(r.slot(kSlotPriors).v.number, code) << word;
  }
  // Numeric priors come from the PRIORS statement, not from a PRIORS= word.
  EXPECT_STREQ(priorsWord(kPriorsNumeric), "NUMERIC");
  EXPECT_STREQ(priorsWord(kPriorsNone), "");
}

TEST(FactorGrammar, RangesOfThePrimaryOptions) {
  struct Case {
    const char* option;
    bool accepted;
  } cases[] = {
      {"nfactors=parallel(nsims=199)", false}, {"nfactors=parallel(nsims=200)", true},
      {"parallel(alpha=1.5)", false},          {"parallel(alpha=0 seed=1)", true},
      {"parallel(seed=0)", false},             {"proportion=100", true},
      {"proportion=100.5", false},             {"singular=1.01", false},
      {"maxiter=32768", false},                {"maxiter=-1", false},
      {"power=0", false},                      {"power=32767", true},
      {"nplot=1", false},                      {"mineigen=-0.1", false},
      {"threads=-1", false},                   {"alpha=101", false},
      {"cover=-1", false},                     {"cover", true},
      {"riter=-1", false},                     {"fuzz=-1", false},
      {"nfactors=2.5", false},                 {"nfactors=-3", true},
      {"plots(nplot=1)=scree", false},         {"plots=loadings(circle=101)", false},
      {"prefix='quoted'", false},              {"prefix=Score_", true},
  };
  // (The messages of a value out of range: the parse_checks program.)
  for (const Case& c : cases) {
    Parsed r = parse(std::string("factor data=t ") + c.option + ";");
    EXPECT_EQ(r.status == 0, c.accepted) << c.option << ": " << r.firstLine();
  }
}

TEST(FactorGrammar, CriteriaOfTheNumberOfFactors) {
  Parsed r = parse("factor data=t nfactors=parallel(alpha=0.1 nsims=500 seed=7);");
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.bit(kBitParallelCriterion));
  EXPECT_FALSE(r.slot(kSlotNFactors).given) << "the criterion is no number of factors";
  EXPECT_EQ(r.slot(kSlotParallelAlpha).v.number, 0.1);
  EXPECT_EQ(r.slot(kSlotParallelNSims).v.number, 500);
  EXPECT_EQ(r.slot(kSlotParallelSeed).v.number, 7);
  r = parse("factor data=t n=map n=map4 parallel map;");
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.bit(kBitMapCriterion2));
  EXPECT_TRUE(r.bit(kBitMapCriterion4));
  EXPECT_TRUE(r.bit(kBitParallel));
  EXPECT_TRUE(r.bit(kBitMap));
  EXPECT_FALSE(r.bit(kBitParallelCriterion));
}

TEST(FactorGrammar, RotationListsAndTheirParameters) {
  Parsed r = parse("factor data=t rotate=varimax, oblimin(0.5), orthgencf(1 2 -3 4) "
                   "r=promax(3),none prerotate=covarimin;");
  ASSERT_EQ(r.status, 0) << r.firstLine();
  const zul_code_list& rot = r.codes(kSlotRotate);
  ASSERT_EQ(rot.count, 5);
  EXPECT_EQ(std::vector<int>(rot.codes, rot.codes + 5),
            (std::vector<int>{kRotVarimax, kRotOblimin, kRotOrthgencf, kRotPromax, kRotNone}));
  ASSERT_EQ(rot.nParams, 6);
  EXPECT_EQ(std::vector<double>(rot.params, rot.params + 6),
            (std::vector<double>{0.5, 1, 2, -3, 4, 3}));
  EXPECT_EQ(std::vector<int>(rot.paramPositions, rot.paramPositions + 6),
            (std::vector<int>{2, 3, 3, 3, 3, 4}));
  ASSERT_EQ(rot.nBoundaries, 2);
  EXPECT_EQ(rot.boundaries[1], 3);
  // PREROTATE=COVARIMIN gives code 22, as in ROTATE=.
  EXPECT_EQ(r.codes(kSlotPrerotate).codes[0], 22);

  struct Case {
    const char* option;
    bool accepted;
  } cases[] = {
      {"rotate=orthcf(1,2)", true}, {"rotate=orthcf(1,2,3)", false},
      {"rotate=varimax(1)", false}, {"rotate=p(2)", true},
      {"rotate=procrustes", true},  {"prerotate=promax", false},
      {"prerotate=procrustes", false}, {"pre=hk(0.5)", true},
      {"pre=v,q", false},           {"rotate=n,q,qmin,cvmin,oqmax,ov,obiqmax,oe,opa,ofpa,e,pa,fpa", true},
      {"r=ormax(1) , obmin(0) , orcf(0 1) , obcf(0 1) , orgencf(0 0 0 0) , obgencf(1 1 1 1)", true},
      {"rotate=", false},            {"rotate=varimax,", false},
  };
  for (const Case& c : cases) {
    Parsed p = parse(std::string("factor data=t ") + c.option + ";");
    EXPECT_EQ(p.status == 0, c.accepted) << c.option << ": " << p.firstLine();
  }
}

TEST(FactorGrammar, PlotOptionAndPlotRequests) {
  // PLOT alone is the character pattern plot; PLOT= and PLOTS= are requests.
  Parsed r = parse("factor data=t plot;");
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.bit(kBitPlot));
  EXPECT_FALSE(r.bit(kBitPlots));
  r = parse("factor data=t plot=scree;");
  ASSERT_EQ(r.status, 0);
  EXPECT_FALSE(r.bit(kBitPlot));
  EXPECT_TRUE(r.bit(kBitPlots));
  EXPECT_TRUE(r.bit(kBitPlotScree));
  r = parse("factor data=t plots(unpack nplot=3 circle=50 70)=(eigen(unpack) "
            "loading(flip vector circle) initpattern prepattern(nplot=4) map2 parallel "
            "pathdiagram);");
  ASSERT_EQ(r.status, 0) << r.firstLine();
  for (int b : std::initializer_list<int>{kBitPlotsUnpack, kBitPlotsCircle, kBitPlotScree, kBitScreeUnpack,
                kBitPlotLoadings, kBitLoadingsOptions, kBitLoadingsOptions + 1,
                kBitLoadingsOptions + 3, kBitPlotInitLoadings, kBitPlotPreLoadings,
                kBitPlotMap2, kBitPlotParallel, kBitPlotPathDiagram})
    EXPECT_TRUE(r.bit(b)) << b;
  EXPECT_FALSE(r.bit(kBitLoadingsOptions + 2));
  EXPECT_EQ(r.slot(kSlotPlotsNPlot).v.number, 3);
  EXPECT_EQ(r.slot(kSlotPlotsCircle).count, 2);
  EXPECT_EQ(r.slot(kSlotPreLoadingsNPlot).v.number, 4);
  EXPECT_FALSE(r.slot(kSlotLoadingsCircle).given);
}

TEST(FactorGrammar, SubordinateStatements) {
  Parsed r = parse("factor data=t; variables x1-x3; partial a; prior 0.5 0.6 0.7; "
                   "frequency b; weights c; by descending grp notsorted; "
                   "pathdiagram arrange=grip nodelabel=vlabel noest noerrorvariance "
                   "label=[x1='First item'] dlabel=Model title='Two factors' dh=400 decp=2 "
                   "salience=0.3 scale=1.5 factsize=2 textsizemin=10;");
  ASSERT_EQ(r.status, 0) << r.firstLine();
  const zul_parsed& rec = r.rec();
  EXPECT_EQ(rec.lists[ZUL_LIST_VAR].count, 3);
  EXPECT_EQ(rec.lists[ZUL_LIST_PARTIAL].numbers[0], 1);
  EXPECT_EQ(rec.lists[ZUL_LIST_FREQ].numbers[0], 2);
  EXPECT_EQ(rec.lists[ZUL_LIST_WEIGHT].numbers[0], 3);
  EXPECT_EQ(rec.lists[ZUL_LIST_BY].numbers[0], 7);
  EXPECT_EQ(rec.lists[ZUL_LIST_BY].descending[0], 1);
  EXPECT_TRUE(r.bit(kBitNotSorted));
  EXPECT_TRUE(r.bit(kBitPriorsStatement));
  EXPECT_EQ(r.slot(kSlotPriorsStatement).count, 3);
  EXPECT_TRUE(r.bit(kBitPathDiagramStatement));
  // The statement may be repeated: its options are in its own record.
  ASSERT_EQ(r.rec().nOccurrences, 1);
  const zul_occurrence& path = r.rec().occurrences[0];
  auto pathBit = [&](int b) { return zul_flag_test(path.flags, b) != 0; };
  EXPECT_EQ(path.slots[kSlotPathArrange].v.number, 4);
  EXPECT_EQ(path.slots[kSlotPathNodeLabel].v.number, kNodeLabelVarLabel);
  EXPECT_TRUE(pathBit(kBitPathNoEstim));
  EXPECT_TRUE(pathBit(kBitPathNoErrVar));
  EXPECT_FALSE(r.bit(kBitPathNoEstim));
  EXPECT_STREQ(static_cast<const zul_pair*>(path.slots[kSlotPathLabel].data)[0].text, "First item");
  EXPECT_STREQ(static_cast<const char*>(path.slots[kSlotPathTitle].data), "Two factors");
  EXPECT_EQ(path.slots[kSlotPathDesignHeight].v.number, 400);
  EXPECT_EQ(path.slots[kSlotPathCover].v.number, 0.3);
  EXPECT_EQ(parse("factor data=t; pathdiagram; pathdiagram fuzz=0.5;").rec().nOccurrences, 2);

  for (const char* bad : {"pathdiagram dh=99;", "pathdiagram decp=5;", "pathdiagram arrange=tree;",
                          "pathdiagram textsizemin=41;", "pathdiagram scale=7;",
                          "var grp;", "weight a b;", "priors one two;"}) {
    Parsed p = parse(std::string("factor data=t; ") + bad);
    EXPECT_NE(p.status, 0) << bad;
  }
  // The PRIORS statement may name a method instead of values.
  r = parse("factor data=t; priors max;");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.slot(kSlotPriorsStatement).v.number, kPriorsMax);
}

TEST(FactorGrammar, UnlistedSpellingsStayOutOfMessages) {
  Parsed r = parse("factor data=t method=bogus;");
  EXPECT_EQ(r.firstLine(),
            "ERROR: f.zul:1:22: Expected one of PRINCIPAL, ULS, PRINIT, ALPHA, ML, GLS, HARRIS, "
            "IMAGE, PATTERN, SCORE after METHOD=, found 'bogus'.");
  // NFACTR is one edit from the unlisted NFACTOR but two from NFACTORS:
  // only listed spellings are suggested. (An option that is no option at
  // all: the parse_checks program.)
  r = parse("factor data=t nfactr=2;");
  EXPECT_EQ(r.firstLine(), "ERROR: f.zul:1:15: Syntax error: NFACTR is not an option of the "
                           "FACTOR statement; did you mean NFACTORS=?");
}

}  // namespace
}  // namespace zulfact
