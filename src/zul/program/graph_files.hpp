// zul/program/graph_files.hpp -- `--graphs DIR`: each graph of the run as
// a standalone SVG file, DIR/NN-NAME.svg numbered in the order drawn.
#pragma once

#include <string>
#include <vector>

#include "zul/output/model.hpp"
#include "zul/table/places.hpp"

namespace zul::program {

// "" when DIR can hold the graph files (it is made when missing), else the
// sentence that says why not.
std::string prepareGraphDirectory(const std::string& dir);

// The file name of the n-th graph (from 1): "03-PatternPlot.svg".
std::string graphFileName(int n, const std::string& graphName);

struct GraphFiles {
  std::vector<std::string> problems;  // one sentence each; no graph of the run is lost silently
  // Files in dir named like graph files but not of this run: left by an
  // earlier run that drew more graphs or others. Reported, never removed.
  std::vector<std::string> earlier;
};

// Writes every graph the host draws into dir. A file that would overwrite
// an input or another output of the run is not written; when any other
// cannot be written, none is put in place (those from before stay). Each
// problem is one sentence in the result.
GraphFiles writeGraphFiles(const output::Model& model, const std::string& dir,
                           const std::vector<table::Place>& inputs,
                           std::vector<table::Place>& outputs);

// The warning that names the earlier files (at most five of them).
std::string earlierGraphsWarning(const std::string& dir, const std::vector<std::string>& earlier);

}  // namespace zul::program
