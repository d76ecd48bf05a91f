// zul/table/replaced_file.cpp -- the file a commit replaces, freed off the
// run's path.
#include "zul/table/replaced_file.hpp"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "zul/table/temporary_files.hpp"

namespace zul::table::detail {

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
std::vector<pid_t>& removers() {
  static std::vector<pid_t> pids;
  return pids;
}

// Reaps the removers that have finished, so that a long session keeps no
// zombies; those still running when the run ends are reaped by init.
void reapFinished() {
  auto& pids = removers();
  for (size_t i = 0; i < pids.size();) {
    if (::waitpid(pids[i], nullptr, WNOHANG) != 0) {
      pids[i] = pids.back();
      pids.pop_back();
    } else {
      ++i;
    }
  }
}

// Starts `rm` on path, which the run does not wait for. posix_spawn, not
// fork: copying the page tables of a run holding hundreds of megabytes
// costs more than the unlink it would save. The remover holds none of the
// run's descriptors (a pipe whose reader waits for it to close, the
// directory holding a table's lock) and has a session of its own, so that
// an interrupt of the run's terminal does not stop it halfway. False when
// it cannot be started.
bool unlinkDetached(const std::string& path) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (::posix_spawn_file_actions_init(&actions) != 0) return false;
  bool started = false;
  if (::posix_spawnattr_init(&attr) == 0) {
    pid_t pid = -1;
    char rm[] = "/bin/rm", f[] = "-f", dashes[] = "--";
    std::string target = path;
    char* argv[] = {rm, f, dashes, target.data(), nullptr};
    char* envp[] = {nullptr};
    if (::posix_spawn_file_actions_addclosefrom_np(&actions, 0) == 0 &&
        ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID) == 0 &&
        ::posix_spawn(&pid, rm, &actions, &attr, argv, envp) == 0) {
      std::lock_guard<std::mutex> lock(g_mutex);
      reapFinished();
      removers().push_back(pid);
      started = true;
    }
    ::posix_spawnattr_destroy(&attr);
  }
  ::posix_spawn_file_actions_destroy(&actions);
  return started;
}

}  // namespace

ReplacedFileTuning& replacedFileTuning() {
  static ReplacedFileTuning tuning;
  return tuning;
}

ReplacedFile::~ReplacedFile() {
  if (aside_.empty()) return;
  ::unlink(aside_.c_str());
  forgetTemporaryFile(aside_);
}

void ReplacedFile::keep(const fs::path& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      static_cast<uint64_t>(st.st_size) < replacedFileTuning().minBytes)
    return;
  fs::path made;
  if (linkTemporaryBeside(target, made)) aside_ = made;
}

void ReplacedFile::freeAside() {
  if (aside_.empty()) return;
  const std::string path = aside_.string();
  // Forgotten first: the run's exit would otherwise remove it itself. A
  // remover killed before its unlink leaves the name to the next run's
  // sweep of dead temporaries, as this run's.
  forgetTemporaryFile(aside_);
  aside_.clear();
  if (!replacedFileTuning().detached || !unlinkDetached(path)) ::unlink(path.c_str());
}

}  // namespace zul::table::detail
