#include "sqlgen/put_format.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace sqlgen {

namespace {

bool digitsOnly(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

int toInt(std::string_view s) {
  int v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

// digits (no sign, no point) with `point` integer digits, rounded half away
// from zero to d decimals.
std::string roundDecimal(std::string digits, size_t point, int d) {
  const size_t keep = point + static_cast<size_t>(d);
  if (digits.size() < keep) digits.append(keep - digits.size(), '0');
  if (digits.size() > keep) {
    const bool up = digits[keep] >= '5';
    digits.resize(keep);
    size_t i = keep;
    while (up && i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (up && i == 0) {
      digits.insert(digits.begin(), '1');
      ++point;
    } else if (up) {
      ++digits[i - 1];
    }
  }
  std::string ip = digits.substr(0, point);
  while (ip.size() > 1 && ip[0] == '0') ip.erase(0, 1);
  if (ip.empty()) ip = "0";
  return d > 0 ? ip + "." + digits.substr(point) : ip;
}

}  // namespace

std::optional<PutFormat> parsePutFormat(std::string_view text) {
  PutFormat f;
  if (!text.empty() && text[0] == '$') {
    f.character = true;
    text.remove_prefix(1);
  }
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot > 4) return std::nullopt;
  const std::string_view w = text.substr(0, dot), d = text.substr(dot + 1);
  if (!digitsOnly(w) || !digitsOnly(d) || d.size() > 2 || (f.character && !d.empty())) return std::nullopt;
  f.width = toInt(w);
  f.decimals = d.empty() ? 0 : toInt(d);
  if (f.width < 1 || f.decimals > 31) return std::nullopt;
  return f;
}

std::optional<std::string> canonicalPutFormat(std::string_view text) {
  const bool named = !text.empty() && (text[0] == 'F' || text[0] == 'f');
  if (named) text.remove_prefix(1);
  const auto f = parsePutFormat(text);
  if (!f || (named && f->character)) return std::nullopt;
  if (f->character) return "$" + std::to_string(f->width) + ".";
  return std::to_string(f->width) + "." + (f->decimals > 0 ? std::to_string(f->decimals) : "");
}

std::optional<std::string> putNumber(double x, const PutFormat& f) {
  if (!std::isfinite(x)) return std::nullopt;
  // The shortest text that reads back as x, in positional notation.
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::fixed);
  const std::string shortest(buf, r.ptr);
  const size_t dot = shortest.find('.');
  std::string digits = shortest;
  size_t point = shortest.size();
  if (dot != std::string::npos) {
    digits.erase(dot, 1);
    point = dot;
  }
  std::string t = roundDecimal(digits, point, f.decimals);
  // No "-0.00": a value that rounds to zero has no sign.
  if (std::signbit(x) && t.find_first_not_of("0.") != std::string::npos) t.insert(t.begin(), '-');
  if (static_cast<int>(t.size()) < f.width) t.insert(0, static_cast<size_t>(f.width) - t.size(), ' ');
  return t;
}

std::string putText(std::string_view text, const PutFormat& f) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  size_t cut = std::min(text.size(), static_cast<size_t>(f.width));
  // w counts bytes; a UTF-8 character that does not fit whole is left out,
  // not cut into bytes that are no text (PostgreSQL refuses them).
  size_t lead = cut;
  while (lead > 0 && lead < text.size() && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
  if (lead < cut && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0xC0) cut = lead;
  return std::string(text.substr(0, cut));
}

std::string shownNumber(double x, const PutFormat& f) {
  std::string t = putNumber(x, f).value_or(".");
  t.erase(0, std::min(t.find_first_not_of(' '), t.size()));
  return t;
}

std::string putCall(Dialect d, std::string_view value, std::string_view format, std::string_view locale,
                    std::string_view encoding) {
  const std::string schema = d == Dialect::kPostgres ? "pg_temp." : "";
  std::string call = schema + (locale.empty() ? "zul_put(" : "zul_puti(") + std::string(value) + ", " +
                     quoteString(format);
  if (!locale.empty()) call += ", " + quoteString(locale) + ", " + quoteString(encoding);
  return call + ")";
}

std::vector<std::string> postgresPutFunctions() {
  // The shortest text of a double (extra_float_digits = 1) read as an exact
  // numeric, rounded half away from zero, as putNumber() does.
  const std::string number =
      "CREATE OR REPLACE FUNCTION pg_temp.zul_put(x double precision, f text) RETURNS text "
      "LANGUAGE plpgsql IMMUTABLE SET extra_float_digits = 1 AS $zul$ "
      "DECLARE m text[]; t text; "
      "BEGIN "
      "m := regexp_match(f, '^([0-9]{1,4})\\.([0-9]{0,2})$'); "
      "IF m IS NULL OR m[1]::int < 1 THEN "
      "RAISE EXCEPTION 'zul_put: the format % is not one zul_put writes here', f; END IF; "
      "IF x IS NULL OR x = 'NaN'::float8 OR x = 'Infinity'::float8 OR x = '-Infinity'::float8 "
      "THEN RETURN NULL; END IF; "
      "t := round(x::text::numeric, coalesce(nullif(m[2], ''), '0')::int)::text; "
      "IF length(t) >= m[1]::int THEN RETURN t; END IF; "
      "RETURN lpad(t, m[1]::int); "
      "END $zul$";
  const std::string text =
      "CREATE OR REPLACE FUNCTION pg_temp.zul_put(x text, f text) RETURNS text "
      "LANGUAGE plpgsql IMMUTABLE AS $zul$ "
      "DECLARE m text[]; t text; "
      "BEGIN "
      "m := regexp_match(f, '^\\$([0-9]{1,4})\\.$'); "
      "IF m IS NULL OR m[1]::int < 1 THEN "
      "RAISE EXCEPTION 'zul_put: the format % is not one zul_put writes here', f; END IF; "
      "t := left(rtrim(x, ' '), m[1]::int); "
      "WHILE octet_length(t) > m[1]::int LOOP t := left(t, -1); END LOOP; "
      "RETURN t; "
      "END $zul$";
  std::vector<std::string> out = {number, text};
  for (const char* type : {"double precision", "text"})
    out.push_back(std::string("CREATE OR REPLACE FUNCTION pg_temp.zul_puti(x ") + type +
                  ", f text, locale text, encoding text) RETURNS text LANGUAGE sql IMMUTABLE AS "
                  "$zul$ SELECT pg_temp.zul_put(x, f) $zul$");
  return out;
}

}  // namespace sqlgen
