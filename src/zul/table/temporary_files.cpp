#include "zul/table/temporary_files.hpp"

#include <unistd.h>

#include <mutex>
#include <set>
#include <string>

namespace zul::table {

namespace {

std::mutex g_mutex;
bool g_removed = false;  // the run is ending: files made from now on go at once
std::set<std::string>& files() {
  static std::set<std::string> f;
  return f;
}

}  // namespace

void noteTemporaryFile(const std::filesystem::path& file) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_removed) ::unlink(file.c_str());
  else files().insert(file.string());
}

void forgetTemporaryFile(const std::filesystem::path& file) {
  std::lock_guard<std::mutex> lock(g_mutex);
  files().erase(file.string());
}

void removeTemporaryFiles() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const std::string& f : files()) ::unlink(f.c_str());
  files().clear();
  g_removed = true;
}

}  // namespace zul::table
