#include "zul/parse/format_statement.hpp"

#include "sqlgen/put_format.hpp"

namespace zul::parse {

namespace {

// The lexer splits a format into several tokens ("$" "12.", "F8" ".2");
// tokens written without a blank between them are put back together.
bool touches(const Token& a, const Token& b) {
  auto plain = [](const Token& t) { return t.kind != TokenKind::String && !t.nameLiteral; };
  return plain(a) && plain(b) && a.pos.line == b.pos.line &&
         b.pos.column == a.pos.column + static_cast<int>(a.text.size());
}

}  // namespace

void readFormatStatement(const Statement& st, const std::string& file,
                         std::vector<FormatAssignment>& out, std::vector<std::string>& errors) {
  const std::vector<Token>& tk = st.tokens;
  std::vector<FormatAssignment> waiting;  // variables before their format
  for (size_t i = 1; i < tk.size();) {
    const Token& first = tk[i];
    std::string word = first.text;
    size_t next = i + 1;
    while (next < tk.size() && touches(tk[next - 1], tk[next])) word += tk[next++].text;
    const bool variable = next == i + 1 && first.kind == TokenKind::Name;
    i = next;
    if (variable) {
      waiting.push_back({word, {}, first.pos});
      continue;
    }
    if (first.kind != TokenKind::Number && word.find_first_of("$.") == std::string::npos) {
      errors.push_back(errorLine(file, first.pos,
                                 "Expected a variable name or a display format after FORMAT, "
                                 "found '" + word + "'; FORMAT takes variable names one by one."));
      return;
    }
    const auto format = sqlgen::canonicalPutFormat(word);
    if (!format) {
      errors.push_back(errorLine(file, first.pos,
                                 "'" + word + "' is not a display format; the formats are " +
                                     sqlgen::kPutFormatsAccepted + "."));
      return;
    }
    if (waiting.empty()) {
      errors.push_back(errorLine(file, first.pos,
                                 "The format " + word + " follows no variable; name the "
                                 "variables before their format, as in FORMAT x y " + word + ";"));
      return;
    }
    for (FormatAssignment& a : waiting) {
      a.format = *format;
      out.push_back(std::move(a));
    }
    waiting.clear();
  }
  for (FormatAssignment& a : waiting) out.push_back(std::move(a));  // format removed
}

}  // namespace zul::parse
