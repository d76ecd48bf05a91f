#include "zul/program/standard_descriptors.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace zul::program {

void holdClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    // Input is held write-only and output read-only: never usable as such.
    const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

}  // namespace zul::program
