// The suggestions of the host's statement parser (see host_program.cpp).
#include "zul/parse/suggest.cpp"
