#include "zulfact/output/character_plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "kernels/packed.hpp"
#include "kernels/text_width.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

// The horizontal scale: the label of each tenth ends in its column.
constexpr std::string_view kHorizontalScale =
    "-1 -.9-.8-.7-.6-.5-.4-.3-.2-.1  0 .1 .2 .3 .4 .5 .6 .7 .8 .9 1.0";
// One digit of the vertical scale per row.
constexpr std::string_view kVerticalDigits = "1 9 8 7 6 5 4 3 2 1 0 1 2 3 4 5 6 7 8 9 1";
constexpr int kAxisRow = 20;
constexpr int kAxisColumn = 33;
constexpr int kRowLabelWidth = 3;
// The grid starts after the row label and one blank.
constexpr int kGridIndent = kRowLabelWidth + 1;

static_assert(kHorizontalScale.size() == kPatternColumns);
static_assert(kVerticalDigits.size() == kPatternRows);

// The 3-character label of a grid row: " .9", "-.1", and "  1", " -1" at
// the ends.
std::string rowLabel(int r) {
  const char digit = kVerticalDigits[static_cast<size_t>(r)];
  if (digit == ' ') return std::string(kRowLabelWidth, ' ');
  const char sign = r > kAxisRow ? '-' : ' ';
  if (r == 0 || r == kPatternRows - 1) return std::string{' ', sign, digit};
  return std::string{sign, '.', digit};
}

// The characters of a UTF-8 text, each with the combining marks after it
// (U+0300 to U+036F): a name in any script is cut and placed by whole
// characters, never inside one.
std::vector<std::string> characters(std::string_view text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
    const bool combining = n == 2 && (text[i] == '\xCC' || (text[i] == '\xCD' &&
                                      static_cast<unsigned char>(text[i + 1]) <= 0xAF));
    if (combining && !out.empty())
      out.back().append(text.substr(i, n));
    else
      out.emplace_back(text.substr(i, n));
    i += n;
  }
  return out;
}

// Widths in terminal columns: a CJK character or an emoji takes two.
size_t columnsOf(std::string_view text) {
  return static_cast<size_t>(kernels::displayWidth(text));
}

std::string padRight(std::string s, size_t width) {
  const size_t n = columnsOf(s);
  if (n < width) s.append(width - n, ' ');
  return s;
}

std::string rtrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// A text placed so that its middle character stands at index centre.
std::string centredAt(std::string_view text, int centre) {
  const int start = std::max(0, centre - (static_cast<int>(columnsOf(text)) - 1) / 2);
  return std::string(static_cast<size_t>(start), ' ') + std::string(text);
}

// The cells of a character plot, one character each, each remembering
// whether it holds a symbol (axis characters give way to symbols, symbols
// to nothing).
class Cells {
 public:
  Cells(int rows, int columns)
      : columns_(columns),
        text_(static_cast<size_t>(rows * columns), " "),
        taken_(static_cast<size_t>(rows * columns), false) {}
  void background(int r, int c, char ch) { text_[size_t(r * columns_ + c)] = std::string(1, ch); }
  bool taken(int r, int c) const { return taken_[size_t(r * columns_ + c)]; }
  void put(int r, int c, std::string ch) {
    text_[size_t(r * columns_ + c)] = std::move(ch);
    taken_[size_t(r * columns_ + c)] = true;
  }
  void put(int r, int c, char ch) { put(r, c, std::string(1, ch)); }
  std::string row(int r) const {
    std::string line;
    for (int c = 0; c < columns_; ++c) line += text_[size_t(r * columns_ + c)];
    return line;
  }

 private:
  int columns_;
  std::vector<std::string> text_;
  std::vector<bool> taken_;
};

// A name is written centred on its column, kept inside the grid; the
// characters of an earlier symbol are never overwritten. A wide character
// (CJK) takes two cells, the second left empty, so that the rest of the row
// keeps its columns; it is left out where both are not free.
void drawSymbol(Cells& cells, int r, int c, const std::string& symbol) {
  if (symbol.empty() || cells.taken(r, c)) return;  // the symbol there stands for both
  const std::vector<std::string> chars = characters(symbol);
  const int w = static_cast<int>(columnsOf(symbol));
  int at = std::clamp(c - (w - 1) / 2, 0, kPatternColumns - std::min(w, kPatternColumns));
  for (const std::string& ch : chars) {
    const int cw = std::max(kernels::displayWidth(ch), 1);
    if (at + cw > kPatternColumns) break;
    if (!cells.taken(r, at) && (cw == 1 || !cells.taken(r, at + 1))) {
      cells.put(r, at, ch);
      if (cw == 2) cells.put(r, at + 1, std::string());
    }
    at += cw;
  }
}

}  // namespace

int patternRow(double y) {
  // Row r holds 0.975 - 0.05 r <= y < 1.025 - 0.05 r: counted in twentieths.
  const double r = std::floor(20.5 - 20.0 * y);
  if (!(r > 0)) return 0;
  return r >= kPatternRows - 1 ? kPatternRows - 1 : static_cast<int>(r);
}

