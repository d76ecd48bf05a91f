// zul/table/by_sync.cpp -- a second table (TARGET=) kept on the BY group
// of an input: bySyncMode() and syncByGroup() of table.hpp.
#include <string>

#include "zul/table/db_cursor.hpp"
#include "zul/table/input_cursor.hpp"

namespace zul::table {

namespace {

// Where a table's cursor stands, for either kind of table.
enum class Where { NotStarted, InGroup, GroupEnded, Finished };
Where whereOf(const InputTable::Impl& csv, const detail::DbCursor* db) {
  if (db) return static_cast<Where>(static_cast<int>(db->state));
  return static_cast<Where>(static_cast<int>(csv.state));
}

}  // namespace

int bySyncMode(const InputTable& input, const InputTable& target) {
  const auto& vars = input.by().variables;
  if (vars.empty()) return 2;
  int have = 0;
  for (const auto& v : vars)
    if (target.varNumber(v.name) != 0) ++have;
  if (have == static_cast<int>(vars.size())) return 0;
  return have == 0 ? 2 : 1;
}

int syncByGroup(const InputTable& input, InputTable& target) {
  int mode = bySyncMode(input, target);
  if (mode == 1) return 2;
  if (mode == 2) {
    if (!target.by().variables.empty()) target.setBy({});
    target.rewindTable();
    target.nextByGroup();
    return 0;
  }
  const InputTable::Impl& in = *input.impl_;
  const InputTable::Impl& tg = *target.impl_;
  // The target reads its groups by the input's BY variables.
  bool sameBy = target.by().variables.size() == input.by().variables.size();
  for (size_t k = 0; sameBy && k < input.by().variables.size(); ++k)
    sameBy = sameName(target.by().variables[k].name, input.by().variables[k].name) &&
             target.by().variables[k].descending == input.by().variables[k].descending;
  if (!sameBy) {
    BySpec byVars = input.by();
    byVars.notSorted = byVars.notSorted || target.by().notSorted;
    target.setBy(byVars);
  }
  for (size_t k = 0; k < in.by.cols.size(); ++k)
    if (in.by.isChar[k] != tg.by.isChar[k]) return 2;

  // Sign of (target group - input group) in BY order, by the values as
  // the input's groups compare them (formatted where it has formats).
  auto compare = [&]() {
    for (size_t k = 0; k < in.by.cols.size(); ++k) {
      const int kk = static_cast<int>(k);
      int c;
      if (in.by.isChar[k]) {
        int m = in.by.textKey(k, target.byText(kk)).compare(in.by.textKey(k, input.byText(kk)));
        c = m < 0 ? -1 : (m > 0 ? 1 : 0);
      } else {
        double a = in.by.numberKey(k, target.byNumber(kk)), b = in.by.numberKey(k, input.byNumber(kk));
        bool ma = isMissing(a), mb = isMissing(b);
        if (ma || mb) c = ma == mb ? 0 : (ma ? -1 : 1);
        else c = a < b ? -1 : (a > b ? 1 : 0);
      }
      if (c != 0) return in.by.desc[k] ? -c : c;
    }
    return 0;
  };

  const Where where = whereOf(tg, target.db_.get());
  if (tg.by.notSorted || in.by.notSorted) {
    // Groups in no particular order: search the whole target.
    target.rewindTable();
    while (target.nextByGroup() > 0)
      if (compare() == 0) return 0;
    return 1;
  }
  if (where == Where::InGroup || where == Where::GroupEnded) {
    int c = compare();
    if (c == 0) {
      target.rewindGroup();
      return 0;
    }
    if (c > 0) return 1;  // the target is already past the input's group
  } else if (where == Where::Finished) {
    return 1;
  }
  while (target.nextByGroup() > 0) {
    int c = compare();
    if (c == 0) return 0;
    if (c > 0) return 1;
  }
  return 1;
}

}  // namespace zul::table
