// zul/table/temporary_files.hpp -- the files a run has made but not yet
// put in place (the hidden `.name.csv.XXXXXX` of output tables), so that
// an interrupted run can remove them on its way out.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace zul::table {

// Records a file to remove if the run is interrupted; forget it once it is
// renamed into place or removed. Thread-safe.
void noteTemporaryFile(const std::filesystem::path& file);
void forgetTemporaryFile(const std::filesystem::path& file);

// Runs create(), which makes a file and answers its path ("" when it made
// none), and records that file, all under the lock an interrupt takes: an
// interrupt then never finds a file made but not yet recorded.
std::string createTemporaryFile(const std::function<std::string()>& create);

// Removes every recorded file, and any noted from then on (for the
// interrupt handler, while other threads may still run; not from a signal
// handler proper: it takes a lock).
void removeTemporaryFiles();

}  // namespace zul::table
