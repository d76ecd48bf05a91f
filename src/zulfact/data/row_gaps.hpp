// Empty cells of the rows that METHOD=PATTERN, METHOD=SCORE and
// PRIORS=INPUT take from a stored table, and of the rows of a Procrustes
// target, are read as 0. A table written by
// OUTSTAT= has none there, so one is a gap in a table written or edited by
// hand: the first of a group is named in a warning (table, line, row and
// variable), so that the gap is not analysed as a 0 without a word.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

class RowGaps {
 public:
  // The gaps of rows of `table` (a TARGET= table); by default DATA=.
  explicit RowGaps(zul_table* table = nullptr) : table_(table) {}
  // Counts the empty cells among the first n values of a row the reader
  // uses (n <= the number of analysis variables), keeping the first.
  // Value i is of analysis variable i, or of table column columns[i].
  void look(const StepOptions& opt, const double* values, int n, std::string_view type,
            std::string_view name, const int32_t* columns = nullptr);
  // The warning (message 230/68) and code 4 when a cell was empty.
  void report(ProcState& ps) const;

 private:
  int count_ = 0;
  std::string type_, name_, variable_;
  int64_t line_ = 0;
  zul_table* table_;
};

}  // namespace zulfact
