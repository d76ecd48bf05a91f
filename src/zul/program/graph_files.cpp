#include "zul/program/graph_files.hpp"

#include <filesystem>

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
  std::vector<std::string> problems;
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
    OutputFile file;
    std::string error = file.open("graph", path);
    if (error.empty()) {
      file.stream() << svg;
      error = file.close();
    }
    if (!error.empty()) problems.push_back(error);
  }
  return problems;
}

}  // namespace zul::program
