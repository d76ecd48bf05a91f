// zul/program/interrupts.hpp -- what happens on Ctrl-C (SIGINT), SIGTERM
// and SIGHUP: the hidden temporary files of output tables, and report files
// not written yet, are removed, and zul ends with the conventional status
// 128 + the signal number (130 for SIGINT, 143 for SIGTERM). A file
// that outgrows the file-size limit (ulimit -f) is a failed write like a
// full disk, not the end of the process: SIGXFSZ is ignored, and so is
// SIGPIPE (a listing piped to a reader that has gone).
#pragma once

namespace zul::program {

// Blocks the signals in this thread (and so in every thread started after
// it) and starts one thread that waits for them. Call first in main(),
// before any other thread exists.
void catchInterrupts();

}  // namespace zul::program
