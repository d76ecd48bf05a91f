#include "zulfact/output/sink_attributes.hpp"

#include <cstring>

#include "zulfact/host/host.hpp"

namespace zulfact::sink_attr {

namespace {

zul_attr blank(int number, int kind) {
  zul_attr a;
  std::memset(&a, 0, sizeof a);
  a.number = static_cast<uint16_t>(number);
  a.kind = static_cast<uint8_t>(kind);
  return a;
}

}  // namespace

zul_attr integer(int number, int64_t value) {
  zul_attr a = blank(number, ZUL_SK_INTEGER);
  a.value.i = value;
  return a;
}

zul_attr enumeration(int number, int64_t value) {
  zul_attr a = blank(number, ZUL_SK_ENUM);
  a.value.i = value;
  return a;
}

zul_attr chars(int number, std::string_view text) {
  zul_attr a = blank(number, ZUL_SK_TEXT);
  a.value.s = text.data();
  a.second.i = static_cast<int64_t>(text.size());
  return a;
}

zul_attr data(int number, const void* pointer, int64_t bytes) {
  zul_attr a = blank(number, ZUL_SK_DATA);
  a.value.p = pointer;
  a.second.i = bytes;
  return a;
}

zul_attr text(int number, const Text& text) {
  if (text.isMessage()) {
    if (const char* s = host().hostString(text.group(), text.number())) {
      zul_attr a = blank(number, ZUL_SK_HSTRING);
      a.value.s = s;
      return a;
    }
    return chars(number, {});
  }
  return chars(number, text.text());
}

}  // namespace zulfact::sink_attr
