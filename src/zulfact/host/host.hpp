// The module's typed view of the host service vector (zul/abi.h).
//
// Only this file and host.cpp know group and slot numbers: every other part
// of the module calls these named methods. A service the host does not
// provide counts as a failure of the call: methods that return a status
// return a nonzero one, the others do nothing (or end the step where the
// caller could not go on, as noted).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "zulfact/state/message_ids.hpp"
#include "zul/abi.h"

namespace zulfact {

// One argument of a numbered or catalog message.
struct Arg {
  zul_arg raw;
  Arg(int v) : raw{ZUL_ARG_INT, 0, {}} { raw.v.i = v; }
  Arg(int64_t v) : raw{ZUL_ARG_INT, 0, {}} { raw.v.i = v; }
  Arg(double v) : raw{ZUL_ARG_DOUBLE, 0, {}} { raw.v.d = v; }
  Arg(std::string_view v) : raw{ZUL_ARG_TEXT, static_cast<int32_t>(v.size()), {}} {
    raw.v.text = v.data();
  }
  Arg(const char* v) : Arg(std::string_view(v)) {}
  Arg(const std::string& v) : Arg(std::string_view(v)) {}
};
using Args = std::initializer_list<Arg>;

// How module code ends the step from any depth: Host::endStep throws it,
// and guardStep (entry/c_boundary.hpp) catches it once, at the procedure
// entry, and hands its values to the host's exit service, which returns.
// No exception crosses the C interface. Not a std::exception, so that no
// handler of a module fault takes it for one; module code holds resources
// in RAII owners, released as it unwinds.
struct EndOfStep {
  int completionCode;
  int second;
};

// A read status that is no error: 0, or a record read with a remark.
inline bool readOk(int status) { return status == 0 || status == ZUL_READ_REMARK; }

class Host {
 public:
  // Set once by mcn_main.
  void attach(void** serviceVector, void* hostContext);
  bool attached() const { return sv_ != nullptr; }
  void** serviceVector() const { return sv_; }
  const zul_toolkit* toolkit() const;

  // ---- step control and messages ----
  // Ends the step: throws EndOfStep (see above).
  [[noreturn]] void endStep(int completionCode, int second = 0);
  // An end of step that could not be thrown (a destructor caught it):
  // kept, and takeDeferredEnd() gives the highest code kept so far (-1
  // for none) and forgets them, for guardStep to end the step with.
  void deferEndStep(const EndOfStep& end);
  int takeDeferredEnd();
  // The host's exit service (39/4): records the step's end and runs the
  // clean-up handler. Called by guardStep and guardCleanup only.
  void exitService(int completionCode, int second);
  void statusReport(int status);
  void registerTermination(void (*routine)(), void** cell);
  void** terminationCell();  // the host slot that holds the ProcState address
  // Host-owned slot of the current step (ZUL_SLOT_*); nullptr without host.
  void** stepSlot(int index);
  void message(int group, int number, Args args = {});
  // Unformatted text of a numbered message; status < 0 when it has none.
  std::string messageText(int group, int number, int* status = nullptr);
  // The text with its arguments put in, as message() would print it.
  std::string formatMessage(int group, int number, Args args = {}, int* status = nullptr);
  // The same by name (state/message_ids.hpp), which is how code says it.
  void message(msg::Id id, Args args = {}) { message(id.group, id.number, args); }
  std::string messageText(msg::Id id, int* status = nullptr) {
    return messageText(id.group, id.number, status);
  }
  std::string formatMessage(msg::Id id, Args args = {}, int* status = nullptr) {
    return formatMessage(id.group, id.number, args, status);
  }
  // A host system option ("VALIDVARNAME", "DEBUG", "THREADS", "CPUCOUNT");
  // false when it is not set.
  bool systemOption(std::string_view name, std::string& value);
  // The THREADS system option: on unless it is missing or says 0, NO, OFF,
  // FALSE or NOTHREADS (the host writes it as 1 or 0).
  bool threadsOn();
  // The CPUCOUNT system option, the processors the step may use (the host
  // sets it to the machine's count unless the user gave one); the missing
  // value when it is not set or not a number.
  double cpuCount();
  void logLine(int level, std::string_view text);  // zul_log_level
  void logText(std::string_view text);             // printed as is
  std::string nameFromPrefix(std::string_view prefix, int number, int width);
  std::string nameFit(std::string_view name, int width);
  const char* hostString(std::string_view text);
  const char* hostString(int group, int number);
  // Catalog note (0x83BFxxxx): logged at the level of its prefix. Returns
  // 0, or 1012 when the catalog could not write it.
  int catalogNote(uint32_t id, Args args = {});

