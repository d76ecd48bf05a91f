#include "zul/output/heading_items.hpp"

#include <fmt/format.h>

#include <cctype>
#include <map>

namespace zul::output {

namespace {

// A footnote switch: "Foot" and digits.
bool isFootnoteSwitch(const std::string& name) {
  if (name.size() <= 4 || name.compare(0, 4, "Foot") != 0) return false;
  for (size_t i = 4; i < name.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

bool alreadyShown(const Item& item, const std::string& text) {
  for (const Title& t : item.titles)
    if (t.text.find(text) != std::string::npos) return true;
  for (const std::string& f : item.footnotes)
    if (f.find(text) != std::string::npos) return true;
  return false;
}

// "name = value"; a text that already names itself ("Alpha = 0.05") as is.
std::string itemText(const std::string& name, const Value& v) {
  static const std::map<std::string, std::string> readable{{"NSims", "Simulations"}};
  auto it = readable.find(name);
  const std::string shown = it == readable.end() ? name : it->second;
  if (v.isText()) return v.text.compare(0, name.size(), name) == 0 ? v.text : shown + " = " + v.text;
  if (v.isNumber()) return shown + " = " + fmt::format("{}", v.number);
  return shown + " = .";
}

}  // namespace

std::string headingItemsLine(const Item& item) {
  std::string line;
  for (const auto& [name, v] : item.values) {
    if (name.empty() || name[0] == '_' || isFootnoteSwitch(name)) continue;
    const std::string text = itemText(name, v);
    if (alreadyShown(item, text)) continue;
    line += (line.empty() ? "" : ", ") + text;
  }
  return line;
}

std::vector<std::string> footnoteLines(const Item& item) {
  std::vector<std::string> lines = item.footnotes;
  std::string items = headingItemsLine(item);
  if (!items.empty()) lines.push_back(std::move(items));
  return lines;
}

}  // namespace zul::output
