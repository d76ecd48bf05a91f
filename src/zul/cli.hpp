// zul/cli.hpp -- the command line of zul.
#pragma once

#include <string>
#include <vector>

#include "zul/program/runner.hpp"

namespace zul {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  program::RunOptions options;
  std::string error;  // with Action::Error: what was wrong
  std::string helpTopic;  // with Action::Help: the TOPIC of --help TOPIC, or ""
};

// Parses the arguments after the program name (GNU style: "--opt VALUE"
// and "--opt=VALUE", "--" ends the options).
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The text of --help.
std::string helpText();
std::string versionText();

}  // namespace zul
