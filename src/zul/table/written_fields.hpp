// zul/table/written_fields.hpp -- the text an output table writes for the
// leading fields of an input row that it copies: shared by the cursor's
// current record and the read-ahead helpers, which prepare that text for
// the rows they parse, so that both give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "zul/table/csv.hpp"
#include "zul/table/table.hpp"

namespace zul::table::detail {

// True when the number text [f, f + n) is already the shortest form
// formatNumber() gives, so that it can be copied as it stands.
bool isWrittenNumber(const char* f, size_t n);
// The same for a field that is known to be an optional minus and digits
// with at most one point (parseSimpleNumber() read it): fewer bytes to check.
inline bool isWrittenDecimal(const char* f, size_t n) {
  const char* p = f + (f[0] == '-');
  const size_t length = n - static_cast<size_t>(p - f);
  if (length == 0 || length > 16) return false;
  const char last = p[length - 1];
  // "10" would be written "10" but "1000000" "1e+06": a trailing zero is
  // formatted again, like "1.50" and "7.".
  if (last == '0' || last == '.' || p[0] == '.') return false;
  // At most 15 digits (DBL_DIG): 16 bytes only with a point.
  if (p[0] != '0') return length < 16 || std::memchr(p, '.', length) != nullptr;
  return length >= 3 && p[1] == '.' && p[2] != '0';  // "0.5", not "0.05" or "01"
}
// The length of the written form of a decimal field (see
// isWrittenDecimal) when that form is the field itself or the field
// without the zeros that end its fraction ("50.18864" of "50.188640",
// "-0.5" of "-0.50"), which have the same value; 0 when it must be
// formatted again.
inline size_t writtenDecimalLength(const char* f, size_t n) {
  if (isWrittenDecimal(f, n)) return n;
  if (f[n - 1] != '0' || std::memchr(f, '.', n) == nullptr) return 0;
  size_t m = n;
  while (f[m - 1] == '0') --m;
  if (f[m - 1] == '.') --m;
  return m > 0 && isWrittenDecimal(f, m) ? m : 0;
}
// True when a plain character field is written back as it reads.
bool isWrittenText(const char* f, size_t n);
// The value of an unquoted field as the cursor reads it: missing when
// empty or ".", and when it is no number.
double plainFieldNumber(const char* p, size_t n);

// Appends the unquoted fields [0, n) of one row (pointing into the file,
// one after the other, a comma apart) to out as an output table writes
// them: numbers in shortest form, missing values empty, comma separated.
// Runs of fields that already read so are copied in one piece. False,
// with out unchanged, when a field is not in the file or a character
// field would need quotes or trimming: the caller then writes field by
// field. kind(c) tells how field c is checked.
enum class FieldKind : uint8_t {
  Text,     // of a character column
  Number,   // of a numeric column
  Decimal,  // of a numeric column, known to be a plain decimal
};
template <class Kind>
bool appendWrittenFields(const Field* fields, int n, Kind&& kind, std::string& out) {
  const size_t start = out.size();
  const char* run = fields[0].p;
  for (int c = 0; c < n; ++c) {
    const Field& f = fields[c];
    if (!f.p) {
      out.resize(start);
      return false;
    }
    if (f.n == 0) continue;  // missing or empty: written empty
    const FieldKind k = kind(c);
    if (k == FieldKind::Text) {
      if (isWrittenText(f.p, f.n)) continue;
      out.resize(start);
      return false;
    }
    if (k == FieldKind::Decimal) {
      const size_t keep = writtenDecimalLength(f.p, f.n);
      if (keep == f.n) continue;
      if (keep > 0) {  // the field less its trailing zeros
        out.append(run, static_cast<size_t>(f.p + keep - run));
        run = f.p + f.n;
        continue;
      }
    } else if (isWrittenNumber(f.p, f.n)) {
      continue;
    }
    out.append(run, static_cast<size_t>(f.p - run));
    appendNumberText(out, plainFieldNumber(f.p, f.n));
    run = f.p + f.n;
  }
  const Field& last = fields[n - 1];
  out.append(run, static_cast<size_t>(last.p + last.n - run));
  return true;
}

}  // namespace zul::table::detail
