#include "zul/table/temporary_files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace zul::table {

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
bool g_removed = false;  // the run is ending: files made from now on go at once
// Never destroyed: the libraries' connections forget their files when the
// session ends, which is after the statics made later than it are gone.
std::set<std::string>& files() {
  static auto* f = new std::set<std::string>;
  return *f;
}

struct KeptFile {
  std::string target;
  unsigned mode;
};
std::map<std::string, KeptFile>& keptFiles() {
  static auto* f = new std::map<std::string, KeptFile>;
  return *f;
}

// With g_mutex held: lastLine appended, the file renamed onto its target
// (false when it could not be, the file then removed).
bool putInPlace(const std::string& file, const KeptFile& kept, const std::string& lastLine) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd >= 0) {
    ssize_t ignored = ::write(fd, lastLine.data(), lastLine.size());
    (void)ignored;
    ::close(fd);
  }
  if (::chmod(file.c_str(), kept.mode) == 0 && ::rename(file.c_str(), kept.target.c_str()) == 0)
    return true;
  ::unlink(file.c_str());
  return false;
}

// With g_mutex held.
void noteLocked(const std::string& file) {
  if (g_removed) ::unlink(file.c_str());
  else files().insert(file);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Field 22 of /proc/PID/stat, the start time in clock ticks after boot;
// "" when there is no such process (or no /proc). The name in field 2 may
// hold blanks and parentheses, so the fields are counted after its last ')'.
std::string startTimeOf(const std::string& pid) {
  const std::string stat = readFile("/proc/" + pid + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  size_t pos = close + 1;
  for (int field = 3; field <= 22; ++field) {
    pos = stat.find_first_not_of(' ', pos);
    if (pos == std::string::npos) return {};
    const size_t end = stat.find(' ', pos);
    if (field == 22) return stat.substr(pos, end - pos);
    pos = end;
  }
  return {};
}

// The machine and process-id namespace, as 8 hex digits (FNV-1a of the boot
// id and the namespace's identity): a process id means something only
// within both.
std::string hostTag() {
  std::string what = readFile("/proc/sys/kernel/random/boot_id");
  char link[128] = {};
  ssize_t n = ::readlink("/proc/self/ns/pid", link, sizeof link - 1);
  if (n > 0) what.append(link, static_cast<size_t>(n));
  uint32_t h = 2166136261u;
  for (unsigned char c : what) h = (h ^ c) * 16777619u;
  char out[9];
  std::snprintf(out, sizeof out, "%08x", h);
  return out;
}

// "zul-PID-START-HOST-", or "" when /proc cannot tell this process's start
// time (then nothing is ever proved dead either).
const std::string& ownerTag() {
  static const std::string tag = [] {
    const std::string pid = std::to_string(::getpid());
    const std::string start = startTimeOf(pid);
    return start.empty() ? std::string() : "zul-" + pid + "-" + start + "-" + hostTag() + "-";
  }();
  return tag;
}

bool digits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// True when name is a temporary of a process that no longer runs.
bool deadTemporary(const std::string& name, const std::string& host) {
  if (name.size() < 2 || name[0] != '.') return false;
  const size_t at = name.rfind(".zul-");
  if (at == std::string::npos) return false;
  // PID-START-HOST-XXXXXX after ".zul-"
  std::vector<std::string> parts;
  size_t pos = at + 5;
  for (size_t dash; (dash = name.find('-', pos)) != std::string::npos; pos = dash + 1)
    parts.push_back(name.substr(pos, dash - pos));
  parts.push_back(name.substr(pos));
  if (parts.size() != 4 || !digits(parts[0]) || !digits(parts[1]) || parts[2] != host ||
      parts[3].size() != 6)
    return false;
  if (parts[0] == std::to_string(::getpid())) return false;
  // No process with that id; or one that started at another time, which
  // reused the id. A process that /proc does not show (hidepid) is alive.
  const long pid = std::strtol(parts[0].c_str(), nullptr, 10);
  if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
  const std::string start = startTimeOf(parts[0]);
  return !start.empty() && start != parts[1];
}

}  // namespace

void noteTemporaryFile(const fs::path& file) {
  std::lock_guard<std::mutex> lock(g_mutex);
  noteLocked(file.string());
}

std::string createTemporaryFile(const std::function<std::string()>& create) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string made = create();
  if (!made.empty()) noteLocked(made);
  return made;
}

