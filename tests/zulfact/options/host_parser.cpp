// The host's statement parser, compiled into this test (see host_program.cpp).
#include "zul/parse/parser.cpp"
