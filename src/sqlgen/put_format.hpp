// The text of a formatted BY value, and the database functions that write
// the same text inside a database: zul_put(value, format) and
// zul_puti(value, format, locale, encoding), which the scoring statement
// calls for a BY variable that carries a display format.
//
// Formats:
//   "w.d"  fixed: the value rounded to d decimals (none when d is absent),
//          half away from zero, from the shortest decimal text that reads
//          back as the same double (so 2.675 gives 2.68, as it reads);
//          right-aligned in w characters, a longer text kept whole (a BY
//          value must not be cut into another group's)
//   "$w."  a character value: trailing blanks dropped, cut to w bytes
// A missing, NaN or infinite number gives SQL null. zul writes the same
// text in every locale and encoding, so zul_puti is zul_put with two
// arguments more. Other formats are refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sqlgen/dialect.hpp"

namespace sqlgen {

struct PutFormat {
  bool character = false;
  int width = 0;
  int decimals = 0;
};

// The format of a text such as "8.2", "6." or "$20."; nothing when it is
// not one of the formats above.
std::optional<PutFormat> parsePutFormat(std::string_view text);

// A format as a person or another program may write it: one of the above,
// a numeric one also with a leading F or f ("F8.2" is "8.2"). Gives its
// one text as zul writes it ("8.2", "8." without decimals, "$20."), or
// nothing when text is no such format.
std::optional<std::string> canonicalPutFormat(std::string_view text);

// The formats above in words, for messages that refuse another text.
inline constexpr const char* kPutFormatsAccepted =
    "w.d for numbers (width 1 to 9999, 0 to 31 decimals, as in 8.2 or 3.) or $w. for "
    "character values (as in $20.)";

// The formatted text of a number (nothing for a missing or non-finite
// value) and of a character value.
std::optional<std::string> putNumber(double x, const PutFormat& f);
std::string putText(std::string_view text, const PutFormat& f);
// A number as a BY line shows it: putNumber() without its leading blanks,
// "." for a missing value.
std::string shownNumber(double x, const PutFormat& f);

// The SQL expression that writes the SQL expression `value` in `format`
// ("w.d" or "$w."), the same text as putNumber() and putText(): zul_put,
// or zul_puti when a locale is given. PostgreSQL finds functions of pg_temp
// only when they are named with it. The BY groups of a formatted variable
// are formed and selected by this expression, in the crossproducts and in
// the scoring statement alike.
std::string putCall(Dialect d, std::string_view value, std::string_view format,
                    std::string_view locale = {}, std::string_view encoding = {});

// The statements that create zul_put and zul_puti as temporary functions of
// a PostgreSQL session (schema pg_temp: nothing is left in the database),
// for numbers and for text; putCall() names them.
std::vector<std::string> postgresPutFunctions();

}  // namespace sqlgen