int patternColumn(double x) {
  const double c = std::trunc(30.0 * x + 33.0);
  if (!(c > 1)) return 1;
  return c >= kPatternColumns ? kPatternColumns : static_cast<int>(c);
}

std::string patternSymbol(int i, std::string_view name, int nameLength) {
  if (nameLength <= 0) return std::string(1, static_cast<char>('A' + i % 26));
  std::string symbol;
  const std::vector<std::string> chars = characters(name);
  for (size_t k = 0; k < chars.size() && k < static_cast<size_t>(nameLength); ++k) symbol += chars[k];
  return symbol;
}

std::vector<std::string> patternPlotLines(const std::vector<PlotPoint>& points,
                                          std::string_view verticalName,
                                          std::string_view horizontalName) {
  Cells cells(kPatternRows, kPatternColumns);
  for (int r = 0; r < kPatternRows; ++r) cells.background(r, kAxisColumn - 1, '|');
  for (int c = 0; c < kPatternColumns; ++c) cells.background(kAxisRow, c, '-');
  cells.background(kAxisRow, kAxisColumn - 1, '+');
  for (const PlotPoint& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
    drawSymbol(cells, patternRow(p.y), patternColumn(p.x) - 1, p.symbol);
  }

  std::vector<std::string> lines;
  lines.push_back(rtrim(centredAt(verticalName, kGridIndent + kAxisColumn - 1)));
  for (int r = 0; r < kPatternRows; ++r) {
    std::string line = rowLabel(r) + ' ' + cells.row(r);
    if (r == kAxisRow && !horizontalName.empty()) line += "  " + std::string(horizontalName);
    lines.push_back(rtrim(line));
  }
  lines.push_back(std::string(kGridIndent, ' ') + std::string(kHorizontalScale));
  return lines;
}

std::vector<std::string> legendLines(const std::vector<std::string>& symbols,
                                     const std::vector<std::string>& names, int lineWidth) {
  const size_t width = static_cast<size_t>(std::max(lineWidth, kLegendEntryWidth));
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < symbols.size() && i < names.size(); ++i) {
    std::string entry = symbols[i] + "=" + names[i];
    const size_t slots = (columnsOf(entry) + 1 + kLegendEntryWidth - 1) / kLegendEntryWidth;
    entry = padRight(entry, slots * kLegendEntryWidth);
    if (!line.empty() && columnsOf(line) + columnsOf(entry) > width) {
      lines.push_back(rtrim(line));
      line.clear();
    }
    line += entry;
  }
  if (!line.empty()) lines.push_back(rtrim(line));
  return lines;
}


namespace {

constexpr int kScreeLabelWidth = 10;
constexpr int kScreeMaxSpacing = 5;
constexpr int kScreeLabelEvery = 5;  // rows between scale labels

// Column of the i-th of count numbers: evenly spaced, squeezed into
// kScreeMaxColumns when they do not fit one to a column.
int screeColumn(int i, int count) {
  if (count <= 1) return 0;
  const int span = kScreeMaxColumns - 1;
  if (count - 1 <= span) return i * std::min(kScreeMaxSpacing, span / (count - 1));
  return static_cast<int>((static_cast<int64_t>(i) * span + (count - 1) / 2) / (count - 1));
}

std::string scaleValue(double v, double range) {
  if (std::fabs(v) < 1e-12 * range) v = 0;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%*.4g", kScreeLabelWidth, v);
  return buffer;
}

// The number under each point where it fits, its last digit under the
// point and at least one blank between two numbers.
std::string screeNumbers(int count, int firstNumber) {
  std::string line;
  int nextFree = 0;
  for (int i = 0; i < count; ++i) {
    const std::string text = std::to_string(firstNumber + i);
    const int end = kScreeLabelWidth + 2 + screeColumn(i, count);
    const int start = end - static_cast<int>(text.size()) + 1;
    if (start < nextFree) continue;
    line = padRight(line, static_cast<size_t>(start)) + text;
    nextFree = end + 2;
  }
  return line;
}

}  // namespace

std::vector<std::string> screePlotLines(const double* values, int count, int firstNumber,
                                        std::string_view verticalLabel,
                                        std::string_view horizontalLabel) {
  if (count < 1 || values == nullptr) return {};
  const double top = values[0];
  double bottom = 0;
  for (int i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) return {};
    bottom = std::min(bottom, values[i]);
  }
  if (!(top > bottom)) return {};
  const double range = top - bottom;

  const int width = screeColumn(count - 1, count) + 1;
  Cells cells(kScreeRows, width);
  for (int i = 0; i < count; ++i) {
    const double r = std::round((top - values[i]) / range * (kScreeRows - 1));
    const int row = static_cast<int>(std::clamp(r, 0.0, double(kScreeRows - 1)));
    const int column = screeColumn(i, count);
    if (!cells.taken(row, column)) cells.put(row, column, char('0' + (firstNumber + i) % 10));
  }

  std::vector<std::string> lines{std::string(verticalLabel)};
  for (int r = 0; r < kScreeRows; ++r) {
    std::string label(kScreeLabelWidth, ' ');
    if (r % kScreeLabelEvery == 0)
      label = scaleValue(r == kScreeRows - 1 ? bottom : top - range * r / (kScreeRows - 1), range);
    lines.push_back(rtrim(label + " |" + cells.row(r)));
  }
  lines.push_back(std::string(kScreeLabelWidth, ' ') + " +" +
                  std::string(static_cast<size_t>(width), '-'));
  lines.push_back(screeNumbers(count, firstNumber));
  const int centre = kScreeLabelWidth + 2 + (width - 1) / 2;
  lines.push_back(rtrim(centredAt(horizontalLabel, centre)));
  return lines;
}


