#include "zul/output/html_writer.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <map>
#include <set>
#include <sstream>

#include "zul/messages/messages.hpp"
#include "zul/output/display.hpp"
#include "zul/output/heading_items.hpp"
#include "zul/output/matrix_shading.hpp"
#include "zul/output/stream_copy.hpp"
#include "zul/output/svg_graphs.hpp"

namespace zul::output {

namespace {

constexpr const char* kStyle = R"(
body { font-family: system-ui, sans-serif; margin: 2em auto; max-width: 70em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.2em; margin-top: 2em; }
h3 { font-size: 1.05em; margin-top: 1.5em; } p.by { font-weight: bold; border-top: 1px solid #999; padding-top: .5em; }
nav > ol { columns: 2; font-size: .9em; } nav li { break-inside: avoid; }
div.table { margin: 1em 0; }
div.scroll { overflow-x: auto; max-width: 100%; }
table { border-collapse: collapse; margin: 0 0 .3em 0; }
p.caption { font-weight: bold; margin: 0 0 .4em 0; }
th, td { padding: .15em .6em; border-bottom: 1px solid #ddd; }
th { border-bottom: 2px solid #888; vertical-align: bottom; }
td.num { text-align: right; font-family: ui-monospace, monospace; white-space: pre; }
td.text, th.text { text-align: left; }
th.num { text-align: right; }
p.footnote, p.note { margin: .2em 0; font-size: .9em; }
p.ended { font-weight: bold; color: #a00; }
figure.graph { margin: 1.5em 0; } figure.graph svg { max-width: 100%; height: auto; }
figure.graph figcaption { font-size: .9em; color: #444; }
)";

std::string anchor(size_t index) { return fmt::format("t{}", index); }

std::string byText(const Item& item) {
  std::string text;
  for (const ByValue& b : item.by) text += (text.empty() ? "" : " ") + b.name + "=" + b.text;
  return text;
}

// Pads the numbers of a column on the right so that, right-aligned in a
// monospace cell, their decimal points line up.
void alignDecimals(DisplayColumn& c) {
  if (!c.numeric) return;
  size_t fraction = 0;
  for (const std::string& s : c.cells) {
    size_t p = s.find('.');
    if (!s.empty()) fraction = std::max(fraction, p == std::string::npos ? 0 : s.size() - p);
  }
  for (std::string& s : c.cells) {
    if (s.empty()) continue;
    size_t p = s.find('.');
    size_t own = p == std::string::npos ? 0 : s.size() - p;
    s.append(fraction - own, ' ');
  }
}

std::string contentsName(const Item& item);

// A graph drawn inline; a graph this host cannot draw keeps its place
// with its name.
void writeGraph(std::ostream& out, const Item& item, size_t index) {
  out << "<figure class=\"graph\" id=\"" << anchor(index) << "\" data-template=\""
      << htmlEscape(item.templatePath) << "\">\n"
      << graphSvg(item, false) << "<figcaption>"
      << htmlEscape(item.label.empty() ? item.name : item.label) << "</figcaption></figure>\n";
}

// The caption stands outside the scrolling box, so that it stays in view
// when a wide table is scrolled sideways; a table without titles is
// captioned with the name the contents list gives it.
void writeCaption(std::ostream& out, const Item& item, size_t index) {
  out << "<p class=\"caption\" id=\"" << anchor(index) << "c\">";
  if (item.titles.empty()) out << htmlEscape(contentsName(item));
  for (size_t i = 0; i < item.titles.size(); ++i) {
    out << (i ? "<br>" : "") << htmlEscape(item.titles[i].text);
  }
  out << "</p>\n";
}

void writeTable(std::ostream& out, const Item& item, size_t index) {
  std::vector<DisplayColumn> shown = displayColumns(item);
  for (DisplayColumn& c : shown) alignDecimals(c);
  out << "<div class=\"table\" id=\"" << anchor(index) << "\">\n";
  writeCaption(out, item, index);
  out << "<div class=\"scroll\"><table data-template=\"" << htmlEscape(item.templatePath)
      << "\" aria-labelledby=\"" << anchor(index) << "c\">\n";
  out << "<thead><tr>";
  for (const DisplayColumn& c : shown) {
    if (c.attached) continue;  // a flag shares the cell of its value
    out << "<th class=\"" << (c.numeric ? "num" : "text") << "\">" << htmlEscape(c.header)
        << "</th>";
  }
  out << "</tr></thead>\n<tbody>\n";
  const MatrixShading shading = matrixShading(item);
  for (size_t r = 0; r < item.rows.size(); ++r) {
    out << "<tr>";
    for (size_t j = 0; j < shown.size(); ++j) {
      const DisplayColumn& c = shown[j];
      if (c.attached) continue;
      std::string text = c.cells[r];
      if (j + 1 < shown.size() && shown[j + 1].attached) {
        // A blank stands in for a missing flag so that the numbers of the
        // column stay aligned (the cell is preformatted monospace).
        const std::string& flag = shown[j + 1].cells[r];
        text += " " + (flag.empty() ? std::string(" ") : flag);
      }
      out << "<td class=\"" << (c.numeric ? "num" : "text") << "\"";
      if (c.numeric) out << shading.style(item, c.original ? *c.original : c.source, r);
      if (c.original && r < item.rows.size()) {
        const Value& v = item.rows[r][*c.original];
        if (v.isNumber()) out << " title=\"" << fmt::format("{}", v.number) << "\"";
      }
      out << ">" << htmlEscape(text) << "</td>";
    }
    out << "</tr>\n";
  }
  out << "</tbody>\n</table></div>\n";
  for (const std::string& f : footnoteLines(item)) {
    out << "<p class=\"footnote\">" << htmlEscape(f) << "</p>\n";
  }
  out << "</div>\n";
}

// A table without title or label is listed by its name with the words
// apart: "SimpleStatistics" as "Simple Statistics".
std::string spacedName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (i > 0 && std::isupper(static_cast<unsigned char>(name[i])) &&
        std::islower(static_cast<unsigned char>(name[i - 1])))
      out += ' ';
    out += name[i];
  }
  return out;
}

// What the contents list calls a table: its first title, else its label
// when that is more than the internal name, else a readable form of the
// name ("NObs" is "Number of Observations", "SimpleStatistics" "Simple
// Statistics").
std::string contentsName(const Item& item) {
  // The loadings graphs of one solution share their first title; the
  // second names the pair of factors.
  if (item.kind == Item::Kind::Graph && item.titles.size() > 1 && !item.titles[1].text.empty())
    return item.titles[0].text + ": " + item.titles[1].text;
  if (!item.titles.empty() && !item.titles.front().text.empty()) return item.titles.front().text;
  if (!item.label.empty() && item.label != item.name) return item.label;
  static const std::map<std::string, std::string> known{
      {"NObs", "Number of Observations"},
      {"NVar", "Number of Variables"},
  };
  auto it = known.find(item.name);
  return it != known.end() ? it->second : spacedName(item.name);
}

// The headings of the sections that hold a table, outermost first
// ("Rotation Method: Varimax"); "" outside any section.
std::string sectionTitle(const Model& model, int section) {
  std::string title;
  for (int s = section; s >= 0; s = model.sections[static_cast<size_t>(s)].parent) {
    const Section& sec = model.sections[static_cast<size_t>(s)];
    const std::string& text = sec.heading.empty() ? sec.label : sec.heading;
    if (!text.empty()) title = text + (title.empty() ? "" : " / " + title);
  }
  return title;
}

// Contents: one entry per table and graph, those of a section listed
// under its heading, so that the two "Variance Explained by Each Factor"
// tables say which solution they belong to. `group` is the heading whose
// list is open ("" none).
void writeContentsEntry(const Model& model, const Item& item, size_t index, std::string& group,
                        std::ostream& out) {
  if (item.kind != Item::Kind::Table && item.kind != Item::Kind::Graph) return;
  std::string by = byText(item);
  std::string section = sectionTitle(model, item.section);
  std::string key = section.empty() ? std::string() : (by.empty() ? "" : by + ": ") + section;
  if (key != group) {
    if (!group.empty()) out << "</ol></li>\n";
    if (!key.empty()) out << "<li>" << htmlEscape(key) << "<ol>\n";
    group = key;
  }
  std::string name = contentsName(item);
  if (!by.empty() && group.empty()) name = by + ": " + name;
  out << "<li><a href=\"#" << anchor(index) << "\">" << htmlEscape(name) << "</a></li>\n";
}

// Every step has its heading, one that printed nothing too, and a step
// that failed says so: a report read on its own must not pass for the
// whole run when a step is missing or cut short.
void writeStepHeading(std::ostream& out, const Model& model, int index) {
  const Step& s = model.steps[static_cast<size_t>(index)];
  out << "<h2>" << htmlEscape(s.program.empty() ? std::string("Step") : s.program);
  if (s.line > 0) out << ", line " << s.line;
  out << "</h2>\n";
  const std::string ending = stepEnding(s);
  if (!ending.empty()) out << "<p class=\"ended\">" << htmlEscape(ending) << "</p>\n";
}

}  // namespace

std::string htmlEscape(std::string_view raw) {
  // The page is declared UTF-8: no byte of an invalid sequence reaches it.
  const std::string text = messages::printable(raw);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

HtmlReportParts::HtmlReportParts(std::iostream& contents, std::iostream& body)
    : contents_(contents), body_(body) {}

void HtmlReportParts::add(const Model& model, const Item& item) {
  const size_t index = index_++;
  writeContentsEntry(model, item, index, group_, contents_);
  if (item.step != lastStep_) {
    // A step's heading says how it ended: it is written in front of the
    // step's part when the report is put together.
    for (; lastStep_ < item.step; ++lastStep_) stepStarts_.push_back(body_.tellp());
    lastGroup_ = -1;
    lastBy_.clear();
  }
  std::string by = byText(item);
  if (item.byGroup != lastGroup_ || by != lastBy_) {
    lastGroup_ = item.byGroup;
    lastBy_ = by;
    if (!by.empty()) body_ << "<p class=\"by\">" << htmlEscape(by) << "</p>\n";
  }
  for (const std::string& text : newSectionHeadings(model, item, sectionsShown_))
    body_ << "<h3>" << htmlEscape(text) << "</h3>\n";
  if (item.kind == Item::Kind::Table) writeTable(body_, item, index);
  if (item.kind == Item::Kind::Graph) writeGraph(body_, item, index);
  for (const Note& n : item.notes) body_ << "<p class=\"note\">" << htmlEscape(n.text) << "</p>\n";
}

void HtmlReportParts::write(const Model& model, std::ostream& out, const std::string& title) {
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
      << htmlEscape(title) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n<h1>"
      << htmlEscape(title) << "</h1>\n";
  out << "<nav><ol>\n";
  copyStream(contents_, out);
  if (!group_.empty()) out << "</ol></li>\n";
  out << "</ol></nav>\n";
  const std::streamoff end = body_.tellp();
  for (size_t s = 0; s < model.steps.size(); ++s) {
    writeStepHeading(out, model, static_cast<int>(s));
    const std::streamoff from = s < stepStarts_.size() ? stepStarts_[s] : end;
    copyStream(body_, out, from, s + 1 < stepStarts_.size() ? stepStarts_[s + 1] : end);
  }
  out << "</body>\n</html>\n";
}

void writeHtml(const Model& model, std::ostream& out, const std::string& title) {
  std::stringstream contents, body;
  HtmlReportParts parts(contents, body);
  for (const Item& item : model.items) parts.add(model, item);
  parts.write(model, out, title);
}

}  // namespace zul::output
