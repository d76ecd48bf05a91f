// zul/table/dta_rows.hpp -- whether the data of an old Stata file (releases
// 113 to 115) end where its header's observation count says.
//
// Those releases mark nothing between the data and the value labels that
// follow them: given a count smaller than the data hold, libreadstat reads
// that many observations and takes the rest for labels, without a word.
// After the declared data only value-label tables may follow, each of a
// length its own counts repeat, up to the end of the file.
#pragma once

#include <filesystem>
#include <string>

namespace zul::table::detail {

// Empty when the file is of another release or its declared data are
// followed by value-label tables only; otherwise what follows them.
std::string oldStataExcess(const std::filesystem::path& file);

}  // namespace zul::table::detail
