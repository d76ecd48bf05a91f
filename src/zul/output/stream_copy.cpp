#include "zul/output/stream_copy.hpp"

#include <algorithm>
#include <istream>
#include <ostream>

namespace zul::output {

void copyStream(std::iostream& in, std::ostream& out, std::streamoff from, std::streamoff to) {
  // A part that could not be written in full (a full disk) must not pass
  // for a whole report: out fails too, and the run says so.
  in.flush();
  if (!in) {
    out.setstate(std::ios::badbit);
    return;
  }
  if (to < 0) {
    in.seekg(0, std::ios::end);
    to = in.tellg();
  }
  in.seekg(from);
  char buffer[1 << 16];
  for (std::streamoff left = to - from; left > 0 && in;) {
    in.read(buffer, std::min<std::streamoff>(left, sizeof buffer));
    out.write(buffer, in.gcount());
    left -= in.gcount();
  }
  if (!in) out.setstate(std::ios::badbit);
  in.clear();
  in.seekp(0, std::ios::end);  // later parts go after the last
}

}  // namespace zul::output
