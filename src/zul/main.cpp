// zul: runs zul factor programs. See `zul --help`.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "zul/cli.hpp"
#include "zul/help_topics.hpp"
#include "zul/program/interrupts.hpp"
#include "zul/program/runner.hpp"
#include "zul/program/standard_descriptors.hpp"

namespace {

// Help or version text that could not be written (a full disk) is no
// success; a reader that took what it wanted and left (`| head`) is.
int written(int status) {
  std::cout.flush();
  if (std::cout || errno == EPIPE) return status;
  std::cerr << "zul: the text could not be written to standard output: " << std::strerror(errno)
            << "\n";
  return zul::program::kExitStopped;
}

}  // namespace

int main(int argc, char** argv) {
  zul::program::holdClosedStandardDescriptors();
  zul::program::catchInterrupts();
  // OpenBLAS starts its thread pool when the module loads it. The module's
  // own threads do the parallel work; BLAS threads would only compete with
  // them on small block updates. A value the user has set stands.
  ::setenv("OPENBLAS_NUM_THREADS", "1", 0);
  std::vector<std::string> args(argv + 1, argv + argc);
  zul::CommandLine cl = zul::parseCommandLine(args);
  switch (cl.action) {
    case zul::CommandLine::Action::Help:
      return written(zul::printHelp(cl.helpTopic));
    case zul::CommandLine::Action::Version:
      std::cout << zul::versionText();
      return written(0);
    case zul::CommandLine::Action::Error:
      std::cerr << "zul: " << cl.error << "\nTry 'zul --help' for more information.\n";
      return zul::program::kExitStopped;
    case zul::CommandLine::Action::Run:
      break;
  }
  return zul::program::run(cl.options);
}
