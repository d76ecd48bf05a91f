// Width of the OUTSTAT= _NAME_ column: min(32, max(8, factor-name width,
// longest analysis-variable name + partial-row prefix)). Cases worked by
// hand from that rule.
#include "zulfact/output/outstat_rows.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace zulfact {
namespace {

struct Names {
  std::vector<char> buffer;
  explicit Names(std::initializer_list<const char*> names) : buffer(33 * names.size(), '\0') {
    size_t i = 0;
    for (const char* n : names) std::strncpy(buffer.data() + 33 * i++, n, 32);
  }
};

TEST(OutstatNameWidth, FromNamesPrefixAndFactorNames) {
  Names names{"a", "income12", "region"};
  StepRecord ps;
  ps.opt.varNames = names.buffer.data();
  ps.opt.nVars = 3;
  ps.opt.nAll = 3;
  ps.factorNameWidth = 7;
  EXPECT_EQ(outstatNameWidth(ps), 8);  // longest 8, at least 8
  ps.factorNameWidth = 11;
  EXPECT_EQ(outstatNameWidth(ps), 11);  // the factor names are wider
  ps.factorNameWidth = 7;
  ps.opt.nPartial = 1;
  ps.opt.nAll = 4;
  ps.opt.parPrefixLength = 2;               // "R_": 8 + 2
  EXPECT_EQ(outstatNameWidth(ps), 10);
  ps.opt.parPrefixLength = 30;              // cut at 32
  EXPECT_EQ(outstatNameWidth(ps), 32);
  ps.opt.nameWidth = 12;                    // the width the parser declared wins
  EXPECT_EQ(outstatNameWidth(ps), 12);
}

}  // namespace
}  // namespace zulfact
