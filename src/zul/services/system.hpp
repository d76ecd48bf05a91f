// zul/services/system.hpp -- small host services without state: the
// _NAME_ check and the memory available.
#pragma once

#include <cstdint>
#include <string_view>

namespace zul::services {

// Classes of a _NAME_ value of a stored matrix (service 400/15).
enum NameClass : int32_t {
  kNameOrdinary = 0,  // may name a variable: matched against the variables
  kNameSkip = 1,      // blank, or not a variable name: the row is skipped
                      // (the module warns once per table)
  kNameUnusable = 2,  // longer than 32 bytes or holding control characters:
                      // the table cannot be read as a matrix
};
// validVarName is the VALIDVARNAME option: under ANY every printable text
// of 1 to 32 bytes is a name; otherwise a letter or '_' first, then
// letters, digits and '_'. Trailing blanks do not count.
NameClass classifyName(std::string_view value, std::string_view validVarName);

// Memory available to the process, in units of 1000 bytes: MemAvailable
// of /proc/meminfo (or a readable file given for tests), bounded by the
// address-space limit when one is set. Negative when it cannot be told.
double availableMemoryUnits(const char* meminfoPath = "/proc/meminfo");

}  // namespace zul::services
