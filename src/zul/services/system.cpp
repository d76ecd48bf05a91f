#include "zul/services/system.hpp"

#include <sys/resource.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace zul::services {

NameClass classifyName(std::string_view value, std::string_view validVarName) {
  while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.remove_suffix(1);
  for (char c : value)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return kNameUnusable;
  if (value.size() > 32) return kNameUnusable;
  if (value.empty()) return kNameSkip;
  bool any = validVarName.size() == 3 && std::toupper(validVarName[0]) == 'A' &&
             std::toupper(validVarName[1]) == 'N' && std::toupper(validVarName[2]) == 'Y';
  if (any) return kNameOrdinary;
  auto isStart = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
  auto isRest = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  if (!isStart(value[0])) return kNameSkip;
  for (char c : value)
    if (!isRest(c)) return kNameSkip;
  return kNameOrdinary;
}

double availableMemoryUnits(const char* meminfoPath) {
  std::ifstream in(meminfoPath);
  std::string line;
  double bytes = -1;
  while (in && std::getline(in, line)) {
    unsigned long long kb = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kb) == 1) {
      bytes = static_cast<double>(kb) * 1024.0;
      break;
    }
  }
  if (bytes < 0) return -1.0;
  struct rlimit lim;
  if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY &&
      static_cast<double>(lim.rlim_cur) < bytes)
    bytes = static_cast<double>(lim.rlim_cur);
  return bytes / 1000.0;
}

}  // namespace zul::services