namespace {

constexpr int kDefaultLegendWidth = 120;

void printBlock(void* sink, std::string_view name, const Text& label,
                const std::vector<Text>& titles, const std::vector<std::string>& lines) {
  TableWriter out(sink);
  out.beginTextBlock(name, label);
  for (const Text& t : titles) out.title(t);
  for (const std::string& l : lines) out.line(l);
  out.endTable();
}

// The legend is as wide as the listing's lines (LINESIZE=).
int legendWidth() {
  std::string value;
  if (!host().systemOption("LINESIZE", value)) return kDefaultLegendWidth;
  const int width = std::atoi(value.c_str());
  return width > 0 ? width : kDefaultLegendWidth;
}

// What every page of one solution's pattern plots shares.
struct PatternPages {
  const double* matrix = nullptr;    // p x m, column-major
  const double* axisCorr = nullptr;  // packed m x m, null for orthogonal axes
  bool reference = false;
  std::vector<std::string> symbols;
  std::vector<std::string> legend;
};

std::string fixed4(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4f", v);
  return buffer;
}

// One page: factor i on the vertical axis against factor j.
void printPatternPage(ProcState& ps, const PatternPages& pages, int i, int j) {
  const int p = ps.opt.nVars;
  std::vector<PlotPoint> points;
  for (int v = 0; v < p; ++v) {
    points.push_back({pages.matrix[size_t(j) * size_t(p) + size_t(v)],
                      pages.matrix[size_t(i) * size_t(p) + size_t(v)], pages.symbols[size_t(v)]});
  }
  std::vector<std::string> lines =
      patternPlotLines(points, factorName(ps, i), factorName(ps, j));
  lines.emplace_back();
  lines.insert(lines.end(), pages.legend.begin(), pages.legend.end());

  Host& h = host();
  const std::string pair = h.formatMessage(msg::kFactorPairTitle, {i + 1, j + 1});
  std::vector<Text> titles{Text(pair), Text::message(pages.reference ? msg::kRefStructurePlotLine
                                                                     : msg::kPatternPlotLine)};
  if (pages.axisCorr != nullptr) {
    const std::string r = fixed4(pages.axisCorr[kernels::packedIndex(size_t(i), size_t(j))]);
    titles.emplace_back(h.formatMessage(pages.reference ? msg::kRefAxisCorrLine : msg::kFactorCorrLine,
                                        {r}));
  }
  printBlock(ps.sink, "PatternPlot", Text(pair), titles, lines);
}

}  // namespace

void printScreePlot(ProcState& ps, int first) {
  if (ps.sink == nullptr || ps.eigenvalues == nullptr || first < 0 || first >= ps.opt.nVars) return;
  Host& h = host();
  const std::vector<std::string> lines =
      screePlotLines(ps.eigenvalues + first, ps.opt.nVars - first, first + 1,
                     h.formatMessage(msg::kScreeEigenvalueAxis), h.formatMessage(msg::kScreeNumberAxis));
  if (lines.empty()) {
    h.message(msg::kScreePlotSetUpFailed);
    return;
  }
  printBlock(ps.sink, "ScreePlot", Text::message(msg::kScreePlotCharLabel),
             {Text::message(msg::kScreePlotCharTitle)}, lines);
}

void printPatternPlots(ProcState& ps, bool oblique, int nPlotted) {
  if (ps.sink == nullptr || nPlotted < 2) return;
  PatternPages pages;
  // For an oblique solution PLOTREF asks for the reference structure, whose
  // axes are the reference axes; otherwise the pattern is drawn.
  pages.reference = oblique && ps.opt.flags.plotref && ps.refStructure != nullptr;
  pages.matrix = pages.reference ? ps.refStructure : ps.loadings;
  if (oblique) pages.axisCorr = pages.reference ? ps.refAxisCorr : ps.factorCorr;
  if (pages.matrix == nullptr) return;
  const int nameLength = std::min(std::max(ps.opt.plotNameLength, 0), kMaxPlotNameLength);
  std::vector<std::string> names;
  for (int v = 0; v < ps.opt.nVars; ++v) {
    names.push_back(variableName(ps, v));
    pages.symbols.push_back(patternSymbol(v, names.back(), nameLength));
  }
  pages.legend = legendLines(pages.symbols, names, legendWidth());
  for (int i = 0; i < nPlotted; ++i)
    for (int j = i + 1; j < nPlotted; ++j) printPatternPage(ps, pages, i, j);
}

}  // namespace zulfact
