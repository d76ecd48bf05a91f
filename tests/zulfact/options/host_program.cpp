// The host's program reader, compiled into this test so that the module's
// grammar is checked by the real parser.
#include "zul/parse/program.cpp"
