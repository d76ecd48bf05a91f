// zul/table/temporary_files.hpp -- the files a run has made but not yet
// put in place (the hidden temporaries of output tables and reports), so
// that an interrupted run can remove them on its way out, and a later run
// can remove those that a killed run left behind.
//
// A temporary is made beside its target as `.NAME.zul-PID-START-HOST-XXXXXX`:
// the owner's process id, its start time (clock ticks after boot, field 22
// of /proc/PID/stat) and a tag of the machine and process-id namespace. A
// run that writes into a directory first removes the temporaries there
// whose owner provably no longer runs: same machine and namespace, and no
// process with that id and start time. Anything it cannot prove dead (no
// /proc, another machine, another namespace, a name of another form) stays.
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

// Makes, opens (O_CLOEXEC, mode 0600) and records a temporary for target in
// target's directory, after removing the dead temporaries there (once per
// directory and run). Returns the descriptor, -1 with errno set on failure;
// made receives the path.
int makeTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& made);

// Gives the existing file target a second name, a temporary beside it
// recorded like the others; false (nothing made) when it cannot.
bool linkTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& made);

// Makes a scratch file named after stem like makeTemporaryBeside, in the
// user's private directory under the system's temporary directory
// (`zul-UID`, mode 0700, created when missing; the temporary directory
// itself when that one is not a directory of ours that only we may enter).
// Those a killed run left there are removed first. Same return as above.
int makePrivateScratch(const std::string& stem, std::filesystem::path& made);
std::filesystem::path privateScratchDirectory();

// The file a new file written at path replaces: a symbolic link is
// followed, link by link, to the name it holds, which need not exist yet (a
// dangling link is written through, creating its target, as a shell's `>`
// does), so that a rename puts the file there and never in the link's
// place. path itself when it is no link; empty after 40 links (a loop).
std::filesystem::path linkedFile(const std::filesystem::path& path);

// True when target is an existing file its owner protected from being
// written: no write permission for anyone (chmod a-w) or none for this
// user. Renaming a new file over it, as every output is put in place,
// would get around that protection, which `>` in a shell respects.
bool isWriteProtected(const std::filesystem::path& target);

// Removes the temporaries in dir whose owner is provably dead; returns how
// many. Called by makeTemporaryBeside; public for tests.
int removeDeadTemporaries(const std::filesystem::path& dir);

// Records a temporary to put in place at target (with mode) rather than
// remove if the run is interrupted: the log, whose notes of the steps
// already run are the record of what the run did. removeOnInterrupt(), or
// forgetTemporaryFile(), undoes it.
void keepOnInterrupt(const std::filesystem::path& file, const std::filesystem::path& target,
                     unsigned mode);
void removeOnInterrupt(const std::filesystem::path& file);

// Appends lastLine to each temporary recorded by keepOnInterrupt() and
// renames it into place, then removes every other recorded file, and any
// noted from then on (for the interrupt handler, while other threads may
// still run; not from a signal handler proper: it takes a lock). Returns
// how many were put in place.
int removeTemporaryFiles(const std::string& lastLine = {});

}  // namespace zul::table
