// The columns a text takes on a terminal or in a monospace listing, so
// that names and labels in any script keep the columns of a table
// aligned: one per character, none for a combining mark or an invisible
// format character, two for an East Asian wide or full-width character
// (the ranges of Markus Kuhn's wcwidth).
#pragma once

#include <string_view>

namespace kernels {

// Text is UTF-8 (what is not has been made printable before it is shown).
int displayWidth(std::string_view text);

}  // namespace kernels
