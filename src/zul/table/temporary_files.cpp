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

namespace {

// With g_mutex held.
void noteLocked(const std::string& file) {
  if (g_removed) ::unlink(file.c_str());
  else files().insert(file);
}

}  // namespace

void noteTemporaryFile(const std::filesystem::path& file) {
  std::lock_guard<std::mutex> lock(g_mutex);
  noteLocked(file.string());
}

std::string createTemporaryFile(const std::function<std::string()>& create) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string made = create();
  if (!made.empty()) noteLocked(made);
  return made;
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
