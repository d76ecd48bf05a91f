// The host services, group by group, and the vector that hands them to
// the module. Every service catches what the host layers below throw: no
// exception crosses into module frames.
#include "zul/services/service_vector.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "sqlgen/put_format.hpp"
#include "zul/messages/messages.hpp"
#include "zul/services/db_services.hpp"
#include "zul/services/progress.hpp"
#include "zul/services/session.hpp"
#include "zul/services/sweep.hpp"
#include "zul/services/system.hpp"
#include "zul/services/threads.hpp"
#include "zul/services/workfile.hpp"
#include "zul/table/db_connection.hpp"

struct zul_extension {
  void* handle;
};

namespace zul::services {

namespace {

namespace msg = zul::messages;

SinkDispatch g_sink;
PrintWriter g_print;
std::function<std::string(int32_t)> g_statusProvider;

StepContext* currentStep() { return session().step; }

// A host service that failed: the step is told through the status it
// returns, and the runner through hostErrors (a step that goes on as if
// nothing failed is stopped).
void logError(const std::string& text) {
  msg::writeLogLine(ZUL_LOG_ERROR, text);
  if (StepContext* st = currentStep()) ++st->hostErrors;
}

// A text handed over by the module as pointer and length: length -1 means
// "up to the NUL". Any other negative length, or a length without text, is
// a fault of the caller: false, with the fault logged once per service and
// kind (so that a module in a loop does not flood the log), and out empty.
bool textArg(const char* service, const char* text, int32_t length, std::string_view& out) {
  out = {};
  if (length == -1) {
    if (text) out = std::string_view(text);
    return true;
  }
  if (length >= 0 && (text || length == 0)) {
    if (text) out = std::string_view(text, static_cast<size_t>(length));
    return true;
  }
  static std::mutex mutex;
  static std::set<std::string> reported;
  std::lock_guard<std::mutex> lock(mutex);
  if (reported.insert(std::string(service) + (text ? " length" : " null")).second)
    logError(std::string("The host service ") + service + " was given " +
             (text ? "the text length " + std::to_string(length) : std::string("no text")) +
             "; the request is refused.");
  return false;
}

std::string trimmed(const char* text, int32_t length) {
  std::string_view v;
  if (!textArg("name lookup", text, length, v)) return {};
  std::string s(v);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

int32_t copyOut(const std::string& text, char* buffer, int32_t size) {
  if (buffer && size > 0) {
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(text.size());
}

// Ownership first: a pointer that is not one of the step's tables must not
// be read.
bool isInput(const zul_table* t) { return t && session().owns(t) && t->input; }
bool isOutput(const zul_table* t) { return t && session().owns(t) && t->output; }

// ---- message trace ----
// With ZUL_MESSAGE_TRACE set to a file name, every numbered message and
// catalog identifier the module issues is appended to that file, one
// "group/number" or "0x83BFxxxx" a line: how the tests find out which
// messages they reach (scripts/message-coverage).
std::mutex g_traceMutex;

void trace(const std::string& what) {
  static const char* file = std::getenv("ZUL_MESSAGE_TRACE");
  if (!file || !*file) return;
  std::lock_guard<std::mutex> lock(g_traceMutex);
  if (FILE* f = std::fopen(file, "a")) {
    std::fprintf(f, "%s\n", what.c_str());
    std::fclose(f);
  }
}

void svcMessage(int32_t group, int32_t number, const zul_arg* args, int32_t nArgs) {
  trace(std::to_string(group) + "/" + std::to_string(number));
  msg::message(group, number, args, nArgs);
}

int32_t svcCatalogFetch(uint32_t id, const zul_arg* args, int32_t nArgs, char* buffer,
                        int32_t size) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", id);
  trace(hex);
  return msg::catalogFetch(id, args, nArgs, buffer, size);
}

// ---- group 0: the trampoline's target ----

void* hostPing(void*, void*, void*, void*) { return nullptr; }

// ---- group 39 ----

// Records the end of the step for the runner and runs the module's
// clean-up handler (once), while the procedure's frame and the ProcState it
// finds through its slot are still alive; then returns, and the module
// returns from its procedure entry. A handler that itself ends the step
// only adds its code (the higher one is kept).
void svcEndStep(int32_t code, int32_t second) {
  StepContext* st = currentStep();
  if (!st) return;
  if (!st->ended || code > st->completionCode) {
    st->completionCode = code;
    st->second = second;
  }
  st->ended = true;
  if (st->termination && !st->terminationRan) {
    st->terminationRan = true;
    st->termination();
  }
}

void svcStatusReport(int32_t, int32_t status) {
  std::string text = statusText(status);
  if (!text.empty()) logError(text);
}

void svcTermination(void (*routine)(void), void** /*cell*/) {
  if (StepContext* st = currentStep()) st->termination = routine;
}

void** svcStepSlot(int32_t index) {
  StepContext* st = currentStep();
  if (!st || index < 0 || index >= ZUL_STEP_SLOTS) return nullptr;
  return &st->slots[static_cast<size_t>(index)];
}

int32_t svcSystemOption(const char* name, int32_t length, char* buffer, int32_t size) {
  auto v = session().options.get(trimmed(name, length));
  if (!v) return -1;
  return copyOut(*v, buffer, size);
}

// A module's line of its own may hold a name or value from the data (a
// variable name under VALIDVARNAME=ANY, a table name): a line feed in it
// must not start a new log line, nor an ESC reach the terminal raw.
void svcLogLine(int32_t level, const char* text, int32_t length) {
  std::string_view v;
  if (textArg("39/89 (log line)", text, length, v)) msg::writeLogLine(level, v);
}

bool validStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool validRest(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// A valid name of at most width characters: characters that cannot be in
// a name become '_', and a name that would start with a digit gets '_'.
std::string makeName(std::string name, int32_t width) {
  for (char& c : name)
    if (!validRest(c)) c = '_';
  if (name.empty() || !validStart(name[0])) name.insert(name.begin(), '_');
  if (static_cast<int32_t>(name.size()) > width) name.resize(static_cast<size_t>(width));
  return name;
}

int32_t svcNameFromPrefix(const char* prefix, int32_t prefixLength, int32_t number,
                          int32_t width, char* out) {
  if (!out || width < 1) return -1;
  std::string digits = std::to_string(number);
  std::string p = trimmed(prefix, prefixLength);
  // The number is kept whole; the prefix gives way.
  if (static_cast<int32_t>(digits.size()) >= width) p.clear();
  else if (static_cast<int32_t>(p.size() + digits.size()) > width)
    p.resize(static_cast<size_t>(width) - digits.size());
  std::string name = makeName(p + digits, width);
  std::memcpy(out, name.c_str(), name.size() + 1);
  return static_cast<int32_t>(name.size());
}

int32_t svcNameFit(const char* name, int32_t length, int32_t width, char* out) {
  if (!out || width < 1) return -1;
  std::string n = makeName(trimmed(name, length), width);
  std::memcpy(out, n.c_str(), n.size() + 1);
  return static_cast<int32_t>(n.size());
}

// ---- group 206 ----

// One line too (the SQL echo, a trace line): a quoted column name holding a
// line feed must not split the statement shown.
void svcLogText(const char* text, int32_t length) {
  std::string_view v;
  if (textArg("log text", text, length, v)) msg::writeLogLine(ZUL_LOG_PLAIN, v);
}

// ---- group 329 ----

const char* svcHstringMsg(int32_t group, int32_t number) {
  return session().keep(msg::text(group, number));
}

const char* svcHstringMsg1(int32_t group, int32_t number, const zul_arg* arg) {
  return session().keep(msg::text(group, number, arg, arg ? 1 : 0));
}

const char* svcHstringChars(const char* text, int32_t length) {
  std::string_view v;
  if (!textArg("host string", text, length, v)) return nullptr;
  return session().keep(std::string(v));
}

// ---- group 212: tables ----

int32_t svcNextByGroup(zul_table* input) {
  if (!isInput(input)) return -1;
  try {
    int32_t r = input->input->nextByGroup();
    StepContext* st = currentStep();
    const zul_table* data = st && st->parsed ? st->parsed->record()->tables[ZUL_DS_DATA] : nullptr;
    const bool isData = data && (data == input || input->groupsOf == data);
    if (isData) msg::setByGroup(r >= 1 ? input->input->byDescription() : std::string());
    // DATA= is in the group its crossproducts table has entered.
    if (r >= 1 && input->groupsOf && input->groupsOf->input)
      input->groupsOf->input->takeGroupOf(*input->input);
    if (r >= 1 && isData && session().onByGroup) session().onByGroup(input);
    return r;
  } catch (const table::ByOrderError& e) {
    logError(msg::format("%@{BY}", nullptr, 0) + msg::printableLine(e.what()));
    return -1;
  } catch (const std::exception& e) {
    logError(e.what());
    return -1;
  }
}

int32_t svcByCompare(zul_table* input, zul_table* target) {
  if (!isInput(input) || !isInput(target)) return 2;
  try {
    return table::syncByGroup(*input->input, *target->input);
  } catch (const table::ByOrderError& e) {
    logError(msg::format("%@{BY}", nullptr, 0) + msg::printableLine(e.what()));
    return 2;
  } catch (const std::exception& e) {
    logError(e.what());
    return 2;
  }
}

void svcByList(zul_table* t, int32_t /*code*/) {
  if (!isInput(t) || t->byListed) return;
  t->byListed = true;
  const auto& by = t->input->by().variables;
  std::string text = "The table " + t->input->displayName();
  if (by.empty()) {
    text += " has no BY groups of its own; it is used whole for every BY group.";
  } else {
    text += " is used for every BY group by its group " +
            msg::printableLine(t->input->byDescription()) + ".";
  }
  msg::writeLog(ZUL_LOG_NOTE, text);
}

int32_t svcBySyncMode(zul_table* input, zul_table* target) {
  if (!isInput(input) || !isInput(target)) return 2;
  try {
    int mode = table::bySyncMode(*input->input, *target->input);
    if (mode == 0 && !input->input->by().variables.empty()) {
      table::BySpec by = input->input->by();
      target->input->setBy(by);
    }
    return mode;
  } catch (const std::exception& e) {
    logError(e.what());
    return 1;
  }
}

// An input whose database server has gone cannot be read; said once.
bool serverLost(zul_table* t) {
  const table::db::Connection* conn = t->input->ref().database.get();
  if (!conn || !conn->lost()) return false;
  if (!t->lossReported)
    logError(conn->describe() +
             ": the connection to the server was lost; run the program again when the server "
             "can be reached");
  t->lossReported = true;
  return true;
}

void copyName(char* cell, size_t size, const std::string& text) {
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(cell, text.data(), n);
  cell[n] = '\0';
}

int32_t svcAttribute(zul_table* t, int32_t attribute, void* cell) {
  if (!t || !session().owns(t)) return 1;
  try {
    switch (attribute) {
      case ZUL_ATTR_LIBRARY: {
        const auto& ref = t->input ? t->input->ref() : t->output->ref();
        copyName(static_cast<char*>(cell), 33, ref.library);
        return 0;
      }
      case ZUL_ATTR_MEMBER: {
        const auto& ref = t->input ? t->input->ref() : t->output->ref();
        std::string m = ref.member;
        for (char& c : m) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        copyName(static_cast<char*>(cell), 33, m);
        return 0;
      }
      case ZUL_ATTR_BYDESC:
      case ZUL_ATTR_BYDESC_TARGET:
        if (!t->input) return 1;
        // For the module's log lines: a BY value may hold a line feed.
        copyName(static_cast<char*>(cell), 256, msg::printableLine(t->input->byDescription()));
        return 0;
      case ZUL_ATTR_TYPE: {
        std::string type = t->input ? t->input->type8() : t->output->type();
        type.resize(8, ' ');
        std::memcpy(cell, type.data(), 8);
        static_cast<char*>(cell)[8] = '\0';
        return 0;
      }
      case ZUL_ATTR_TYPE_TEXT:
        // The whole TYPE, so that a message can quote a mistyped one as given.
        copyName(static_cast<char*>(cell), 256, t->input ? t->input->type() : t->output->type());
        return 0;
      case ZUL_ATTR_DISPLAY_NAME:
        copyName(static_cast<char*>(cell), 256,
                 t->input ? t->input->displayName() : t->output->displayName());
        return 0;
      case ZUL_ATTR_RECORD_LINE:
        if (!t->input) return 1;
        *static_cast<int64_t*>(cell) = t->input->hasRecord() ? t->input->recordLine() : 0;
        return 0;
      case ZUL_ATTR_CURRENT_REF:
        if (!t->input) return 1;
        *static_cast<zul_table**>(cell) = t;
        return 0;
      case ZUL_ATTR_SET_TYPE:
        if (!t->output || !cell) return 1;
        t->output->setType(static_cast<const char*>(cell));
        return 0;
      case ZUL_ATTR_SET_LABEL:
        if (!t->output || !cell) return 1;
        t->output->setLabel(static_cast<const char*>(cell));
        return 0;
      case ZUL_ATTR_SET_NO_RESULT:
        if (!t->output) return 1;
        t->noResult = true;
        return 0;
      case ZUL_ATTR_READABLE:
        *static_cast<int32_t*>(cell) = t->input && !serverLost(t) ? 1 : 0;
        return 0;
      default:
        return 1;
    }
  } catch (const std::exception& e) {
    logError(e.what());
    return 1;
  }
}

const std::vector<table::Column>* columnsOf(zul_table* t) {
  if (!t || !session().owns(t)) return nullptr;
  if (t->input) return &t->input->columns();
  if (t->output) return &t->output->columns();
  return nullptr;
}

int32_t svcVarCount(zul_table* t) {
  auto* cols = columnsOf(t);
  return cols ? static_cast<int32_t>(cols->size()) : 0;
}

int32_t svcVarNumber(zul_table* t, const char* name, int32_t length) {
  auto* cols = columnsOf(t);
  if (!cols || !name) return 0;
  std::string n = trimmed(name, length);
  for (size_t i = 0; i < cols->size(); ++i)
    if (table::sameName((*cols)[i].name, n)) return static_cast<int32_t>(i + 1);
  return 0;
}

int32_t svcVarDesc(zul_table* t, int32_t number, zul_var_desc* out) {
  auto* cols = columnsOf(t);
  if (!cols || !out || number < 1 || number > static_cast<int32_t>(cols->size())) return 1;
  const table::Column& c = (*cols)[static_cast<size_t>(number - 1)];
  std::memset(out, 0, sizeof *out);
  copyName(out->name, sizeof out->name, c.name);
  copyName(out->label, sizeof out->label, c.label);
  out->type = c.isCharacter() ? 2 : 1;
  out->width = c.width;
  if (const auto f = sqlgen::parsePutFormat(c.format)) {
    copyName(out->formatName, sizeof out->formatName, f->character ? "$" : "");
    out->formatWidth = f->width;
    out->formatDecimals = f->decimals;
  }
  return 0;
}

zul_readlist* svcReadListCreate(zul_table* t, int32_t count) {
  StepContext* st = currentStep();
  if (!st || !isInput(t) || count < 0) return nullptr;
  try {
    auto rl = std::make_unique<zul_readlist>();
    rl->list = std::make_unique<table::ReadList>(*t->input, count);
    rl->table = t;
    st->readLists.push_back(std::move(rl));
    return st->readLists.back().get();
  } catch (const std::exception& e) {
    logError(e.what());
    return nullptr;
  }
}

bool ownsList(zul_readlist* list) {
  StepContext* st = currentStep();
  if (!st || !list) return false;
  for (const auto& l : st->readLists)
    if (l.get() == list) return true;
  return false;
}

int32_t svcReadListBind(zul_readlist* list, int32_t slot, int32_t varNumber, int32_t isCharacter,
                        int32_t width) {
  if (!ownsList(list)) return 1;
  try {
    list->list->bind(slot, varNumber, isCharacter != 0, width);
    return 0;
  } catch (const std::exception& e) {
    logError(e.what());
    return 1;
  }
}

void svcReadListRelease(zul_readlist* list) {
  StepContext* st = currentStep();
  if (!st || !list) return;
  auto& v = st->readLists;
  v.erase(std::remove_if(v.begin(), v.end(), [&](const auto& l) { return l.get() == list; }),
          v.end());
}

constexpr int kMaxRemarksPerTable = 10;

// Logs the remark of the record just read, up to kMaxRemarksPerTable
// per table and each once; true when there was one.
bool logRemark(zul_readlist* list) {
  const std::string& remark = list->list->remark();
  if (remark.empty()) return false;
  zul_table* t = list->table;
  std::vector<std::string>& logged = t->remarksLogged;
  if (std::find(logged.begin(), logged.end(), remark) != logged.end()) return true;
  if (t->remarks < kMaxRemarksPerTable) {
    msg::writeLog(ZUL_LOG_WARNING, msg::printableLine(remark));  // it quotes a data value
    logged.push_back(remark);
  } else if (t->remarks == kMaxRemarksPerTable) {
    msg::writeLog(ZUL_LOG_WARNING,
                  "Further remarks about " + t->input->displayName() + " are not shown.");
  }
  ++t->remarks;
  return true;
}

int32_t svcReadNext(zul_readlist* list, double* values, char* text, int32_t* status) {
  int32_t dummy = 0;
  if (!status) status = &dummy;
  if (!ownsList(list)) {
    *status = 1;
    return 0;
  }
  try {
    bool got = list->list->read(values, text);
    *status = got && logRemark(list) ? ZUL_READ_REMARK : 0;
    if (got && (++list->rowsRead & 255) == 0 && progress::enabled())
      progress::noteRead(list->rowsRead, list->table->input->bytePosition(),
                         list->table->input->byteSize());
    return got ? 1 : 0;
  } catch (const std::exception& e) {
    logError(e.what());
    *status = 1;
    return 0;
  }
}

int32_t svcReadRecords(zul_readlist* list, double* values, int32_t maxRecords, int32_t* status) {
  int32_t dummy = 0;
  if (!status) status = &dummy;
  *status = 0;
  if (!ownsList(list) || !values || maxRecords < 0 || list->list->textBytes() > 0) {
    *status = 1;
    return 0;
  }
  const size_t width = static_cast<size_t>(list->list->numericCount());
  int32_t got = 0;
  try {
    while (got < maxRecords) {
      const int n = list->list->readRun(values + width * static_cast<size_t>(got), maxRecords - got);
      if (n == 0) break;
      got += n;
      if (logRemark(list)) *status = ZUL_READ_REMARK;
    }
  } catch (const std::exception& e) {
    logError(e.what());
    *status = 1;
  }
  list->rowsRead += got;
  if (got > 0 && progress::enabled())
    progress::noteRead(list->rowsRead, list->table->input->bytePosition(),
                       list->table->input->byteSize());
  return got;
}

int32_t svcDeclareColumn(zul_table* out, const zul_column_desc* column) {
  if (!isOutput(out) || !column || !column->name || out->columnsLaidOut) return 1;
  table::Column c;
  c.name = column->name;
  c.label = column->label ? column->label : "";
  c.type = column->isCharacter ? table::ColumnType::Character : table::ColumnType::Numeric;
  c.width = column->isCharacter ? std::max(1, column->width) : 8;
  if (c.name.empty()) return 1;
  for (const auto& p : out->pending)
    if (p.kind == zul_table::Pending::Kind::Declare && table::sameName(p.column.name, c.name)) {
      logError("The column " + c.name + " is declared twice for the table " +
               out->output->displayName() + ".");
      return 1;
    }
  out->pending.push_back({zul_table::Pending::Kind::Declare, c, nullptr});
  return 0;
}

int32_t svcCopyByColumns(zul_table* out, zul_table* input) {
  if (!isOutput(out) || !isInput(input) || out->columnsLaidOut) return 1;
  out->pending.push_back({zul_table::Pending::Kind::CopyBy, {}, input});
  return 0;
}

int32_t svcCopyAllColumns(zul_table* out, zul_table* input) {
  if (!isOutput(out) || !isInput(input) || out->columnsLaidOut) return 1;
  out->pending.push_back({zul_table::Pending::Kind::CopyAll, {}, input});
  return 0;
}

int32_t svcColumnsDone(zul_table* out) {
  if (!isOutput(out)) return 1;
  return layOutColumns(out);
}

int32_t svcAppendRow(zul_table* out, const double* values, const char* const* texts) {
  if (!isOutput(out)) return 1;
  if (!out->columnsLaidOut) {
    int32_t st = layOutColumns(out);
    if (st != 0) return st;
  }
  try {
    out->output->appendRow(values, texts);
    return 0;
  } catch (const std::exception& e) {
    logError(e.what());
    return ZUL_STATUS_LOGGED;
  }
}

// ---- group 40: parsing ----

int32_t svcParse(const zul_grammar* grammar, uint32_t debugFlags, const zul_parsed** out) {
  StepContext* st = currentStep();
  if (!st || !st->step || !grammar || !out) return 1012;
  class LogDiagnostics : public parse::Diagnostics {
   public:
    void write(Severity severity, const std::string& line) override {
      // The lines come complete with their severity word.
      (void)severity;
      msg::writeLogLine(ZUL_LOG_PLAIN, line);
    }
  } diagnostics;
  HostTableOpener opener;
  int status = 0;
  try {
    st->parsed = parse::parseStep(*st->step, *grammar, opener, diagnostics, status, debugFlags);
  } catch (const std::exception& e) {
    logError(std::string("The statement could not be parsed: ") + e.what());
    return 1000;
  }
  if (!st->parsed) return status ? status : 1000;
  *out = st->parsed->record();
  zul_table* data = st->parsed->record()->tables[ZUL_DS_DATA];
  // Formats first: BY groups are formed by the formatted values.
  if (status == 0 && data && data->input && !applyStepFormats(*st->step, *data->input))
    status = parse::kParseVariableError;
  // The BY statement decides how DATA= is read in groups.
  if (status == 0 && data && data->input && !st->parsed->byNames.empty()) {
    table::BySpec by;
    for (const auto& b : st->parsed->byNames) by.variables.push_back({b.name, b.descending});
    by.notSorted = st->parsed->byNotSorted;
    try {
      data->input->setBy(by);
    } catch (const std::exception& e) {
      logError(e.what());
      status = 1008;
    }
  }
  return status & 0xFFFF;
}

// ---- group 48 ----

int32_t svcWfOpen(zul_workfile* f) { return workOpen(f); }
int32_t svcWfPosition(zul_workfile* f, int64_t key) { return workPosition(f, key); }
int32_t svcWfWrite(zul_workfile* f, const void* b, int64_t n, int64_t* key) {
  return workWrite(f, b, n, key);
}
int32_t svcWfRead(zul_workfile* f, void* b, int64_t n) { return workRead(f, b, n); }
int32_t svcWfClose(zul_workfile* f, int32_t how) { return workClose(f, how); }

// ---- group 400 ----

int32_t svcSinkDispatch(void* object, int32_t operation, int32_t n, zul_attr* attributes) {
  if (!g_sink) return ZUL_SINK_UNKNOWN_OPERATION;
  try {
    return g_sink(object, operation, n, attributes);
  } catch (const std::exception& e) {
    logError(std::string("output: ") + e.what());
    return ZUL_SINK_BAD_REQUEST;
  }
}

int32_t svcSweep(double* packed, int32_t pivot, int32_t order, char* flags, const double* scale,
                 double singular) {
  return sweepPivot(packed, pivot, order, flags, scale, singular);
}

int32_t svcRewind(zul_table* input, int32_t /*code*/) {
  if (!isInput(input)) return 1;
  try {
    input->input->rewindGroup();
    return 0;
  } catch (const std::exception& e) {
    logError(e.what());
    return 1;
  }
}

double svcNamedSetting(const char* name) {
  if (!name) return zul_missing();
  auto v = session().options.named(name);
  return v ? *v : zul_missing();
}

int32_t svcDiagSwitch(const char* name) { return name ? session().options.switchLevel(name) : 0; }

// OPTIONS -zmemavail=N makes the host report N units (1000 bytes) as
// available, so that a program can reach the module's memory checks.
double svcAvailableMemory() {
  const int forced = session().options.switchLevel("-zmemavail");
  return forced > 0 ? forced : availableMemoryUnits();
}

// The procedure's message about _NAME_ values it cannot use counts them;
// the first of them is quoted here with its line of DATA=, so that it can
// be found and corrected. A blank _NAME_ is normal on rows that belong to
// no variable and is not quoted.
void quoteRefusedName(const std::string& value, int32_t kind) {
  StepContext* st = currentStep();
  if (kind == kNameOrdinary || !st || !st->parsed || st->nameCheckWarnings > 0) return;
  if (value.find_first_not_of(' ') == std::string::npos) return;
  const zul_table* data = st->parsed->record()->tables[ZUL_DS_DATA];
  if (!data || !data->input || !data->input->hasRecord()) return;
  ++st->nameCheckWarnings;
  std::string shown = value.substr(0, value.find_last_not_of(' ') + 1);
  msg::writeLog(ZUL_LOG_NOTE, "Table " + data->input->displayName() + ", line " +
                                  std::to_string(data->input->recordLine()) +
                                  ": the _NAME_ value \"" + msg::printableLine(shown) +
                                  "\" is not a usable variable name.");
}

int32_t svcNameCheck(const char* value, int32_t length) {
  std::string_view text;
  if (!textArg("_NAME_ check", value, length, text)) return kNameUnusable;
  std::string v(text);
  auto vvn = session().options.get("VALIDVARNAME");
  const int32_t kind = classifyName(v, vvn ? *vvn : "V7");
  quoteRefusedName(v, kind);
  return kind;
}

void svcMacroSet(const char* name, const char* value) {
  if (!name) return;
  session().options.setMacro(name, value ? value : "");
}

double svcClock() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

void svcThreadedRead(zul_table* t, int32_t on) {
  if (isInput(t)) t->input->setThreadedRead(on != 0);
}

// ---- memory pool (word 4) ----

void* poolAlloc(size_t bytes, uint32_t flags) {
  StepContext* st = currentStep();
  return st ? st->pool.alloc(bytes, flags) : nullptr;
}

void poolRelease(void* block, int32_t, int32_t) {
  if (StepContext* st = currentStep()) st->pool.release(block);
}

const zul_pool g_pool = {&poolAlloc, &poolRelease};

// ---- toolkit (word 82) ----

void toolkitPrint(const char* text, int32_t length) {
  std::string_view t;
  if (!textArg("toolkit print", text, length, t)) return;
  if (g_print) g_print(t);
  else msg::writeLog(ZUL_LOG_PLAIN, t);
}

void* extensionSymbol(zul_extension* ext, const char* symbol) {
  if (!ext || !ext->handle || !symbol) return nullptr;
  return ::dlsym(ext->handle, symbol);
}

void releaseExtension(zul_extension* ext) {
  if (!ext) return;
  if (ext->handle) ::dlclose(ext->handle);
  delete ext;
}

const zul_toolkit g_toolkit = {
    &svcCatalogFetch, &msg::catalogError, &msg::catalogLog, &toolkitPrint,
    &loadExtension,     &extensionSymbol,   &releaseExtension};

// ---- the tables ----

struct Vector {
  std::vector<std::array<zul_fn, ZUL_SLOTS_PER_GROUP>> slots;  // one per provided group
  std::array<zul_fn const*, ZUL_GROUP_COUNT> groups{};
  std::array<uint8_t, ZUL_GROUP_COUNT> used{};
  std::array<void*, ZUL_SV_WORDS> words{};

  template <class F>
  void put(int id, F f) {
    int group = id / 1000, slot = id % 1000;
    if (!groups[static_cast<size_t>(group)]) {
      slots.emplace_back();
      slots.back().fill(nullptr);
      groups[static_cast<size_t>(group)] = slots.back().data();
    }
    const_cast<zul_fn*>(groups[static_cast<size_t>(group)])[slot] = reinterpret_cast<zul_fn>(f);
  }

  Vector() {
    slots.reserve(16);  // the group arrays must not move once handed out
    put(ZUL_SVC(0, 1), &hostPing);
    put(ZUL_END_STEP, &svcEndStep);
    put(ZUL_STATUS_REPORT, &svcStatusReport);
    put(ZUL_TERMINATION, &svcTermination);
    put(ZUL_STEP_SLOT, &svcStepSlot);
    put(ZUL_MESSAGE, &svcMessage);
    put(ZUL_MESSAGE_TEXT, &msg::messageText);
    put(ZUL_MESSAGE_FORMAT, &msg::messageFormat);
    put(ZUL_SYSTEM_OPTION, &svcSystemOption);
    put(ZUL_LOG_LINE, &svcLogLine);
    put(ZUL_NAME_FROM_PREFIX, &svcNameFromPrefix);
    put(ZUL_NAME_FIT, &svcNameFit);
    put(ZUL_LOG_TEXT, &svcLogText);
    put(ZUL_HSTRING_MSG, &svcHstringMsg);
    put(ZUL_HSTRING_MSG1, &svcHstringMsg1);
    put(ZUL_HSTRING_CHARS, &svcHstringChars);
    put(ZUL_NEXT_BY_GROUP, &svcNextByGroup);
    put(ZUL_BY_COMPARE, &svcByCompare);
    put(ZUL_BY_LIST, &svcByList);
    put(ZUL_BY_SYNC_MODE, &svcBySyncMode);
    put(ZUL_ATTRIBUTE, &svcAttribute);
    put(ZUL_VAR_COUNT, &svcVarCount);
    put(ZUL_VAR_NUMBER, &svcVarNumber);
    put(ZUL_READLIST_CREATE, &svcReadListCreate);
    put(ZUL_READLIST_BIND, &svcReadListBind);
    put(ZUL_READLIST_RELEASE, &svcReadListRelease);
    put(ZUL_READ_NEXT, &svcReadNext);
    put(ZUL_DECLARE_COLUMN, &svcDeclareColumn);
    put(ZUL_COPY_BY_COLUMNS, &svcCopyByColumns);
    put(ZUL_COPY_ALL_COLUMNS, &svcCopyAllColumns);
    put(ZUL_COLUMNS_DONE, &svcColumnsDone);
    put(ZUL_APPEND_ROW, &svcAppendRow);
    put(ZUL_VAR_DESC, &svcVarDesc);
    put(ZUL_WF_OPEN, &svcWfOpen);
    put(ZUL_WF_POSITION, &svcWfPosition);
    put(ZUL_WF_WRITE, &svcWfWrite);
    put(ZUL_WF_READ, &svcWfRead);
    put(ZUL_WF_CLOSE, &svcWfClose);
    put(ZUL_PARSE, &svcParse);
    put(ZUL_SINK_DISPATCH, &svcSinkDispatch);
    put(ZUL_SWEEP, &svcSweep);
    put(ZUL_REWIND, &svcRewind);
    put(ZUL_NAMED_SETTING, &svcNamedSetting);
    put(ZUL_DIAG_SWITCH, &svcDiagSwitch);
    put(ZUL_AVAILABLE_MEMORY, &svcAvailableMemory);
    put(ZUL_THREAD_CREATE, &threadCreate);
    put(ZUL_THREAD_JOIN, &threadJoin);
    put(ZUL_EVENT_CREATE, &eventCreate);
    put(ZUL_EVENT_SET, &eventSet);
    put(ZUL_EVENT_RESET, &eventReset);
    put(ZUL_EVENT_WAIT_ANY, &eventWaitAny);
    put(ZUL_EVENT_DESTROY, &eventDestroy);
    put(ZUL_NAME_CHECK, &svcNameCheck);
    put(ZUL_MACRO_SET, &svcMacroSet);
    put(ZUL_CLOCK, &svcClock);
    put(ZUL_THREADED_READ, &svcThreadedRead);
    put(ZUL_READ_RECORDS, &svcReadRecords);
    put(ZUL_DB_TABLE_INFO, &svcDbTableInfo);
    put(ZUL_DB_QUERY_TABLE, &svcDbQueryTable);
    put(ZUL_DB_EXECUTE, &svcDbExecute);
    put(ZUL_DB_DESCRIBE, &svcDbDescribe);
    words[ZUL_SV_GROUPS] = groups.data();
    words[ZUL_SV_USED] = used.data();
    words[ZUL_SV_POOL] = const_cast<zul_pool*>(&g_pool);
    words[ZUL_SV_TOOLKIT] = const_cast<zul_toolkit*>(&g_toolkit);
  }
};

Vector& vector() {
  static Vector v;
  return v;
}

}  // namespace

void** serviceVector() { return vector().words.data(); }

uint8_t usedByte(int group) {
  if (group < 0 || group >= ZUL_GROUP_COUNT) return 0;
  return __atomic_load_n(&vector().used[static_cast<size_t>(group)], __ATOMIC_RELAXED);
}

void setSinkDispatch(SinkDispatch dispatch) { g_sink = std::move(dispatch); }
void setPrintWriter(PrintWriter writer) { g_print = std::move(writer); }

std::filesystem::path executableDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path();
  return exe.parent_path();
}

zul_extension* loadExtension(const wchar_t* name) {
  if (!name) return nullptr;
  std::string n;
  for (const wchar_t* p = name; *p; ++p) {
    wchar_t c = *p;
    bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
              c == L'_';
    if (!ok || n.size() >= 32) return nullptr;
    n += static_cast<char>(std::tolower(static_cast<int>(c)));
  }
  if (n.empty()) return nullptr;
  std::filesystem::path dir = session().moduleDirectory;
  if (dir.empty()) dir = executableDirectory();
  std::filesystem::path file = dir / ("lib" + n + ".so");
  void* h = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* why = ::dlerror();
    logError("The extension library " + file.string() + " could not be loaded" +
             (why ? std::string(": ") + why : std::string()) +
             ". It is built with zul; rebuild, or keep it beside the zul program.");
    return nullptr;
  }
  return new zul_extension{h};
}

bool loadModule(const std::filesystem::path& directory, Module& module, std::string& error) {
  std::filesystem::path file = directory / "libzulfact.so";
  void* h = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* why = ::dlerror();
    error = "The procedure module " + file.string() + " could not be loaded" +
            (why ? std::string(" (") + why + ")" : std::string()) +
            ". It is built with zul and must be beside the zul program.";
    return false;
  }
  auto mcn = reinterpret_cast<zul_mcn_main_fn>(::dlsym(h, ZUL_MCN_MAIN));
  if (!mcn) {
    error = file.string() + " is not a procedure module: it has no " ZUL_MCN_MAIN ".";
    ::dlclose(h);
    return false;
  }
  static zul_host_context context = {sizeof(zul_host_context), 0, "zul"};
  __builtin_cpu_init();
  context.processorFeatures = (__builtin_cpu_supports("sse2") ? 1u : 0u) |
                              (__builtin_cpu_supports("avx") ? 2u : 0u) |
                              (__builtin_cpu_supports("avx2") ? 4u : 0u) |
                              (__builtin_cpu_supports("fma") ? 8u : 0u);
  const zul_image_info* image = mcn(serviceVector(), &context);
  if (!image || std::memcmp(image->tag, ZUL_IMAGE_TAG, sizeof ZUL_IMAGE_TAG) != 0 ||
      image->magic != ZUL_IMAGE_MAGIC || image->count != ZUL_IMAGE_COUNT || !image->module ||
      !image->module->procedure) {
    error = file.string() + " returned no valid image information record.";
    ::dlclose(h);
    return false;
  }
  module.handle = h;
  module.image = image;
  module.procedure = image->module->procedure;
  return true;
}

void setStatusTextProvider(std::function<std::string(int32_t)> provider) {
  g_statusProvider = std::move(provider);
}

std::string statusText(int32_t status) {
  if (g_statusProvider) {
    std::string text = g_statusProvider(status);
    if (!text.empty()) return text;
  }
  switch (status) {
    case kWorkBadDescriptor:
      return "The work file was used without being opened (host status 1).";
    case kWorkCannotCreate:
      return "The work file could not be created; check that the temporary directory "
             "($TMPDIR or /tmp) exists and is writable (host status 2).";
    case kWorkIo:
      return "Reading or writing the work file failed; the disk may be full (host status 3).";
    case kWorkNoRecord:
      return "The work file has no such record (host status 4).";
    case kWorkTooLong:
      return "A read asked for more bytes than the work-file record holds (host status 5).";
    case -1:
      return "Out of memory: the host memory pool could not give a block (host status -1).";
    case ZUL_STATUS_LOGGED:
      return {};
    default:
      if (zul_sink_status_tolerated(status)) return {};
      return "The host reported status " + std::to_string(status) + ".";
  }
}

}  // namespace zul::services
