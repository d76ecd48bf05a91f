#include "zul/program/interrupts.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "zul/table/temporary_files.hpp"

namespace zul::program {

namespace {

sigset_t interruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

// The signals are taken by sigwait() on a thread of their own rather than
// by a handler: the clean-up then runs as ordinary code, free to take locks
// and remove files while the analysis is stopped wherever it was.
void catchInterrupts() {
  // Otherwise the kernel ends zul at the limit, leaving the hidden
  // temporary file of the table behind and saying nothing; ignored,
  // write() fails with EFBIG and the table's error is reported.
  ::signal(SIGXFSZ, SIG_IGN);
  // Likewise a listing piped to a reader that has gone (`| head -1`):
  // SIGPIPE would end zul at once with the temporaries of its tables and
  // reports left behind; ignored, the write fails with EPIPE, the listing
  // is reported incomplete and the other outputs are finished.
  ::signal(SIGPIPE, SIG_IGN);
  static sigset_t set = interruptSignals();
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  std::thread([] {
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {
    }
    const std::string why = std::string("interrupted (") + strsignal(sig) + ")";
    const int logs = table::removeTemporaryFiles("ERROR: The run was " + why +
                                                 ": unfinished tables and reports were removed.\n");
    const std::string text = "\nzul: " + why + "; unfinished tables and reports removed, " +
                             (logs > 0 ? "earlier ones and the log kept.\n" : "earlier ones kept.\n");
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
    ::_exit(128 + sig);
  }).detach();
}

}  // namespace zul::program
