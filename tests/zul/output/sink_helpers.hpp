// Attribute builders for tests that talk to the sink at the ABI level.
#pragma once

#include <cstring>
#include <string_view>
#include <vector>

#include "zul/abi.h"

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

}  // namespace zul::output::testing
