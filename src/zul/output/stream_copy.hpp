// Copying a part of a stream into another: the JSON file and the HTML
// report are joined at the end of the run from the parts written to
// temporary files as the run went.
#pragma once

#include <ios>
#include <iosfwd>

namespace zul::output {

// Copies the bytes from offset `from` up to offset `to` (-1: the end) of in
// to out. in may have just been written: the seek ends its writing. When
// in failed, out is failed too.
void copyStream(std::iostream& in, std::ostream& out, std::streamoff from = 0,
                std::streamoff to = -1);

}  // namespace zul::output
