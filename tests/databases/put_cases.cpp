// Prints the statements that create zul_put and zul_puti in a PostgreSQL
// session, then a query of each case with the text zul's own formatter
// writes for it, so that check_databases.py can compare the two on a real
// server:  one statement a line, then "--" and "sql|expected" lines.
#include <cstdio>
#include <string>

#include "sqlgen/dialect.hpp"
#include "sqlgen/put_format.hpp"

int main() {
  for (const std::string& s : sqlgen::postgresPutFunctions()) std::printf("%s;\n", s.c_str());
  std::printf("--\n");
  struct Case {
    double x;
    const char* format;
  };
  // Ties as the shortest text reads them, a carry into a new digit, a value
  // that rounds to zero from below, one wider than its width, none.
  const Case numbers[] = {{2.675, "8.2"},  {-2.675, "8.2"}, {0.125, "5.2"},   {99.96, "5.1"},
                          {-0.001, "6.2"}, {1234567.5, "4."}, {1e-7, "12.10"}, {7, "3."},
                          {1e21, "25.0"},  {-15.5, "6."}};
  for (const Case& c : numbers) {
    const auto f = sqlgen::parsePutFormat(c.format);
    const auto text = f ? sqlgen::putNumber(c.x, *f) : std::nullopt;
    std::printf("select pg_temp.zul_put(cast(%s as double precision), '%s')|%s\n",
                sqlgen::numberLiteral(c.x).c_str(), c.format, text ? text->c_str() : "");
  }
  const auto f = sqlgen::parsePutFormat("$4.");
  std::printf("select pg_temp.zul_puti(text 'O''Brien  ', '$4.', 'DE_DE', 'utf-8')|%s\n",
              sqlgen::putText("O'Brien  ", *f).c_str());
  // A width that ends inside a UTF-8 character (w counts bytes).
  for (const char* text : {"Zoo\u00eb", "\u6771\u4eac\u90fd"})
    std::printf("select pg_temp.zul_put(text '%s', '$4.')|%s\n", text, sqlgen::putText(text, *f).c_str());
  return 0;
}
