// zul/services/db_services.hpp -- the services that let the module run its
// own SQL on the database of a table (group 400, slots 20 to 23): the
// crossproduct aggregate read back as a table, the scoring insert ...
// select run inside the transaction that writes OUT=, the column-type
// probe.
#pragma once

#include "zul/abi.h"

namespace zul::services {

int32_t svcDbTableInfo(zul_table* table, zul_db_table_info* info);
zul_table* svcDbQueryTable(zul_table* table, const char* sql, int32_t length, const char* member);
int32_t svcDbExecute(zul_table* table, const char* sql, int32_t length, double* rows);
int32_t svcDbDescribe(zul_table* table, const char* sql, int32_t length, int32_t* codes,
                      int32_t count);

}  // namespace zul::services
