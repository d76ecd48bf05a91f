#include "zul/program/graph_files.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

#include <fmt/format.h>

#include "zul/output/svg_graphs.hpp"
#include "zul/program/output_files.hpp"

namespace zul::program {

namespace fs = std::filesystem;

std::string prepareGraphDirectory(const std::string& dir) {
  std::error_code ec;
  if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
    return "The --graphs path " + dir + " is not a directory; give a directory.";
  fs::create_directories(dir, ec);
  if (ec) return "The --graphs directory " + dir + " cannot be made: " + ec.message() + ".";
  return {};
}

std::string graphFileName(int n, const std::string& graphName) {
  // Names come from the module; anything but letters and digits is left
  // out, so that no name can leave the directory.
  std::string safe;
  for (char c : graphName)
    if (std::isalnum(static_cast<unsigned char>(c))) safe += c;
  return fmt::format("{:02d}-{}.svg", n, safe.empty() ? "graph" : safe);
}

namespace {

// True for a name graphFileName could have made: two or more digits, "-",
// letters and digits, ".svg".
bool namedLikeAGraph(const std::string& name) {
  const auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
  const size_t dash = name.find('-');
  const std::string suffix = ".svg";
  if (dash == std::string::npos || dash < 2 || name.size() <= dash + 1 + suffix.size() ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return std::all_of(name.begin(), name.begin() + dash, digit) &&
         std::all_of(name.begin() + dash + 1, name.end() - suffix.size(), alnum);
}

// The files in dir named as graphFileName names them, other than those of
// this run. Other files in the directory are the user's own business.
std::vector<std::string> earlierGraphFiles(const std::string& dir,
                                           const std::vector<std::string>& ofThisRun) {
  std::vector<std::string> earlier;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (namedLikeAGraph(name) && std::find(ofThisRun.begin(), ofThisRun.end(), name) == ofThisRun.end())
      earlier.push_back(name);
  }
  std::sort(earlier.begin(), earlier.end());
  return earlier;
}

}  // namespace

GraphFiles writeGraphFiles(const output::Model& model, const std::string& dir,
                           const std::vector<table::Place>& inputs,
                           std::vector<table::Place>& outputs) {
  // The graphs are one set, numbered in the order drawn: each is written
  // to its temporary first, and only when all are complete are they put
  // in place, so that a full disk never leaves the graphs of two runs
  // mixed under one numbering.
  GraphFiles result;
  std::vector<std::string>& problems = result.problems;
  std::vector<std::string> names;
  std::vector<std::unique_ptr<OutputFile>> files;
  bool failed = false;
  int n = 0;
  for (const output::Item& item : model.items) {
    const std::string svg = output::graphSvg(item, true);
    if (svg.empty()) continue;
    names.push_back(graphFileName(++n, item.name));
    const std::string path = (fs::path(dir) / names.back()).string();
    table::Place place = table::filePlace("graph file " + path, path);
    if (std::string clash = table::outputClash(place, inputs, outputs); !clash.empty()) {
      problems.push_back(clash + " The graph is not written.");
      continue;
    }
    outputs.push_back(std::move(place));
    auto file = std::make_unique<OutputFile>();
    std::string error = file->open("graph", path);
    if (error.empty()) {
      file->stream() << svg;
      error = file->finish();
    }
    if (!error.empty()) {
      problems.push_back(error);
      failed = true;
      continue;
    }
    files.push_back(std::move(file));
  }
  if (failed) {
    if (!files.empty())
      problems.push_back("No graph file of this run is put in place in " + dir +
                         ", so that its graphs are not mixed with those from before.");
    return result;  // the temporaries go with their files
  }
  for (auto& file : files)
    if (std::string error = file->close(); !error.empty()) problems.push_back(error);
  result.earlier = earlierGraphFiles(dir, names);
  return result;
}


std::string earlierGraphsWarning(const std::string& dir, const std::vector<std::string>& earlier) {
  constexpr size_t kShown = 5;
  std::string names;
  for (size_t i = 0; i < earlier.size() && i < kShown; ++i)
    names += (i == 0 ? "" : ", ") + earlier[i];
  if (earlier.size() > kShown) names += fmt::format(" and {} more", earlier.size() - kShown);
  const bool one = earlier.size() == 1;
  return fmt::format(
      "The --graphs directory {} also holds {} graph file{} that this run did not draw ({}), "
      "left by an earlier run; remove {} if {} not wanted beside this run's graphs.",
      dir, earlier.size(), one ? "" : "s", names, one ? "it" : "them", one ? "it is" : "they are");
}

}  // namespace zul::program
