// zul/program/standard_descriptors.hpp -- standard input, output and error
// closed when zul starts (`zul p.zul >&-`). The next file zul opened would
// then get descriptor 0, 1 or 2, and the listing or log would be written
// into a table or work file. Each closed one is held by /dev/null opened
// the other way round, so that every read or write on it fails as on a
// closed descriptor (EBADF) and is reported as the failure it is.
#pragma once

namespace zul::program {

// Call first in main(), before any file is opened.
void holdClosedStandardDescriptors();

}  // namespace zul::program
