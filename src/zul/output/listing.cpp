#include "zul/output/listing.hpp"

#include <algorithm>
#include <ostream>
#include <sstream>
#include <utility>
#include <vector>

#include "zul/output/display.hpp"
#include "zul/output/heading_items.hpp"
#include "zul/output/listing_panels.hpp"
#include "kernels/text_width.hpp"

namespace zul::output {

namespace {

constexpr int kGap = 2;          // blanks between columns
constexpr int kAttachedGap = 1;  // between a value and its flag
constexpr size_t kMaxHeaderLines = 3;
constexpr int kMinTextWidth = 40;

int width(const std::string& s) { return kernels::displayWidth(s); }

std::string spaces(int n) { return std::string(static_cast<size_t>(std::max(n, 0)), ' '); }

std::string centred(const std::string& text, int pageWidth) {
  int pad = (pageWidth - width(text)) / 2;
  return spaces(pad) + text;
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Greedy word wrap into lines of at most limit characters (a longer word
// gets a line of its own).
std::vector<std::string> wrap(const std::string& text, int limit) {
  if (width(text) <= limit) return {text};
  std::vector<std::string> lines;
  std::string line;
  for (const std::string& w : splitWords(text)) {
    if (!line.empty() && width(line) + 1 + width(w) > limit) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + w;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

// A title wider than the page is broken between the phrases it separates
// with two or more blanks ("Total = 4.39  Average = 0.88"), so a label stays
// with its number; a phrase wider than the page is broken between words.
std::vector<std::string> wrapTitle(const std::string& text, int limit) {
  if (width(text) <= limit) return {text};
  std::vector<std::string> phrases;
  for (size_t at = 0; at < text.size();) {
    size_t gap = text.find("  ", at);
    if (gap == std::string::npos) gap = text.size();
    if (gap > at) phrases.push_back(text.substr(at, gap - at));
    at = text.find_first_not_of(' ', gap);
    if (at == std::string::npos) break;
  }
  std::vector<std::string> lines;
  std::string line;
  for (const std::string& phrase : phrases) {
    if (!line.empty() && width(line) + 2 + width(phrase) > limit) {
      lines.push_back(line);
      line.clear();
    }
    if (line.empty() && width(phrase) > limit) {
      std::vector<std::string> parts = wrap(phrase, limit);
      lines.insert(lines.end(), parts.begin(), parts.end() - 1);
      line = parts.back();
      continue;
    }
    line += (line.empty() ? "" : "  ") + phrase;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

// One column laid out: its width, header lines and how numbers align.
struct Laid {
  const DisplayColumn* column = nullptr;
  int width = 0;
  int integerWidth = 0;   // numeric: characters left of the decimal point
  int fractionWidth = 0;  // numeric: the point and what follows
  std::vector<std::string> header;
};

size_t pointAt(const std::string& s) {
  size_t p = s.find('.');
  return p == std::string::npos ? s.size() : p;
}

Laid layOut(const DisplayColumn& c) {
  Laid l;
  l.column = &c;
  int data = 0;
  if (c.numeric) {
    for (const std::string& s : c.cells) {
      if (s.empty()) continue;
      size_t p = pointAt(s);
      l.integerWidth = std::max(l.integerWidth, static_cast<int>(p));
      l.fractionWidth = std::max(l.fractionWidth, static_cast<int>(s.size() - p));
    }
    data = std::max(l.integerWidth + l.fractionWidth, c.attached ? 0 : c.format.width);
  } else {
    for (const std::string& s : c.cells) data = std::max(data, width(s));
  }
  int longestWord = 0;
  for (const std::string& w : splitWords(c.header)) longestWord = std::max(longestWord, width(w));
  // Wrap to the column's width, but widen it rather than stack more than
  // three header lines.
  int limit = std::max(data, longestWord);
  if (!c.header.empty()) {
    l.header = wrap(c.header, limit);
    while (l.header.size() > kMaxHeaderLines && limit < width(c.header)) {
      l.header = wrap(c.header, ++limit);
    }
  }
  l.width = std::max(data, 1);
  for (const std::string& h : l.header) l.width = std::max(l.width, width(h));
  return l;
}

std::string cellText(const Laid& l, const std::string& s) {
  if (!l.column->numeric) return s + spaces(l.width - width(s));
  if (s.empty()) return spaces(l.width);
  size_t p = pointAt(s);
  std::string aligned = spaces(l.integerWidth - static_cast<int>(p)) + s +
                        spaces(l.fractionWidth - static_cast<int>(s.size() - p));
  return spaces(l.width - width(aligned)) + aligned;
}

std::string headerText(const Laid& l, const std::string& s) {
  if (!l.column->numeric) return s + spaces(l.width - width(s));
  return spaces(l.width - width(s)) + s;
}

std::string rtrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

namespace {

// The row labels repeated on every panel: the leading text columns, or
// in a table without one the first column, which numbers its rows (the
// eigenvalues by Number, an iteration history by Iteration).
size_t rowLabelCount(const std::vector<Laid>& laid) {
  size_t n = 0;
  while (n < laid.size() && !laid[n].column->numeric && !laid[n].column->attached) ++n;
  return n == 0 && laid.size() > 1 ? 1 : n;
}

int panelWidth(const std::vector<Laid>& laid, const std::vector<size_t>& panel) {
  int w = 0;
  for (size_t k = 0; k < panel.size(); ++k) {
    if (k > 0) w += laid[panel[k]].column->attached ? kAttachedGap : kGap;
    w += laid[panel[k]].width;
  }
  return w;
}

// The header and rows of one panel, indented by `indent`.
void printPanel(std::ostream& out, const Item& item, const std::vector<Laid>& laid,
                const std::vector<size_t>& panel, const std::string& indent) {
  auto line = [&](auto&& textOf) {
    std::string s = indent;
    for (size_t k = 0; k < panel.size(); ++k) {
      const Laid& l = laid[panel[k]];
      if (k > 0) s += spaces(l.column->attached ? kAttachedGap : kGap);
      s += textOf(l);
    }
    out << rtrim(std::move(s)) << '\n';
  };
  size_t headerLines = 0;
  for (size_t j : panel) headerLines = std::max(headerLines, laid[j].header.size());
  for (size_t h = 0; h < headerLines; ++h) {
    line([&](const Laid& l) {
      size_t skip = headerLines - l.header.size();  // headers sit on the bottom line
      return headerText(l, h >= skip ? l.header[h - skip] : std::string());
    });
  }
  for (size_t r = 0; r < item.rows.size(); ++r) {
    line([&](const Laid& l) { return cellText(l, l.column->cells[r]); });
  }
}

}  // namespace

namespace {

// The longest start of text at most `limit` columns wide, ending in an
// ellipsis when something was cut.
std::string cutToWidth(const std::string& text, int limit) {
  if (width(text) <= limit) return text;
  std::string kept;
  for (size_t at = 0; at < text.size();) {
    size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    if (width(kept) + width(text.substr(at, end - at)) > limit - 1) break;
    kept += text.substr(at, end - at);
    at = end;
  }
  return kept + "\u2026";
}

// text at most limit columns wide, its middle left out for an ellipsis: a
// name keeps its start and its end, where the names of a list differ
// (VeryLongName01 and VeryLongName02).
std::string cutMiddle(const std::string& text, int limit) {
  if (width(text) <= limit) return text;
  std::vector<std::string> chars;
  for (size_t at = 0; at < text.size();) {
    size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    chars.push_back(text.substr(at, end - at));
    at = end;
  }
  const int tail = (limit - 1) / 2, head = limit - 1 - tail;
  std::string front, back;
  for (const std::string& c : chars) {
    if (width(front + c) > head) break;
    front += c;
  }
  for (auto c = chars.rbegin(); c != chars.rend() && width(*c + back) <= tail; ++c)
    back = *c + back;
  return front + "\u2026" + back;
}

// Row labels so wide that not one column fits beside them on a LINESIZE=
// line are cut to make room, down to kMinCutLabel columns each: the last of
// several first, at its end (the variables' labels beside their names),
// then the ones before it, or a single one, in the middle (names, and the
// observation counts' texts, differ at their ends). Numbers are never cut.
// The labels are whole in the HTML report and the JSON file.
constexpr int kMinCutLabel = 8;

void cutColumn(std::vector<DisplayColumn>& shown, std::vector<Laid>& laid, size_t j, int limit,
               bool middle) {
  DisplayColumn& column = shown[j];
  for (std::string& cell : column.cells)
    cell = middle ? cutMiddle(cell, limit) : cutToWidth(cell, limit);
  column.header = middle ? cutMiddle(column.header, limit) : cutToWidth(column.header, limit);
  laid[j] = layOut(column);
}

// The width of a column's values alone: a header can be cut instead.
int dataWidth(const DisplayColumn& c) {
  DisplayColumn bare = c;
  bare.header.clear();
  return layOut(bare).width;
}

void fitRowLabels(std::vector<DisplayColumn>& shown, std::vector<Laid>& laid, size_t labels,
                  int limit) {
  if (limit <= 0 || labels == 0) return;
  int labelWidth = -kGap, widestBlock = 0;
  for (size_t j = 0; j < labels; ++j) labelWidth += kGap + laid[j].width;
  for (size_t j = labels; j < laid.size(); ++j) {
    int block = std::min(laid[j].width, std::max(kMinCutLabel, dataWidth(shown[j])));
    while (j + 1 < laid.size() && laid[j + 1].column->attached) block += kAttachedGap + laid[++j].width;
    widestBlock = std::max(widestBlock, block);
  }
  int excess = labelWidth + (labels < laid.size() ? kGap + widestBlock : 0) - limit;
  for (size_t j = labels; j-- > 0 && excess > 0;) {
    const int was = laid[j].width;
    if (laid[j].column->numeric || was <= kMinCutLabel) continue;
    cutColumn(shown, laid, j, std::max(kMinCutLabel, was - excess), labels == 1 || j + 1 < labels);
    excess -= was - laid[j].width;
  }
}

// A column still too wide to stand beside the row labels is cut to the
// room left: a text column whole, at its end; a column of numbers in its
// header only (a variable's name over them), in the middle.
void fitHeaders(std::vector<DisplayColumn>& shown, std::vector<Laid>& laid, size_t labels,
                int limit) {
  if (limit <= 0) return;
  int labelWidth = labels ? -kGap : 0;
  for (size_t j = 0; j < labels && j < laid.size(); ++j) labelWidth += kGap + laid[j].width;
  for (size_t j = labels; j < laid.size(); ++j) {
    int flags = 0;
    for (size_t k = j + 1; k < laid.size() && laid[k].column->attached; ++k)
      flags += kAttachedGap + laid[k].width;
    const int room = limit - labelWidth - (labels ? kGap : 0) - flags;
    if (laid[j].width <= room) continue;
    if (!laid[j].column->numeric) {
      cutColumn(shown, laid, j, std::max(room, 2), false);
      continue;
    }
    shown[j].header = cutMiddle(shown[j].header, std::max(room, dataWidth(shown[j])));
    laid[j] = layOut(shown[j]);
  }
}

}  // namespace

void writeTable(std::ostream& out, const Item& item, int lineSize, int maxLineSize) {
  if (maxLineSize > 0) lineSize = std::min(lineSize, maxLineSize);
  std::vector<DisplayColumn> shown = displayColumns(item);
  std::vector<Laid> laid;
  laid.reserve(shown.size());
  for (const DisplayColumn& c : shown) laid.push_back(layOut(c));
  fitRowLabels(shown, laid, rowLabelCount(laid), maxLineSize);
  fitHeaders(shown, laid, rowLabelCount(laid), maxLineSize);

  // A table wider than maxLineSize is printed in panels that fit it.
  std::vector<PanelColumn> widths;
  for (const Laid& l : laid) widths.push_back({l.width, l.column->attached});
  const std::vector<std::vector<size_t>> panels =
      splitIntoPanels(widths, rowLabelCount(laid), maxLineSize, kGap, kAttachedGap);
  int tableWidth = 0;
  for (const std::vector<size_t>& panel : panels) tableWidth = std::max(tableWidth, panelWidth(laid, panel));
  int page = std::max(lineSize, tableWidth);
  std::string indent = spaces((page - tableWidth) / 2);

  for (const Title& t : item.titles)
    for (const std::string& l : wrapTitle(t.text, page)) out << rtrim(centred(l, page)) << '\n';
  if (!item.titles.empty() && !laid.empty()) out << '\n';
  for (size_t p = 0; p < panels.size(); ++p) {
    if (p > 0) out << '\n';
    printPanel(out, item, laid, panels[p], indent);
  }

  // Footnotes and notes start at the table's left edge and wrap at the
  // page's right edge (never narrower than kMinTextWidth); on a page too
  // narrow for that beside the indent they start at the margin.
  const std::vector<std::string> footnotes = footnoteLines(item);
  if (!footnotes.empty() || !item.notes.empty()) out << '\n';
  std::string left = laid.empty() ? std::string() : indent;
  if (page - width(left) < kMinTextWidth) left.clear();
  const int room = std::max(kMinTextWidth, page - width(left));
  auto paragraph = [&](const std::string& text) {
    for (const std::string& l : wrap(text, room)) out << rtrim(left + l) << '\n';
  };
  for (const std::string& f : footnotes) paragraph(f);
  for (const Note& n : item.notes) paragraph(n.text);
}

std::string renderTable(const Item& item, int lineSize, int maxLineSize) {
  std::ostringstream out;
  writeTable(out, item, lineSize, maxLineSize);
  return out.str();
}

std::string renderLines(const Item& item, int lineSize) {
  int widest = 0;
  for (const std::string& l : item.lines) widest = std::max(widest, width(rtrim(l)));
  const int page = std::max(lineSize, widest);
  std::ostringstream out;
  for (const Title& t : item.titles)
    for (const std::string& l : wrapTitle(t.text, page)) out << rtrim(centred(l, page)) << '\n';
  if (!item.titles.empty() && !item.lines.empty()) out << '\n';
  // The block is centred as a whole: its lines keep their columns.
  const std::string indent = spaces((page - widest) / 2);
  for (const std::string& l : item.lines) out << rtrim(indent + l) << '\n';
  for (const Note& n : item.notes) out << '\n' << n.text << '\n';
  return out.str();
}

// No line wider than LINESIZE=, the step and BY lines included.
int Listing::pageWidth() const {
  return maxLineSize_ ? std::min(lineSize_, std::max(maxLineSize_(), 1)) : lineSize_;
}

// A heading line at the start of each step, so that a long listing can be
// read: which step of which program.
void Listing::stepHeading(const Model& model, int step) {
  if (step == lastStep_ || step < 0 || static_cast<size_t>(step) >= model.steps.size()) return;
  const Step& s = model.steps[static_cast<size_t>(step)];
  const std::string head = " Step " + std::to_string(step + 1) + ": ",
                    tail = (s.line > 0 ? ", line " + std::to_string(s.line) : std::string()) + " ";
  // A long path loses its middle: the file's name stays.
  const int room = std::max(8, pageWidth() - 6 - width(head) - width(tail));
  std::string text = head + cutMiddle(s.program, room) + tail;
  int fill = std::max(6, pageWidth() - width(text));
  *out_ << (lastStep_ >= 0 ? "\n\n" : "") << std::string(static_cast<size_t>(fill / 2), '=')
        << text << std::string(static_cast<size_t>(fill - fill / 2), '=') << '\n';
}

void Listing::endStep(const Model& model, int step) {
  if (!out_ || step < 0 || static_cast<size_t>(step) >= model.steps.size()) return;
  const std::string ending = stepEnding(model.steps[static_cast<size_t>(step)]);
  if (ending.empty()) return;
  stepHeading(model, step);
  if (step != lastStep_) {
    lastStep_ = step;
    lastByGroup_ = -1;
    lastBy_.clear();
  }
  *out_ << '\n';
  for (const std::string& line : wrap(ending, pageWidth())) *out_ << line << '\n';
  out_->flush();
}

void Listing::print(const Model& model, const Item& item) {
  if (!out_ || item.kind == Item::Kind::Graph) return;
  std::ostream& out = *out_;
  const int lineSize = pageWidth();

  std::string byText;
  for (const ByValue& b : item.by) byText += (byText.empty() ? "" : " ") + b.name + "=" + b.text;
  stepHeading(model, item.step);
  if (item.step != lastStep_ || item.byGroup != lastByGroup_ || byText != lastBy_) {
    lastStep_ = item.step;
    lastByGroup_ = item.byGroup;
    lastBy_ = byText;
    // A BY line too long for the page is broken between words (a word
    // longer than a line is cut), each piece between dashes.
    if (!byText.empty()) out << '\n';
    for (const std::string& part : byText.empty() ? std::vector<std::string>{}
                                                   : wrap(byText, lineSize - 5)) {
      const std::string text = " " + cutToWidth(part, lineSize - 5) + " ";
      const int dashes = std::max(3, lineSize - width(text));
      out << std::string(static_cast<size_t>(dashes / 2), '-') << text
          << std::string(static_cast<size_t>(dashes - dashes / 2), '-') << '\n';
    }
  }

  // Headings of the sections this item sits in that are not printed yet,
  // outermost first.
  for (const std::string& text : newSectionHeadings(model, item, sectionsPrinted_)) {
    out << '\n';
    for (const std::string& l : wrapTitle(text, lineSize)) out << rtrim(centred(l, lineSize)) << '\n';
  }

  switch (item.kind) {
    case Item::Kind::Space:
      out << '\n';
      break;
    case Item::Kind::Note:
      out << '\n';
      for (const Note& n : item.notes)
        for (const std::string& l : wrap(n.text, lineSize)) out << l << '\n';
      break;
    case Item::Kind::Table:
      // Written straight to the listing: a matrix of 2,000 variables is
      // half a gigabyte of text, which a string would hold twice over.
      out << '\n';
      if (item.preformatted)
        out << renderLines(item, lineSize);
      else
        writeTable(out, item, lineSize, maxLineSize_ ? maxLineSize_() : 0);
      break;
    case Item::Kind::Graph:
      break;
  }
  out.flush();
}

}  // namespace zul::output
