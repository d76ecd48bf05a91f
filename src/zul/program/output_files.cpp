#include "zul/program/output_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>

#include "zul/table/temporary_files.hpp"

namespace zul::program {

namespace {

namespace fs = std::filesystem;

// The mode the file gets: that of the file it replaces, else what a plain
// creat() would have given (0666 less the umask).
mode_t modeFor(const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// The descriptor of this process that path reaches through /dev/stdout,
// /dev/fd/N or /proc/self/fd/N (-1 when none). Such a path names the file
// the shell opened for zul (`>>results.txt`): renaming onto it would replace
// that file, earlier content and all, so it is written through the
// descriptor instead, at its offset, as a redirection would be.
int descriptorReached(const std::string& path) {
  std::error_code ec;
  const fs::path ownDescriptors = fs::path("/proc") / std::to_string(::getpid()) / "fd";
  fs::path p = fs::absolute(path, ec);
  for (int hop = 0; hop < 40 && !ec; ++hop) {
    const fs::path dir = fs::canonical(p.parent_path(), ec);
    if (!ec && dir == ownDescriptors) {
      const std::string n = p.filename().string();
      if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos) return -1;
      return std::stoi(n);
    }
    if (!fs::is_symlink(p, ec)) return -1;
    const fs::path next = fs::read_symlink(p, ec);
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return -1;
}

// Appends the whole file from to the descriptor fd; false on a failed write.
bool copyToDescriptor(const std::string& from, int fd) {
  std::ifstream in(from, std::ios::binary);
  char buffer[1 << 16];
  while (in) {
    in.read(buffer, sizeof buffer);
    for (std::streamsize done = 0; done < in.gcount();) {
      const ssize_t n = ::write(fd, buffer + done, static_cast<size_t>(in.gcount() - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += n;
    }
  }
  return in.eof();
}

}  // namespace

OutputFile::~OutputFile() {
  if (!temporary_.empty()) discard();
}

std::string OutputFile::open(const std::string& role, const std::string& path) {
  role_ = role;
  path_ = path;
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode))
    return "The " + role + " file " + path + " is a directory; give a file name.";
  if (exists && !S_ISREG(st.st_mode)) {
    stream_.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
  } else {
    descriptor_ = exists ? descriptorReached(path) : -1;
    target_ = table::linkedFile(path).string();
    if (target_.empty())
      return "The " + role + " file " + path + " is a symbolic link that leads round in a loop; "
             "give a file name, or point the link at a file.";
    if (descriptor_ < 0 && table::isWriteProtected(target_))
      return "The " + role + " file " + path + " is write-protected; make it writable (chmod u+w " +
             path + ") or give another name.";
    fs::path made;
    int fd = descriptor_ >= 0 ? table::makePrivateScratch("report", made)
                              : table::makeTemporaryBeside(target_, made);
    if (fd >= 0) {
      ::close(fd);
      temporary_ = made.string();
      stream_.open(temporary_, std::ios::out | std::ios::trunc | std::ios::binary);
    }
  }
  if (!stream_.is_open() || !stream_)
    return "The " + role + " file " + path + " cannot be written: " + std::strerror(errno) + ".";
  return {};
}

std::string OutputFile::failure() const {
  return "The " + role_ + " file " + path_ +
         " could not be written completely (is the disk full?); it is left as it was.";
}

std::string OutputFile::finish() {
  if (!stream_.is_open()) return {};
  stream_.flush();
  const bool ok = stream_.good();
  stream_.close();
  if (ok && !stream_.fail()) return {};
  discard();
  return failure();
}

std::string OutputFile::close() {
  if (stream_.is_open()) {
    if (std::string error = finish(); !error.empty()) return error;
  }
  if (temporary_.empty()) return {};
  std::string error;
  if (descriptor_ >= 0) {
    std::cout.flush();  // the listing written so far comes first, as in `2>&1`
    if (!copyToDescriptor(temporary_, descriptor_)) error = failure();
    ::unlink(temporary_.c_str());
  } else if (::chmod(temporary_.c_str(), modeFor(target_)) != 0 ||
      ::rename(temporary_.c_str(), target_.c_str()) != 0)
    error = "The " + role_ + " file " + path_ + " cannot be put in place: " +
            std::strerror(errno) + "; it is left as it was.";
  if (!error.empty()) ::unlink(temporary_.c_str());
  table::forgetTemporaryFile(temporary_);
  temporary_.clear();
  return error;
}

std::string OutputFile::writtenText() {
  if (temporary_.empty()) return {};
  stream_.flush();
  std::ifstream in(temporary_, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void OutputFile::keepOnInterrupt(bool keep) {
  if (temporary_.empty() || descriptor_ >= 0) return;
  if (keep) table::keepOnInterrupt(temporary_, target_, modeFor(target_));
  else table::removeOnInterrupt(temporary_);
}

void OutputFile::discard() {
  if (stream_.is_open()) stream_.close();
  if (temporary_.empty()) return;
  ::unlink(temporary_.c_str());
  table::forgetTemporaryFile(temporary_);
  temporary_.clear();
}

bool ScratchStream::open() {
  fs::path made;
  const int fd = table::makePrivateScratch("report", made);
  if (fd < 0) return false;
  ::close(fd);
  stream_.open(made, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
  ::unlink(made.c_str());
  table::forgetTemporaryFile(made);
  return stream_.is_open();
}

}  // namespace zul::program
