#include "zul/parse/suggest.hpp"

#include <algorithm>
#include <cctype>

namespace zul::parse {

namespace {

char fold(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

int editDistance(std::string_view a, std::string_view b) {
  const size_t n = a.size(), m = b.size();
  // Three rows of the dynamic programme: i-2, i-1 and i.
  std::vector<int> before(m + 1), prev(m + 1), cur(m + 1);
  for (size_t j = 0; j <= m; ++j) prev[j] = static_cast<int>(j);
  for (size_t i = 1; i <= n; ++i) {
    cur[0] = static_cast<int>(i);
    for (size_t j = 1; j <= m; ++j) {
      const int cost = fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1;
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
      if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) && fold(a[i - 2]) == fold(b[j - 1]))
        cur[j] = std::min(cur[j], before[j - 2] + 1);
    }
    std::swap(before, prev);
    std::swap(prev, cur);
  }
  return prev[m];
}

std::string nearestWord(std::string_view word, const std::vector<std::string>& candidates) {
  const size_t len = word.size();
  const int limit = len <= 4 ? 1 : (len <= 8 ? 2 : 3);
  const std::string* best = nullptr;
  int bestDistance = limit + 1;
  for (const std::string& c : candidates) {
    const int d = editDistance(word, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = &c;
    }
  }
  if (best) return *best;
  if (len >= 3)
    for (const std::string& c : candidates)
      if (c.size() > len && editDistance(word, std::string_view(c).substr(0, len)) == 0) return c;
  return {};
}

}  // namespace zul::parse