  // ---- tables ----
  int nextByGroup(zul_table* input);
  int byCompare(zul_table* input, zul_table* target);
  void byList(zul_table* table, int code);
  int bySyncMode(zul_table* input, zul_table* target);
  int getAttribute(zul_table* table, int attribute, void* cell);
  int setAttribute(zul_table* table, int attribute, const void* value);
  std::string tableType(zul_table* table);  // 8 characters, blank padded
  // The whole TYPE as given (tableType cut to 8 characters when the host
  // cannot tell more); the file line of the record just read, 0 unknown.
  std::string tableTypeText(zul_table* table);
  int64_t recordLine(zul_table* table);
  // The BY group in hand as the host describes it ("g=1"), "" without one;
  // `attribute` is ZUL_ATTR_BYDESC or ZUL_ATTR_BYDESC_TARGET.
  std::string byDescription(zul_table* table, int attribute = ZUL_ATTR_BYDESC);
  std::string tableName(zul_table* table);  // "LIB.MEMBER"
  // As the host's own messages name it: "LIB.MEMBER", or the path of DATA='x.csv'
  // (whose member alone, "X", would not say which file).
  std::string displayName(zul_table* table);
  int varCount(zul_table* table);
  int varNumber(zul_table* table, std::string_view name);  // 0 when absent
  int varDesc(zul_table* table, int number, zul_var_desc& out);
  zul_readlist* readListCreate(zul_table* table, int count);
  int readListBind(zul_readlist* list, int slot, int varNumber, bool isCharacter, int width);
  void readListRelease(zul_readlist* list);
  // 1 with a record, 0 without; status as zul_read_next_fn (readOk()).
  int readNext(zul_readlist* list, double* values, char* text, int& status);
  // Up to max records of a list without character slots, one after the
  // other (400/19). Returns the count, or -1 when the host lacks the
  // service; status as readNext's.
  int readRecords(zul_readlist* list, double* values, int max, int& status);
  int rewind(zul_table* input);
  void threadedRead(zul_table* table, bool on);
  int declareColumn(zul_table* out, const zul_column_desc& column);
  int copyByColumns(zul_table* out, zul_table* input);
  int copyAllColumns(zul_table* out, zul_table* input);
  int columnsDone(zul_table* out);
  int appendRow(zul_table* out, const double* values, const char* const* texts);

  // ---- work file ----
  int workOpen(zul_workfile& file);
  int workPosition(zul_workfile& file, int64_t key);
  int workWrite(zul_workfile& file, const void* buffer, int64_t bytes, int64_t& key);
  int workRead(zul_workfile& file, void* buffer, int64_t bytes);
  int workClose(zul_workfile& file, int how);

  // ---- memory ----
  // Requests of 2,147,483,647 bytes or more return nullptr without asking.
  void* alloc(double bytes, uint32_t flags = 0x3006);
  void release(void* block);
  double availableMemory();  // units of 1000 bytes; < 0 unknown

  // ---- parsing ----
  int parse(const zul_grammar* grammar, uint32_t debugFlags, const zul_parsed** out);

  // ---- output ----
  int sinkDispatch(void* object, int operation, int nAttributes, zul_attr* attributes);

  // ---- numerics and settings ----
  int sweep(double* packed, int pivot, int order, char* flags, const double* scale,
            double singular);
  double namedSetting(const char* name);  // missing when not set
  int diagSwitch(const char* name);       // 0 when off
  int nameCheck(std::string_view value);  // 0, 1 or 2
  void setMacro(const char* name, std::string_view value);
  double clock();

  // ---- tables in databases (400/20 to 400/23) ----
  bool dbTableInfo(zul_table* table, zul_db_table_info& info);  // false: not in a database
  zul_table* dbQueryTable(zul_table* table, std::string_view sql, const char* member);
  int dbExecute(zul_table* table, std::string_view sql, double& rows);  // 0, 1, 2; -1 no service
  int dbDescribe(zul_table* table, std::string_view sql, int32_t* codes, int count);

  // ---- threads ----
  zul_thread* threadCreate(void (*start)(void*), void* arg);
  void threadJoin(zul_thread* thread);
  zul_event* eventCreate();
  void eventSet(zul_event* event);
  void eventReset(zul_event* event);
  int eventWaitAny(zul_event* const* events, int count);
  void eventDestroy(zul_event* event);

 private:
  void** sv_ = nullptr;
  void* context_ = nullptr;
  const zul_toolkit* toolkit_ = nullptr;  // word 82, read once by attach()
  int deferredEnd_ = -1;
};

// The module's one host connection, attached by mcn_main.
Host& host();

}  // namespace zulfact
