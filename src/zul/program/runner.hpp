// zul/program/runner.hpp -- one run of zul: programs read and executed in
// order, host statements applied, each FACTOR step handed to the module.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zul::program {

// One source of statements: a program file, or text given with -e.
struct Source {
  bool isInline = false;
  std::string text;  // the path, or the statements
};

struct RunOptions {
  std::vector<Source> sources;
  std::string listing;  // empty: standard output
  std::string html;
  std::string graphs;   // directory for one SVG file per graph; empty: none
  std::string json;
  std::string log;      // empty: standard error
  std::string work;     // empty: the current directory
  bool quiet = false;   // no progress line, even on a terminal
  std::vector<std::pair<std::string, std::string>> libraries;  // NAME=DIR
  std::vector<std::pair<std::string, std::string>> options;    // NAME=VALUE
  // Where libzulfact.so and libqkxfac.so are; empty: beside the executable.
  std::string moduleDirectory;
};

// Exit statuses.
// The highest completion code of a step that counts as successful; the
// code a step gets when it logged an error yet returned such a code (the
// lowest that is not success: exit status 1, as for a failed BY group);
// and the lowest code that stops a step (its output tables are not kept),
// given to a step during which a host service failed.
inline constexpr int kCodeWarningMax = 4;
inline constexpr int kCodeErrorReported = 5;
inline constexpr int kCodeStopped = 1000;

inline constexpr int kExitOk = 0;        // every step ended with a code of 4 or less
inline constexpr int kExitWarnings = 1;  // some step ended with 5 to 999
inline constexpr int kExitStopped = 2;   // a step stopped (1000 and above), or a
                                         // program or host statement failed

// Runs everything and returns the exit status.
int run(const RunOptions& options);

// The exit status a completion code stands for.
int exitStatusOf(int completionCode);

}  // namespace zul::program
