// In-database processing: when DATA= is a table of a database library, the
// crossproducts of each BY group are one aggregate statement run in the
// database (read back as the "_ZSQL_" table in place of the rows), and the
// OUT= scores, when OUT= is in the same database, one insert ... select
// statement per BY group: no observation leaves the database.
//
// Options: the host option INDB=NO switches it off; SQLECHO=YES (or the
// diagnostic switch -zsqlsco1) prints each generated statement;
// INDBNOTES=YES notes the rows written for each BY group and the reading
// of crossproduct tables. The host option SQLPASSES=1 (or the diagnostic
// switch -sqlpasses 1, which wins) takes the shift from the first usable
// row (one cheap query, then one pass) instead of the group's means (two
// passes, the default). A crossproduct table ("_MKXPX_") in a database is
// read as it is, never summarised again.
#pragma once

#include <string>
#include <vector>

#include "sqlgen/scoring_sql.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// Decides whether the step's input is processed in its database and, when
// it is, opens the "_ZSQL_" table as ps.indbInput. Runs after the OUT= and
// OUTSTAT= columns are declared. Says why when a database table is read
// row by row after all (PARTIAL variables, INDB=NO, OUT= elsewhere).
void prepareIndb(StepRecord& ps);

// Writes the current BY group's scores inside the database (ps.indb.used):
// the column-type probe, the statement, its row count. Returns 0, or the
// completion code of a failure (1012 a statement the database refused,
// 1016 an exhausted resource, 9999 a descriptor error).
int scoreInDatabase(ProcState& ps);

// The checks of a scoring descriptor: one line per fault ("zsqlsco1:
// num_input=-1"), none when it is sound.
std::vector<std::string> scoringFaults(const sqlgen::ScoringSpec& s);

// The trace of a scoring descriptor: each field on one line and, at level
// 2 and above, each input's moments and each score's coefficients.
std::vector<std::string> scoringTrace(const sqlgen::ScoringSpec& s, int level);

// A crossproduct table (member _MKXPX_) holds sums, not observations: the
// engine reads it as it is, wherever it is stored.
bool isCrossproductTable(zul_table* table);

// Whether a table has the leading columns of a crossproduct table
// (_NREAD_ ... _DNAME_), whatever its name: CROSSPRODUCTS writes one under
// any name, and its rows read as observations would be sums taken for data.
bool hasCrossproductColumns(zul_table* table);

// The class (sqlgen/column_types.hpp) of each of the named columns of
// `from`, a table reference as SQL writes it: a prepared, never executed,
// select of them. All numeric when the database cannot say.
std::vector<int> columnClasses(zul_table* input, const std::string& from,
                               const std::vector<std::string>& names);

// The class of an SQL type code for scoring, and the message of a column
// that cannot be scored (empty when it can).
std::string unscorableColumn(int code, const std::string& column);

}  // namespace zulfact
