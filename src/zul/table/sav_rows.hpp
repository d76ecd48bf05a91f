// zul/table/sav_rows.hpp -- how many cases the data of an SPSS .sav file
// hold, counted from the file itself.
//
// The header's case count may be -1 (a writer that streamed its cases and
// did not come back to fill it in) or may disagree with the data after a
// copy was cut short or damaged. libreadstat reads as many cases as the
// header says, or, given a limit and no count, up to the end of the file,
// dropping a case cut short without a word. Walking the dictionary to the
// data and counting their values tells how many cases are really there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zul::table::detail {

struct SavRows {
  int64_t claimed = -1;  // the header's case count; -1: not given
  int64_t held = -1;     // whole cases in the data; -1: not counted
  int64_t elements = -1;  // 8-byte elements of a case (0: no variables); -1: not known
  std::string damage;    // why the data are not whole cases, if they are not
};

// The header's count and the cases the data hold, in every storage (none,
// bytecode, and bytecode in zlib blocks: .zsav). held stays -1 for a file
// this does not count (a dictionary it cannot walk, a .zsav whose block
// index cannot be read: libreadstat then tells what is wrong).
SavRows countSavRows(const std::filesystem::path& file);

}  // namespace zul::table::detail
