// The module's typed view of the host service vector. Every group and slot
// number of the module is used here and nowhere else.
#include "zulfact/host/host.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/host/catalog_text.hpp"

namespace zulfact {

namespace {

// Looks up service id (ZUL_SVC(group, slot)) as its C type; nullptr when
// the host does not provide it (or no host is attached).
template <class F>
F lookup(void** sv, int id) {
  if (!sv) return nullptr;
  return reinterpret_cast<F>(zul_service(sv, id / 1000, id % 1000));
}

std::vector<zul_arg> rawArgs(Args args) {
  std::vector<zul_arg> out;
  out.reserve(args.size());
  for (const Arg& a : args) out.push_back(a.raw);
  return out;
}

// Fetches a text through a copy-style service (returns the full length):
// first into a small buffer, again into one of the right size when longer.
template <class Fetch>
std::string fetchText(Fetch fetch, int* status) {
  char small[256];
  int32_t n = fetch(small, static_cast<int32_t>(sizeof small));
  if (n < 0) {
    if (status) *status = n;
    return {};
  }
  if (status) *status = 0;
  if (n < static_cast<int32_t>(sizeof small)) return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  int32_t m = fetch(big.data(), n + 1);
  if (m < 0) {
    if (status) *status = m;
    return {};
  }
  big.resize(static_cast<size_t>(std::min(m, n)));
  return big;
}

}  // namespace

Host& host() {
  static Host instance;
  return instance;
}

void Host::attach(void** serviceVector, void* hostContext) {
  sv_ = serviceVector;
  context_ = hostContext;
  toolkit_ = sv_ ? static_cast<const zul_toolkit*>(sv_[ZUL_SV_TOOLKIT]) : nullptr;
}

const zul_toolkit* Host::toolkit() const { return toolkit_; }

// ---- step control and messages ----

void Host::endStep(int completionCode, int second) { throw EndOfStep{completionCode, second}; }

void Host::deferEndStep(const EndOfStep& end) {
  deferredEnd_ = std::max(deferredEnd_, end.completionCode);
}

int Host::takeDeferredEnd() {
  const int code = deferredEnd_;
  deferredEnd_ = -1;
  return code;
}

void Host::exitService(int completionCode, int second) {
  if (auto f = lookup<zul_end_step_fn>(sv_, ZUL_END_STEP)) f(completionCode, second);
}

void Host::statusReport(int status) {
  if (auto f = lookup<zul_status_report_fn>(sv_, ZUL_STATUS_REPORT)) f(0, status);
}

void Host::registerTermination(void (*routine)(), void** cell) {
  if (auto f = lookup<zul_termination_fn>(sv_, ZUL_TERMINATION)) f(routine, cell);
}

void** Host::stepSlot(int index) {
  if (auto f = lookup<zul_step_slot_fn>(sv_, ZUL_STEP_SLOT)) return f(index);
  return nullptr;
}

void** Host::terminationCell() { return stepSlot(ZUL_SLOT_PROCSTATE); }

void Host::message(int group, int number, Args args) {
  auto f = lookup<zul_message_fn>(sv_, ZUL_MESSAGE);
  if (!f) return;
  std::vector<zul_arg> raw = rawArgs(args);
  f(group, number, raw.data(), static_cast<int32_t>(raw.size()));
}

std::string Host::messageText(int group, int number, int* status) {
  auto f = lookup<zul_message_text_fn>(sv_, ZUL_MESSAGE_TEXT);
  if (!f) {
    if (status) *status = -1;
    return {};
  }
  return fetchText([&](char* b, int32_t n) { return f(b, n, group, number); }, status);
}

std::string Host::formatMessage(int group, int number, Args args, int* status) {
  auto f = lookup<zul_message_format_fn>(sv_, ZUL_MESSAGE_FORMAT);
  if (!f) {
    if (status) *status = -1;
    return {};
  }
  std::vector<zul_arg> raw = rawArgs(args);
  return fetchText(
      [&](char* b, int32_t n) {
        return f(b, n, group, number, raw.data(), static_cast<int32_t>(raw.size()));
      },
      status);
}

bool Host::systemOption(std::string_view name, std::string& value) {
  auto f = lookup<zul_system_option_fn>(sv_, ZUL_SYSTEM_OPTION);
  if (!f) return false;
  int st = 0;
  value = fetchText(
      [&](char* b, int32_t n) {
        return f(name.data(), static_cast<int32_t>(name.size()), b, n);
      },
      &st);
  return st >= 0;
}

bool Host::threadsOn() {
  std::string value;
  if (!systemOption("THREADS", value)) return false;
  while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.pop_back();
  for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return !(value.empty() || value == "0" || value == "NO" || value == "OFF" || value == "FALSE" ||
           value == "NOTHREADS");
}

double Host::cpuCount() {
  std::string value;
  if (!systemOption("CPUCOUNT", value)) return zul_missing();
  char* end = nullptr;
  const double v = std::strtod(value.c_str(), &end);
  return end == value.c_str() ? zul_missing() : v;
}

void Host::logLine(int level, std::string_view text) {
  if (auto f = lookup<zul_log_line_fn>(sv_, ZUL_LOG_LINE))
    f(level, text.data(), static_cast<int32_t>(text.size()));
}

void Host::logText(std::string_view text) {
  if (auto f = lookup<zul_log_text_fn>(sv_, ZUL_LOG_TEXT))
    f(text.data(), static_cast<int32_t>(text.size()));
}

std::string Host::nameFromPrefix(std::string_view prefix, int number, int width) {
  auto f = lookup<zul_name_from_prefix_fn>(sv_, ZUL_NAME_FROM_PREFIX);
  if (!f || width < 1) return {};
  std::string out(static_cast<size_t>(width) + 1, '\0');
  int32_t n = f(prefix.data(), static_cast<int32_t>(prefix.size()), number, width, out.data());
  out.resize(n < 0 ? 0 : static_cast<size_t>(std::min(n, width)));
  return out;
}

std::string Host::nameFit(std::string_view name, int width) {
  auto f = lookup<zul_name_fit_fn>(sv_, ZUL_NAME_FIT);
  if (!f || width < 1) return {};
  std::string out(static_cast<size_t>(width) + 1, '\0');
  int32_t n = f(name.data(), static_cast<int32_t>(name.size()), width, out.data());
  out.resize(n < 0 ? 0 : static_cast<size_t>(std::min(n, width)));
  return out;
}

const char* Host::hostString(std::string_view text) {
  auto f = lookup<zul_hstring_chars_fn>(sv_, ZUL_HSTRING_CHARS);
  return f ? f(text.data(), static_cast<int32_t>(text.size())) : nullptr;
}

const char* Host::hostString(int group, int number) {
  auto f = lookup<zul_hstring_msg_fn>(sv_, ZUL_HSTRING_MSG);
  return f ? f(group, number) : nullptr;
}

int Host::catalogNote(uint32_t id, Args args) {
  const zul_toolkit* tk = toolkit();
  if (!tk || !tk->catalogFetch || !tk->catalogLog) return kCodeEngine;
  std::string text;
  if (int rc = catalog_text::fetchCatalogText(*this, tk, id, args, text)) return rc;
  return catalog_text::writeCatalogLine(tk, catalog_text::prefixLevel(text),
                                        catalog_text::withoutPrefix(text));
}

// ---- tables ----

int Host::nextByGroup(zul_table* input) {
  auto f = lookup<zul_next_by_group_fn>(sv_, ZUL_NEXT_BY_GROUP);
  return f ? f(input) : -1;
}

int Host::byCompare(zul_table* input, zul_table* target) {
  auto f = lookup<zul_by_compare_fn>(sv_, ZUL_BY_COMPARE);
  return f ? f(input, target) : -1;
}

void Host::byList(zul_table* table, int code) {
  if (auto f = lookup<zul_by_list_fn>(sv_, ZUL_BY_LIST)) f(table, code);
}

int Host::bySyncMode(zul_table* input, zul_table* target) {
  auto f = lookup<zul_by_sync_mode_fn>(sv_, ZUL_BY_SYNC_MODE);
  return f ? f(input, target) : -1;
}

int Host::getAttribute(zul_table* table, int attribute, void* cell) {
  auto f = lookup<zul_attribute_fn>(sv_, ZUL_ATTRIBUTE);
  return f ? f(table, attribute, cell) : -1;
}

int Host::setAttribute(zul_table* table, int attribute, const void* value) {
  auto f = lookup<zul_attribute_fn>(sv_, ZUL_ATTRIBUTE);
  return f ? f(table, attribute, const_cast<void*>(value)) : -1;
}

std::string Host::tableType(zul_table* table) {
  char cell[9];
  std::memset(cell, ' ', 8);
  cell[8] = '\0';
  if (getAttribute(table, ZUL_ATTR_TYPE, cell) != 0) std::memset(cell, ' ', 8);
  std::string type(cell, 8);
  for (char& c : type)
    if (c == '\0') c = ' ';
  return type;
}

std::string Host::tableTypeText(zul_table* table) {
  char cell[256] = {0};
  if (getAttribute(table, ZUL_ATTR_TYPE_TEXT, cell) != 0) {
    std::string type = tableType(table);
    while (!type.empty() && type.back() == ' ') type.pop_back();
    return type;
  }
  cell[255] = '\0';
  return cell;
}

int64_t Host::recordLine(zul_table* table) {
  int64_t line = 0;
  return getAttribute(table, ZUL_ATTR_RECORD_LINE, &line) == 0 ? line : 0;
}

std::string Host::byDescription(zul_table* table, int attribute) {
  char cell[256] = {0};
  if (getAttribute(table, attribute, cell) != 0) return {};
  cell[255] = '\0';
  return cell;
}

std::string Host::displayName(zul_table* table) {
  char cell[256] = {0};
  if (getAttribute(table, ZUL_ATTR_DISPLAY_NAME, cell) != 0 || cell[0] == '\0') return tableName(table);
  cell[255] = '\0';
  return cell;
}

std::string Host::tableName(zul_table* table) {
  char lib[33] = {0}, member[33] = {0};
  getAttribute(table, ZUL_ATTR_LIBRARY, lib);
  getAttribute(table, ZUL_ATTR_MEMBER, member);
  lib[32] = member[32] = '\0';
  std::string name(lib);
  if (!name.empty()) name += '.';
  return name + member;
}

int Host::varCount(zul_table* table) {
  auto f = lookup<zul_var_count_fn>(sv_, ZUL_VAR_COUNT);
  return f ? f(table) : 0;
}

int Host::varNumber(zul_table* table, std::string_view name) {
  auto f = lookup<zul_var_number_fn>(sv_, ZUL_VAR_NUMBER);
  return f ? f(table, name.data(), static_cast<int32_t>(name.size())) : 0;
}

int Host::varDesc(zul_table* table, int number, zul_var_desc& out) {
  auto f = lookup<zul_var_desc_fn>(sv_, ZUL_VAR_DESC);
  return f ? f(table, number, &out) : -1;
}

zul_readlist* Host::readListCreate(zul_table* table, int count) {
  auto f = lookup<zul_readlist_create_fn>(sv_, ZUL_READLIST_CREATE);
  return f ? f(table, count) : nullptr;
}

int Host::readListBind(zul_readlist* list, int slot, int varNumber, bool isCharacter,
                       int width) {
  auto f = lookup<zul_readlist_bind_fn>(sv_, ZUL_READLIST_BIND);
  return f ? f(list, slot, varNumber, isCharacter ? 1 : 0, width) : -1;
}

void Host::readListRelease(zul_readlist* list) {
  if (auto f = lookup<zul_readlist_release_fn>(sv_, ZUL_READLIST_RELEASE)) f(list);
}

int Host::readNext(zul_readlist* list, double* values, char* text, int& status) {
  auto f = lookup<zul_read_next_fn>(sv_, ZUL_READ_NEXT);
  if (!f) {
    status = -1;
    return 0;
  }
  int32_t st = 0;
  int32_t r = f(list, values, text, &st);
  status = st;
  return r;
}

int Host::readRecords(zul_readlist* list, double* values, int max, int& status) {
  auto f = lookup<zul_read_records_fn>(sv_, ZUL_READ_RECORDS);
  if (!f) return -1;
  int32_t st = 0;
  const int32_t got = f(list, values, max, &st);
  status = st;
  return got;
}

bool Host::dbTableInfo(zul_table* table, zul_db_table_info& info) {
  info = zul_db_table_info{};
  auto f = lookup<zul_db_table_info_fn>(sv_, ZUL_DB_TABLE_INFO);
  return f && table && f(table, &info) == 0 && info.dialect != ZUL_DB_NONE;
}

zul_table* Host::dbQueryTable(zul_table* table, std::string_view sql, const char* member) {
  auto f = lookup<zul_db_query_table_fn>(sv_, ZUL_DB_QUERY_TABLE);
  return f ? f(table, sql.data(), static_cast<int32_t>(sql.size()), member) : nullptr;
}

int Host::dbExecute(zul_table* table, std::string_view sql, double& rows) {
  auto f = lookup<zul_db_execute_fn>(sv_, ZUL_DB_EXECUTE);
  rows = 0;
  return f ? f(table, sql.data(), static_cast<int32_t>(sql.size()), &rows) : -1;
}

int Host::dbDescribe(zul_table* table, std::string_view sql, int32_t* codes, int count) {
  auto f = lookup<zul_db_describe_fn>(sv_, ZUL_DB_DESCRIBE);
  return f ? f(table, sql.data(), static_cast<int32_t>(sql.size()), codes, count) : -1;
}

int Host::rewind(zul_table* input) {
  auto f = lookup<zul_rewind_fn>(sv_, ZUL_REWIND);
  return f ? f(input, 0x42) : -1;
}

void Host::threadedRead(zul_table* table, bool on) {
  if (auto f = lookup<zul_threaded_read_fn>(sv_, ZUL_THREADED_READ)) f(table, on ? 1 : 0);
}

int Host::declareColumn(zul_table* out, const zul_column_desc& column) {
  auto f = lookup<zul_declare_column_fn>(sv_, ZUL_DECLARE_COLUMN);
  return f ? f(out, &column) : -1;
}

int Host::copyByColumns(zul_table* out, zul_table* input) {
  auto f = lookup<zul_copy_by_columns_fn>(sv_, ZUL_COPY_BY_COLUMNS);
  return f ? f(out, input) : -1;
}

int Host::copyAllColumns(zul_table* out, zul_table* input) {
  auto f = lookup<zul_copy_all_columns_fn>(sv_, ZUL_COPY_ALL_COLUMNS);
  return f ? f(out, input) : -1;
}

int Host::columnsDone(zul_table* out) {
  auto f = lookup<zul_columns_done_fn>(sv_, ZUL_COLUMNS_DONE);
  return f ? f(out) : -1;
}

int Host::appendRow(zul_table* out, const double* values, const char* const* texts) {
  auto f = lookup<zul_append_row_fn>(sv_, ZUL_APPEND_ROW);
  return f ? f(out, values, texts) : -1;
}

// ---- work file ----

int Host::workOpen(zul_workfile& file) {
  auto f = lookup<zul_wf_open_fn>(sv_, ZUL_WF_OPEN);
  return f ? f(&file) : -1;
}

int Host::workPosition(zul_workfile& file, int64_t key) {
  auto f = lookup<zul_wf_position_fn>(sv_, ZUL_WF_POSITION);
  return f ? f(&file, key) : -1;
}

int Host::workWrite(zul_workfile& file, const void* buffer, int64_t bytes, int64_t& key) {
  auto f = lookup<zul_wf_write_fn>(sv_, ZUL_WF_WRITE);
  return f ? f(&file, buffer, bytes, &key) : -1;
}

int Host::workRead(zul_workfile& file, void* buffer, int64_t bytes) {
  auto f = lookup<zul_wf_read_fn>(sv_, ZUL_WF_READ);
  return f ? f(&file, buffer, bytes) : -1;
}

int Host::workClose(zul_workfile& file, int how) {
  auto f = lookup<zul_wf_close_fn>(sv_, ZUL_WF_CLOSE);
  return f ? f(&file, how) : -1;
}

// ---- memory ----

void* Host::alloc(double bytes, uint32_t flags) {
  // Sizes are computed in double precision by the callers so that an
  // overflowing product is caught here instead of wrapping.
  if (!(bytes >= 0.0) || bytes >= 2147483647.0 || !sv_) return nullptr;
  auto pool = static_cast<const zul_pool*>(sv_[ZUL_SV_POOL]);
  if (!pool || !pool->alloc) return nullptr;
  return pool->alloc(static_cast<size_t>(bytes), flags);
}

void Host::release(void* block) {
  if (!block || !sv_) return;
  auto pool = static_cast<const zul_pool*>(sv_[ZUL_SV_POOL]);
  if (pool && pool->release) pool->release(block, 0, 4);
}

double Host::availableMemory() {
  auto f = lookup<zul_available_memory_fn>(sv_, ZUL_AVAILABLE_MEMORY);
  return f ? f() : -1.0;
}

// ---- parsing and output ----

int Host::parse(const zul_grammar* grammar, uint32_t debugFlags, const zul_parsed** out) {
  auto f = lookup<zul_parse_fn>(sv_, ZUL_PARSE);
  return f ? f(grammar, debugFlags, out) : kCodeEngine;
}

int Host::sinkDispatch(void* object, int operation, int nAttributes, zul_attr* attributes) {
  auto f = lookup<zul_sink_dispatch_fn>(sv_, ZUL_SINK_DISPATCH);
  return f ? f(object, operation, nAttributes, attributes) : -1;
}

// ---- numerics and settings ----

int Host::sweep(double* packed, int pivot, int order, char* flags, const double* scale,
                double singular) {
  auto f = lookup<zul_sweep_fn>(sv_, ZUL_SWEEP);
  return f ? f(packed, pivot, order, flags, scale, singular) : -1;
}

double Host::namedSetting(const char* name) {
  auto f = lookup<zul_named_setting_fn>(sv_, ZUL_NAMED_SETTING);
  return f ? f(name) : zul_missing();
}

int Host::diagSwitch(const char* name) {
  auto f = lookup<zul_diag_switch_fn>(sv_, ZUL_DIAG_SWITCH);
  return f ? f(name) : 0;
}

int Host::nameCheck(std::string_view value) {
  auto f = lookup<zul_name_check_fn>(sv_, ZUL_NAME_CHECK);
  return f ? f(value.data(), static_cast<int32_t>(value.size())) : 2;
}

void Host::setMacro(const char* name, std::string_view value) {
  auto f = lookup<zul_macro_set_fn>(sv_, ZUL_MACRO_SET);
  if (!f) return;
  std::string v(value);
  f(name, v.c_str());
}

double Host::clock() {
  auto f = lookup<zul_clock_fn>(sv_, ZUL_CLOCK);
  return f ? f() : 0.0;
}

// ---- threads ----

zul_thread* Host::threadCreate(void (*start)(void*), void* arg) {
  auto f = lookup<zul_thread_create_fn>(sv_, ZUL_THREAD_CREATE);
  return f ? f(start, arg) : nullptr;
}

void Host::threadJoin(zul_thread* thread) {
  if (auto f = lookup<zul_thread_join_fn>(sv_, ZUL_THREAD_JOIN)) f(thread);
}

zul_event* Host::eventCreate() {
  auto f = lookup<zul_event_create_fn>(sv_, ZUL_EVENT_CREATE);
  return f ? f() : nullptr;
}

void Host::eventSet(zul_event* event) {
  if (auto f = lookup<zul_event_set_fn>(sv_, ZUL_EVENT_SET)) f(event);
}

void Host::eventReset(zul_event* event) {
  if (auto f = lookup<zul_event_reset_fn>(sv_, ZUL_EVENT_RESET)) f(event);
}

int Host::eventWaitAny(zul_event* const* events, int count) {
  auto f = lookup<zul_event_wait_any_fn>(sv_, ZUL_EVENT_WAIT_ANY);
  return f ? f(events, count) : -1;
}

void Host::eventDestroy(zul_event* event) {
  if (auto f = lookup<zul_event_destroy_fn>(sv_, ZUL_EVENT_DESTROY)) f(event);
}

}  // namespace zulfact
