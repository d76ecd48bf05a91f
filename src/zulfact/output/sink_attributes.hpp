// The attributes of a dispatch call to the output sink (zul/abi_output.h),
// built one per kind; shared by the table and the graph writers.
#pragma once

#include <cstdint>
#include <string_view>

#include "zul/abi.h"
#include "zulfact/output/table_writer.hpp"

namespace zulfact::sink_attr {

zul_attr integer(int number, int64_t value);
zul_attr enumeration(int number, int64_t value);
// The text is not copied: it must live until the dispatch call returns.
zul_attr chars(int number, std::string_view text);
zul_attr data(int number, const void* pointer, int64_t bytes);
// A Text as an attribute: numbered messages become host strings (kind 66);
// a message the host cannot turn into a string travels as empty text.
zul_attr text(int number, const Text& text);

}  // namespace zulfact::sink_attr
