/* zul/abi_indb.h -- services for processing a table inside its database.
 *
 * The module writes the SQL (the crossproduct aggregate, the scoring
 * insert ... select); the host runs it on the connection of a table of a
 * database library. Group 400, slots 20 to 23. */
#ifndef ZUL_ABI_INDB_H
#define ZUL_ABI_INDB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zul_table zul_table;

enum zul_db_dialect { ZUL_DB_NONE = 0, ZUL_DB_SQLITE = 1, ZUL_DB_POSTGRES = 2 };

/* What the host knows of a table's database (400/20). */
typedef struct zul_db_table_info {
  int32_t dialect;       /* zul_db_dialect; ZUL_DB_NONE for a file */
  char reference[520];   /* the table as SQL names it, quoted, NUL terminated:
                            for an output table, the table being written */
  char database[520];    /* equal for two tables of one database */
  char display[72];      /* "LIB.MEMBER" for messages */
  int32_t lowerCaseColumns; /* an output table's columns are named in lower case */
} zul_db_table_info;

/* 400/20: fills *info; 0, or nonzero when table is not a table of a
 * database library (info->dialect is then ZUL_DB_NONE). */
typedef int32_t (*zul_db_table_info_fn)(zul_table *table, zul_db_table_info *info);

/* 400/21: runs the query sql on the database of table and opens its rows
 * as an input table named member (for example "_ZSQL_") whose BY
 * variables are those of table: the module reads its groups in place of
 * table's. NULL when the query fails (the host has logged the database's
 * message). The host closes the table at the end of the step. */
typedef zul_table *(*zul_db_query_table_fn)(zul_table *table, const char *sql,
                                            int32_t length, const char *member);

/* 400/22: runs a statement that returns no rows on the database of table
 * (for an output table inside the transaction that writes it); *rows
 * receives the rows it changed. 0; 1 the database refused the statement
 * (its message is logged); 2 the database ran out of a resource. */
typedef int32_t (*zul_db_execute_fn)(zul_table *table, const char *sql, int32_t length,
                                     double *rows);

/* 400/23: prepares the query sql on the database of table without running
 * it and stores the SQL type code of each of its first count columns
 * (ODBC codes: 8 DOUBLE, 4 INTEGER, 91 DATE, 92 TIME, 93 TIMESTAMP, 12
 * VARCHAR, ...). 0; 1 it could not be prepared; 2 not described. */
typedef int32_t (*zul_db_describe_fn)(zul_table *table, const char *sql, int32_t length,
                                      int32_t *codes, int32_t count);

enum zul_db_service_id {
  ZUL_DB_TABLE_INFO = 400 * 1000 + 20,
  ZUL_DB_QUERY_TABLE = 400 * 1000 + 21,
  ZUL_DB_EXECUTE = 400 * 1000 + 22,
  ZUL_DB_DESCRIBE = 400 * 1000 + 23
};

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_INDB_H */