void forgetTemporaryFile(const fs::path& file) {
  std::lock_guard<std::mutex> lock(g_mutex);
  files().erase(file.string());
  keptFiles().erase(file.string());
}

void keepOnInterrupt(const fs::path& file, const fs::path& target, unsigned mode) {
  std::lock_guard<std::mutex> lock(g_mutex);
  keptFiles()[file.string()] = KeptFile{target.string(), mode};
}

void removeOnInterrupt(const fs::path& file) {
  std::lock_guard<std::mutex> lock(g_mutex);
  keptFiles().erase(file.string());
}

int removeDeadTemporaries(const fs::path& dir) {
  if (ownerTag().empty()) return 0;
  const std::string host = hostTag();
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!deadTemporary(name, host)) continue;
    std::error_code type;
    if (!it->is_regular_file(type)) continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

namespace {

// ".<name>.<owner tag>XXXXXX" beside target: hidden, and recognisable by
// removeDeadTemporaries once its owner has died.
std::string temporaryPattern(const fs::path& target) {
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  return (dir / ("." + target.filename().string() + "." + ownerTag() + "XXXXXX")).string();
}

}  // namespace

fs::path linkedFile(const fs::path& path) {
  fs::path p = path;
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code ec;
    if (!fs::is_symlink(p, ec)) return p;
    const fs::path next = fs::read_symlink(p, ec);
    if (ec) return p;
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return {};
}

bool isWriteProtected(const std::filesystem::path& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return (st.st_mode & 0222) == 0 || (::access(target.c_str(), W_OK) != 0 && errno == EACCES);
}

int makeTemporaryBeside(const fs::path& target, fs::path& made) {
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  {
    static std::mutex sweptMutex;
    static std::set<std::string> swept;
    std::error_code ec;
    const std::string key = fs::weakly_canonical(fs::absolute(dir, ec), ec).string();
    std::lock_guard<std::mutex> lock(sweptMutex);
    if (swept.insert(key).second) removeDeadTemporaries(dir);
  }
  const std::string pattern = temporaryPattern(target);
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = -1;
  made = createTemporaryFile([&] {
    fd = ::mkostemp(buf.data(), O_CLOEXEC);
    return fd >= 0 ? std::string(buf.data()) : std::string();
  });
  return fd;
}

bool linkTemporaryBeside(const fs::path& target, fs::path& made) {
  const std::string pattern = temporaryPattern(target);
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int error = 0;
    const std::string linked = createTemporaryFile([&] {
      // mkostemp picks a free name of our own pattern; link(2) cannot take
      // a name that exists, so the placeholder goes first. Only this
      // process makes names with its tag.
      const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
      if (fd < 0) {
        error = errno;
        return std::string();
      }
      ::close(fd);
      ::unlink(buf.data());
      if (::link(target.c_str(), buf.data()) != 0) {
        error = errno;
        return std::string();
      }
      return std::string(buf.data());
    });
    if (!linked.empty()) {
      made = linked;
      return true;
    }
    if (error != EEXIST) return false;
  }
  return false;
}

fs::path privateScratchDirectory() {
  std::error_code ec;
  const fs::path tmp = fs::temp_directory_path(ec);
  if (ec) return "/tmp";
  const fs::path dir = tmp / ("zul-" + std::to_string(::getuid()));
  ::mkdir(dir.c_str(), 0700);  // it may be there already
  struct stat st {};
  // Not a symbolic link, ours, closed to others: nobody else can place or
  // swap files in it.
  const bool safe = ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
                    (st.st_mode & 077) == 0;
  return safe ? dir : tmp;
}

int makePrivateScratch(const std::string& stem, fs::path& made) {
  return makeTemporaryBeside(privateScratchDirectory() / stem, made);
}

int removeTemporaryFiles(const std::string& lastLine) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int put = 0;
  for (const auto& [file, kept] : keptFiles())
    if (files().erase(file) > 0) put += putInPlace(file, kept, lastLine);
  keptFiles().clear();
  for (const std::string& f : files()) ::unlink(f.c_str());
  files().clear();
  g_removed = true;
  return put;
}

}  // namespace zul::table
