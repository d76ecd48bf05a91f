// zul/table/by_groups.hpp -- the walk over BY groups and their records,
// shared by the cursor of a CSV table (input_cursor.hpp) and of a database
// table (db_cursor.hpp). Internal to this folder.
//
// A source keeps two rows: the current record, and a scratch row that
// holds the row after it. The walk reads the next row into the scratch row
// and compares its BY values with the group's: equal, it becomes the
// current record; different, the group has ended and the scratch row is
// the first of the next group. The sources differ only in how a row is
// read, where a group starts (a byte offset, a row number) and how a row
// out of order is reported.
#pragma once

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sqlgen/put_format.hpp"
#include "zul/table/table.hpp"

namespace zul::table::detail {

// The BY variables and the values of the current group.
//
// A BY variable with a display format forms its groups by the formatted
// value: with "3." the values 1.9 and 2.2 are one group, with "$1." the
// names Anna and Abe. Both formats are monotone (rounding, a prefix), so
// values sorted by their own give sorted formatted values when the variable
// is the last BY variable; one followed by others must be sorted by its
// formatted value (a database orders it so). The group keeps the value of
// its first row.
struct ByKeys {
  std::vector<int> cols;  // of the table
  std::vector<bool> desc, isChar;
  std::vector<std::string> names;
  std::vector<std::optional<sqlgen::PutFormat>> formats;  // per BY variable; may be empty
  bool notSorted = false;
  std::vector<double> num;         // of the current group, numeric BY variables
  std::vector<std::string> text;   // character BY variables, without trailing blanks
  std::vector<double> numKey;      // num as the groups compare it (formatted)

  bool empty() const { return cols.empty(); }

  const sqlgen::PutFormat* formatOf(size_t k) const {
    return k < formats.size() && formats[k] ? &*formats[k] : nullptr;
  }

  // A number as groups compare it: rounded as its format writes it (a
  // missing value stays missing).
  double numberKey(size_t k, double x) const {
    const sqlgen::PutFormat* f = formatOf(k);
    if (!f || isMissing(x)) return x;
    const auto shown = sqlgen::putNumber(x, *f);
    if (!shown) return missingValue();
    const size_t start = std::min(shown->find_first_not_of(' '), shown->size());
    double v = 0;
    std::from_chars(shown->data() + start, shown->data() + shown->size(), v);
    return v;
  }
  std::string_view textKey(size_t k, std::string_view t) const {
    const sqlgen::PutFormat* f = formatOf(k);
    return f ? t.substr(0, std::min(t.size(), static_cast<size_t>(f->width))) : t;
  }

  // Sign of (a row's BY values - the group's) in BY order, 0 when equal:
  // number(c) and text(c) give the row's value of column c (text without
  // trailing blanks, empty when missing). Missing sorts below every number.
  template <class Number, class Text>
  int orderOf(Number&& number, Text&& textOf) const {
    for (size_t k = 0; k < cols.size(); ++k) {
      int c;
      if (isChar[k]) {
        const int m = textKey(k, textOf(cols[k])).compare(textKey(k, text[k]));
        c = m < 0 ? -1 : (m > 0 ? 1 : 0);
      } else {
        const double a = numberKey(k, number(cols[k])), b = numKey[k];
        const bool ma = isMissing(a), mb = isMissing(b);
        if (ma || mb) c = ma == mb ? 0 : (ma ? -1 : 1);
        else c = a < b ? -1 : (a > b ? 1 : 0);
      }
      if (c != 0) return desc[k] ? -c : c;
    }
    return 0;
  }

  // The row's BY values become the group's.
  template <class Number, class Text>
  void take(Number&& number, Text&& textOf) {
    for (size_t k = 0; k < cols.size(); ++k) {
      if (isChar[k]) {
        text[k] = std::string(textOf(cols[k]));
      } else {
        num[k] = number(cols[k]);
        numKey[k] = numberKey(k, num[k]);
      }
    }
  }

  // "g=2 name=abc", for messages: formatted values as their formats
  // write them.
  std::string describe() const {
    std::string s;
    for (size_t k = 0; k < cols.size(); ++k) {
      if (k) s += ' ';
      s += names[k];
      s += '=';
      const sqlgen::PutFormat* f = formatOf(k);
      if (isChar[k]) {
        s += textKey(k, text[k]);
      } else if (isMissing(num[k])) {
        s += '.';
      } else if (f) {
        s += sqlgen::shownNumber(num[k], *f);
      } else {
        s += formatNumber(num[k]);
      }
    }
    return s;
  }

  // "DESCENDING g name", as the BY statement would say it.
  std::string list() const {
    std::string s;
    for (size_t k = 0; k < names.size(); ++k) {
      if (k) s += ' ';
      if (desc[k]) s += "DESCENDING ";
      s += names[k];
    }
    return s;
  }
};

// The walk, over a Source (the derived class) that provides:
//   void startTable();       position before the first row of the table
//   bool readHead();         the row at the position into the scratch row
//                            (if not there yet); false at the end
//   template <class... A> bool readNext(A&&...);
//                            the row after the current record into the
//                            scratch row (if not there yet); false at the end
//   int scratchOrder() const;   by.orderOf() for the scratch row
//   void takeScratchKey();      by.take() of the scratch row
//   void markGroupStart();      where reading the group again starts
//   void acceptScratch();       the scratch row becomes the current record
//   ByOrderError orderError(const std::string& before) const;
//                            a group (now by.describe()) after one (before)
//                            that sorts after it
template <class Source>
class ByGroupWalk {
 public:
  enum class State { NotStarted, InGroup, GroupEnded, Finished };
  State state = State::NotStarted;
  bool hasRecord = false;
  ByKeys by;

  // Moves to the next BY group (the whole table without BY variables):
  // 1 when there is one, 0 after the last.
  int nextByGroup() {
    switch (state) {
      case State::NotStarted:
        self().startTable();
        if (by.empty()) {
          self().markGroupStart();
          state = State::InGroup;
          hasRecord = false;
          return 1;
        }
        return enterGroup(false);
      case State::InGroup:
        while (nextRecord()) {
        }
        [[fallthrough]];
      case State::GroupEnded:
        if (by.empty()) {
          finish();
          return 0;
        }
        return enterGroup(true);
      case State::Finished:
        return 0;
    }
    return 0;
  }

  // The next record of the group; false at its end. The arguments go to
  // the source's readNext().
  template <class... A>
  bool nextRecord(A&&... a) {
    if (state != State::InGroup) return false;
    if (!self().readNext(std::forward<A>(a)...) || (!by.empty() && self().scratchOrder() != 0)) {
      state = State::GroupEnded;
      return false;
    }
    self().acceptScratch();
    hasRecord = true;
    return true;
  }

 protected:
  // Enters the group that the next row starts; 0 when there is none.
  // checkOrder: the row must not sort before the group that ended.
  int enterGroup(bool checkOrder) {
    if (!self().readHead()) {
      finish();
      return 0;
    }
    if (checkOrder && !by.notSorted && self().scratchOrder() < 0) {
      const std::string before = by.describe();
      self().takeScratchKey();
      finish();
      throw self().orderError(before);
    }
    self().takeScratchKey();
    self().markGroupStart();
    state = State::InGroup;
    hasRecord = false;
    return 1;
  }

  void finish() {
    state = State::Finished;
    hasRecord = false;
  }

 private:
  Source& self() { return static_cast<Source&>(*this); }
  const Source& self() const { return static_cast<const Source&>(*this); }
};

}  // namespace zul::table::detail
