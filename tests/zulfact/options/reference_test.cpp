// The option reference (docs/factor-options.md, also `zul --help FACTOR`)
// names every statement, option and word the grammar accepts, so a new
// option cannot be added without telling users about it.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "zulfact/options/grammar.hpp"

namespace zulfact {
namespace {

std::string readReference() {
  std::ifstream in(std::string(ZUL_SOURCE_DIR) + "/docs/factor-options.md");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The words of the text written in capitals, as keywords are ("K" of
// "Kaiser" is not one).
std::set<std::string> upperWords(const std::string& text) {
  auto isKey = [](char c) {
    return std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
           c == '_';
  };
  auto isLower = [](char c) { return std::islower(static_cast<unsigned char>(c)) != 0; };
  std::set<std::string> words;
  for (size_t i = 0; i < text.size();) {
    if (!isKey(text[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && isKey(text[end])) ++end;
    const bool glued = (i > 0 && isLower(text[i - 1])) || (end < text.size() && isLower(text[end]));
    if (!glued) words.insert(text.substr(i, end - i));
    i = end;
  }
  return words;
}

// Every spelling of "MAIN|ALT|HIDDEN$" but the hidden ones.
std::vector<std::string> spellings(const char* list) {
  std::vector<std::string> out;
  std::stringstream in(list);
  std::string s;
  while (std::getline(in, s, '|'))
    if (!s.empty() && s.back() != '$') out.push_back(s);
  return out;
}

std::string mainSpelling(const char* list) {
  std::string s(list);
  return s.substr(0, s.find_first_of("|$"));
}

struct Walker {
  std::set<std::string> words;
  std::string text;
  std::vector<std::string> missing;

  void need(const char* list, const std::string& where) {
    for (const std::string& s : spellings(list))
      if (!words.count(s)) missing.push_back(where + s);
  }
  void walk(const zul_keyword* ks, int n, const std::string& where) {
    for (int i = 0; i < n; ++i) {
      const zul_keyword& k = ks[i];
      need(k.spellings, where);
      // An option with a value is shown with its "=" (METHOD=, PLOTS=).
      if (k.kind != ZUL_VALUE_FLAG && text.find(mainSpelling(k.spellings) + "=") == std::string::npos)
        missing.push_back(where + mainSpelling(k.spellings) + "=");
      walk(k.words, k.nWords, where + mainSpelling(k.spellings) + " ");
      walk(k.options, k.nOptions, where + mainSpelling(k.spellings) + "() ");
    }
  }
  void walk(const zul_word* ws, int n, const std::string& where) {
    for (int i = 0; i < n; ++i) {
      need(ws[i].spellings, where);
      walk(ws[i].options, ws[i].nOptions, where + mainSpelling(ws[i].spellings) + "() ");
    }
  }
};

TEST(OptionReference, NamesEverythingTheGrammarAccepts) {
  Walker w;
  w.text = readReference();
  ASSERT_FALSE(w.text.empty()) << "docs/factor-options.md not found";
  w.words = upperWords(w.text);
  const zul_grammar& g = factorGrammar();
  for (int i = 0; i < g.nStatements; ++i) {
    const zul_statement& st = g.statements[i];
    const std::string where = mainSpelling(st.spellings) + ": ";
    w.need(st.spellings, "statement ");
    w.walk(st.keywords, st.nKeywords, where);
    w.walk(st.words, st.nWords, where);
  }
  EXPECT_TRUE(w.missing.empty()) << [&] {
    std::string all;
    for (const std::string& m : w.missing) all += "\n  " + m;
    return "not in docs/factor-options.md:" + all;
  }();
}

// The default analysis must be stated where a user who leaves out METHOD=
// reads it, with the way to ask for common factors.
TEST(OptionReference, SaysTheDefaultIsPrincipalComponents) {
  const std::string text = readReference();
  EXPECT_NE(text.find("default analysis is principal components"), std::string::npos);
  EXPECT_NE(text.find("PRIORS=SMC"), std::string::npos);
}

}  // namespace
}  // namespace zulfact
