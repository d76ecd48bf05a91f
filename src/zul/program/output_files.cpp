#include "zul/program/output_files.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "zul/table/temporary_files.hpp"

namespace zul::program {

namespace {

std::optional<FileIdentity> identityOf(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// What makes two output paths the same file: the identity of an existing
// file, else the path made absolute (for files not created yet).
std::string sameFileKey(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    auto id = identityOf(st);
    if (!id) return {};  // a device or a pipe: may be named twice
    return "id:" + std::to_string(id->device) + ":" + std::to_string(id->inode);
  }
  std::error_code ec;
  return "path:" + std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec).string();
}

}  // namespace

std::optional<FileIdentity> regularFileIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return identityOf(st);
}

std::optional<FileIdentity> regularFileIdentity(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return identityOf(st);
}

std::string outputClash(const std::vector<OutputPath>& outputs,
                        const std::vector<InputFile>& inputs) {
  std::vector<std::string> keys;
  for (const OutputPath& o : outputs) {
    if (auto id = regularFileIdentity(o.path))
      for (const InputFile& in : inputs)
        if (*id == in.id)
          return "The " + o.role + " file " + o.path + " is the program " + in.name +
                 ", which would be overwritten; give another file name.";
    keys.push_back(sameFileKey(o.path));
  }
  for (size_t i = 0; i < outputs.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (!keys[i].empty() && keys[i] == keys[j])
        return "The " + outputs[i].role + " file " + outputs[i].path + " is also the " +
               outputs[j].role + " file; give each output its own file.";
  return {};
}

std::string OutputFile::open(const std::string& role, const std::string& path) {
  role_ = role;
  path_ = path;
  auto create = [&] {
    stream_.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    return stream_ ? path : std::string();
  };
  // Until it is complete, an interrupted run removes it.
  const bool opened = removeIfInterrupted_ ? !table::createTemporaryFile(create).empty()
                                           : !create().empty();
  if (!opened)
    return "The " + role + " file " + path + " cannot be written: " + std::strerror(errno) + ".";
  return {};
}

std::string OutputFile::failure() const {
  return "The " + role_ + " file " + path_ +
         " could not be written completely (is the disk full?); it is incomplete.";
}

std::string OutputFile::close() {
  if (!stream_.is_open()) return {};
  stream_.flush();
  const bool ok = stream_.good();
  stream_.close();
  if (removeIfInterrupted_) table::forgetTemporaryFile(path_);
  return ok && !stream_.fail() ? std::string() : failure();
}

}  // namespace zul::program
