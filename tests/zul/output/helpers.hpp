// Helpers of the output tests: attribute builders and a caller for tests
// that talk to the sink at the ABI level, as the module does, and the HTML
// page of a one-step run.
#pragma once

#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

#include "zul/abi.h"
#include "zul/output/html_writer.hpp"
#include "zul/output/report.hpp"

namespace zul::output::testing {

inline zul_attr attr(int number, int kind) {
  zul_attr a;
  std::memset(&a, 0, sizeof a);
  a.number = static_cast<uint16_t>(number);
  a.kind = static_cast<uint8_t>(kind);
  return a;
}
inline zul_attr text(int number, std::string_view s) {
  zul_attr a = attr(number, ZUL_SK_TEXT);
  a.value.s = s.data();
  a.second.i = static_cast<int64_t>(s.size());
  return a;
}
inline zul_attr hstring(int number, const char* s) {
  zul_attr a = attr(number, ZUL_SK_HSTRING);
  a.value.s = s;
  return a;
}
inline zul_attr integer(int number, int64_t v, int kind = ZUL_SK_INTEGER) {
  zul_attr a = attr(number, kind);
  a.value.i = v;
  return a;
}
inline zul_attr data(int number, const void* p, int64_t bytes) {
  zul_attr a = attr(number, ZUL_SK_DATA);
  a.value.p = p;
  a.second.i = bytes;
  return a;
}

// The module's side of a Report's dispatch.
struct SinkCaller {
  Report& report;

  int32_t call(void* object, int op, std::vector<zul_attr> a = {}) const {
    return report.dispatch(object, op, static_cast<int32_t>(a.size()),
                           a.empty() ? nullptr : a.data());
  }
  // A new object of kind ("manager", "data", "text") under owner, made with
  // operation op; null when refused.
  void* create(void* owner, std::string_view kind, std::string_view name = {},
               int op = ZUL_OP_CREATE) const {
    void* made = nullptr;
    std::vector<zul_attr> a = {data(ZUL_SA_RESULT, &made, 8)};
    if (!kind.empty()) a.push_back(text(ZUL_SA_KIND, kind));
    if (!name.empty()) a.push_back(text(ZUL_SA_NAME, name));
    return call(owner, op, a) == 0 ? made : nullptr;
  }
  // A data table under owner whose one numeric column is bound to *cell.
  void* numberTable(void* owner, std::string_view name, std::string_view column,
                    const double* cell) const {
    void* t = create(owner, "data", name);
    call(t, ZUL_OP_COLUMN, {text(ZUL_SA_NAME, column), data(ZUL_SA_DATA, cell, 8)});
    return t;
  }
};

// The HTML report of one step of p.zul that published items.
inline std::string htmlOf(std::vector<Item> items, std::vector<Section> sections = {}) {
  Model m;
  m.steps.push_back({"p.zul", 1, 0, true});
  m.items = std::move(items);
  m.sections = std::move(sections);
  std::ostringstream out;
  writeHtml(m, out, "Report");
  return out.str();
}

}  // namespace zul::output::testing
