// The module's real host facade and table writer, compiled into this test
// program so that a table can travel from TableWriter through service
// 400/1 into the host's Report (writer_roundtrip_test.cpp).
#include "../../../src/zulfact/host/host.cpp"
#include "../../../src/zulfact/output/table_writer.cpp"
