#include "zul/program/graph_files.hpp"

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

std::vector<std::string> writeGraphFiles(const output::Model& model, const std::string& dir,
                                         const std::vector<table::Place>& inputs,
                                         std::vector<table::Place>& outputs) {
  // The graphs are one set, numbered in the order drawn: each is written
  // to its temporary first, and only when all are complete are they put
  // in place, so that a full disk never leaves the graphs of two runs
  // mixed under one numbering.
  std::vector<std::string> problems;
  std::vector<std::unique_ptr<OutputFile>> files;
  bool failed = false;
  int n = 0;
  for (const output::Item& item : model.items) {
    const std::string svg = output::graphSvg(item, true);
    if (svg.empty()) continue;
    const std::string path = (fs::path(dir) / graphFileName(++n, item.name)).string();
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
    return problems;  // the temporaries go with their files
  }
  for (auto& file : files)
    if (std::string error = file->close(); !error.empty()) problems.push_back(error);
  return problems;
}

}  // namespace zul::program
