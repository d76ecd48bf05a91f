// The service vector as the module sees it: words, lookups by group and
// slot, and the services that depend on the step context.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zul/messages/messages.hpp"
#include "zul/services/service_vector.hpp"
#include "zul/services/session.hpp"
#include "zul/services/system.hpp"

namespace zs = zul::services;

namespace {

template <class F>
F svc(int id) {
  return reinterpret_cast<F>(zul_service(zs::serviceVector(), id / 1000, id % 1000));
}

TEST(ServiceVector, WordsAndEveryNumberedService) {
  void** sv = zs::serviceVector();
  ASSERT_NE(sv[ZUL_SV_GROUPS], nullptr);
  ASSERT_NE(sv[ZUL_SV_USED], nullptr);
  auto* pool = static_cast<const zul_pool*>(sv[ZUL_SV_POOL]);
  auto* tk = static_cast<const zul_toolkit*>(sv[ZUL_SV_TOOLKIT]);
  ASSERT_TRUE(pool && pool->alloc && pool->release);
  ASSERT_TRUE(tk && tk->catalogFetch && tk->catalogLog && tk->catalogError && tk->print &&
              tk->loadExtension && tk->extensionSymbol && tk->releaseExtension);
  for (int id : {ZUL_END_STEP, ZUL_STATUS_REPORT, ZUL_TERMINATION, ZUL_STEP_SLOT, ZUL_MESSAGE,
                 ZUL_MESSAGE_TEXT, ZUL_MESSAGE_FORMAT, ZUL_SYSTEM_OPTION, ZUL_LOG_LINE,
                 ZUL_NAME_FROM_PREFIX, ZUL_NAME_FIT, ZUL_LOG_TEXT, ZUL_HSTRING_MSG,
                 ZUL_HSTRING_MSG1, ZUL_HSTRING_CHARS, ZUL_NEXT_BY_GROUP, ZUL_BY_COMPARE,
                 ZUL_BY_LIST, ZUL_BY_SYNC_MODE, ZUL_ATTRIBUTE, ZUL_VAR_COUNT, ZUL_VAR_NUMBER,
                 ZUL_READLIST_CREATE, ZUL_READLIST_BIND, ZUL_READLIST_RELEASE, ZUL_READ_NEXT,
                 ZUL_DECLARE_COLUMN, ZUL_COPY_BY_COLUMNS, ZUL_COPY_ALL_COLUMNS,
                 ZUL_COLUMNS_DONE, ZUL_APPEND_ROW, ZUL_VAR_DESC, ZUL_WF_OPEN, ZUL_WF_POSITION,
                 ZUL_WF_WRITE, ZUL_WF_READ, ZUL_WF_CLOSE, ZUL_PARSE, ZUL_SINK_DISPATCH,
                 ZUL_SWEEP, ZUL_REWIND, ZUL_NAMED_SETTING, ZUL_DIAG_SWITCH,
                 ZUL_AVAILABLE_MEMORY, ZUL_THREAD_CREATE, ZUL_THREAD_JOIN, ZUL_EVENT_CREATE,
                 ZUL_EVENT_SET, ZUL_EVENT_RESET, ZUL_EVENT_WAIT_ANY, ZUL_EVENT_DESTROY,
                 ZUL_NAME_CHECK, ZUL_MACRO_SET, ZUL_CLOCK, ZUL_THREADED_READ}) {
    EXPECT_NE(zul_service(sv, id / 1000, id % 1000), nullptr) << id;
    EXPECT_EQ(zs::usedByte(id / 1000), 1) << id;  // the lookup marks the group
  }
  EXPECT_EQ(zul_service(sv, 39, 5), nullptr);  // not a service
  EXPECT_EQ(zul_service(sv, 7, 1), nullptr);   // not a group
  EXPECT_EQ(zul_service(sv, ZUL_GROUP_COUNT, 1), nullptr);
}

TEST(ServiceVector, NamesFromPrefixesAndNamesCut) {
  auto fromPrefix = svc<zul_name_from_prefix_fn>(ZUL_NAME_FROM_PREFIX);
  auto fit = svc<zul_name_fit_fn>(ZUL_NAME_FIT);
  char out[33];
  EXPECT_EQ(fromPrefix("Factor", 6, 12, 8, out), 8);
  EXPECT_STREQ(out, "Factor12");
  // The number stays whole; the prefix gives way.
  EXPECT_EQ(fromPrefix("Factor", 6, 123, 8, out), 8);
  EXPECT_STREQ(out, "Facto123");
  EXPECT_EQ(fit("my var", -1, 5, out), 5);
  EXPECT_STREQ(out, "my_va");
  EXPECT_EQ(fit("2nd", 3, 8, out), 4);
  EXPECT_STREQ(out, "_2nd");
}

// A module's own line may hold a name from the data: it stays one log line,
// and an ESC cannot reach a terminal raw.
TEST(ServiceVector, LogLinesStayOneLineWhateverTheyHold) {
  std::vector<std::string> lines;
  zul::messages::setLogWriter([&](int, std::string_view l) {
    lines.emplace_back(l);
    return true;
  });
  const std::string name = "Variable a\nb\r\x1b[31m c\td";
  svc<zul_log_line_fn>(ZUL_LOG_LINE)(ZUL_LOG_ERROR, name.data(),
                                     static_cast<int32_t>(name.size()));
  const std::string sql = "select \"a\nb\" from \"t\"";
  svc<zul_log_text_fn>(ZUL_LOG_TEXT)(sql.data(), static_cast<int32_t>(sql.size()));
  zul::messages::setLogWriter(nullptr);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR: Variable a\\x0Ab\\x0D\\x1B[31m c\\x09d");
  EXPECT_EQ(lines[1], "select \"a\\x0Ab\" from \"t\"");
}

TEST(ServiceVector, OptionsSettingsAndMacros) {
  auto option = svc<zul_system_option_fn>(ZUL_SYSTEM_OPTION);
  char buf[4];
  // The value is cut to the buffer; the full length comes back.
  int32_t n = option("VALIDVARNAME", 12, buf, sizeof buf);
  EXPECT_EQ(n, 2);
  EXPECT_STREQ(buf, "V7");
  EXPECT_EQ(option("NOSUCHOPTION", 12, buf, sizeof buf), -1);
  auto named = svc<zul_named_setting_fn>(ZUL_NAMED_SETTING);
  EXPECT_TRUE(zul_is_missing(named("zacorr_threads")));
  EXPECT_TRUE(zs::session().options.setNamed("zacorr_threads", "3").empty());
  EXPECT_EQ(named("ZACORR_THREADS"), 3.0);
  svc<zul_macro_set_fn>(ZUL_MACRO_SET)("SYSRANEND", "12345");
  EXPECT_EQ(zs::session().options.macro("sysranend").value(), "12345");
}

void cleanup() {
  void** slot = reinterpret_cast<zul_step_slot_fn>(
      zul_service(zs::serviceVector(), 39, 121))(ZUL_SLOT_PROCSTATE);
  if (slot && *slot) *static_cast<int*>(*slot) += 1;
}

TEST(ServiceVector, StepSlotsPoolAndTheExitService) {
  auto slot = svc<zul_step_slot_fn>(ZUL_STEP_SLOT);
  auto* pool = static_cast<const zul_pool*>(zs::serviceVector()[ZUL_SV_POOL]);
  // Outside a step there is no slot and no memory.
  EXPECT_EQ(slot(0), nullptr);
  EXPECT_EQ(pool->alloc(16, 0x3006), nullptr);
  zs::StepContext step;
  zs::session().step = &step;
  void** s0 = slot(ZUL_SLOT_PROCSTATE);
  ASSERT_NE(s0, nullptr);
  EXPECT_EQ(*s0, nullptr);
  EXPECT_EQ(slot(ZUL_STEP_SLOTS), nullptr);
  EXPECT_EQ(slot(-1), nullptr);
  void* block = pool->alloc(64, 0x3006);
  EXPECT_NE(block, nullptr);
  // The pool's limit (abi.h): 2,147,483,647 bytes or more is never given.
  EXPECT_EQ(pool->alloc(2147483647u, 0x3006), nullptr);
  EXPECT_EQ(step.pool.blocksInUse(), 1u);
  pool->release(block, 0, 4);
  EXPECT_EQ(step.pool.blocksInUse(), 0u);
  // The exit service records both values for the runner, runs the
  // registered clean-up handler while the caller's state is alive, and
  // returns: no exception crosses into the module. A second call (a
  // handler that ends the step) keeps the higher code; the handler runs once.
  int state = 0;
  *s0 = &state;
  svc<zul_termination_fn>(ZUL_TERMINATION)(&cleanup, s0);
  auto endStep = svc<zul_end_step_fn>(ZUL_END_STEP);
  EXPECT_FALSE(step.ended);
  EXPECT_NO_THROW(endStep(1008, 3));
  EXPECT_TRUE(step.ended);
  EXPECT_EQ(step.completionCode, 1008);
  EXPECT_EQ(step.second, 3);
  EXPECT_EQ(state, 1);
  EXPECT_NO_THROW(endStep(0, 0));
  EXPECT_EQ(step.completionCode, 1008);
  EXPECT_NO_THROW(endStep(1020, 0));
  EXPECT_EQ(step.completionCode, 1020);
  EXPECT_EQ(state, 1);
  zs::session().step = nullptr;
}

TEST(ServiceVector, MissingModuleAndExtensionsAreExplained) {
  zs::Module module;
  std::string error;
  EXPECT_FALSE(zs::loadModule("/no/such/directory", module, error));
  EXPECT_NE(error.find("libzulfact.so"), std::string::npos) << error;
  EXPECT_NE(error.find("beside the zul program"), std::string::npos) << error;
  EXPECT_EQ(module.procedure, nullptr);
  // Extension names are plain words: no paths.
  EXPECT_EQ(zs::loadExtension(L"../qkxfac"), nullptr);
  EXPECT_EQ(zs::loadExtension(L""), nullptr);
}

TEST(ServiceVector, TablesOfNoStepAreRefused) {
  int fake = 0;
  auto* t = reinterpret_cast<zul_table*>(&fake);
  EXPECT_LT(svc<zul_next_by_group_fn>(ZUL_NEXT_BY_GROUP)(t), 0);
  EXPECT_EQ(svc<zul_var_count_fn>(ZUL_VAR_COUNT)(t), 0);
  char cell[33];
  EXPECT_NE(svc<zul_attribute_fn>(ZUL_ATTRIBUTE)(t, ZUL_ATTR_MEMBER, cell), 0);
  EXPECT_EQ(svc<zul_readlist_create_fn>(ZUL_READLIST_CREATE)(t, 1), nullptr);
}

// Texts come as pointer and length; -1 means "up to the NUL". Other
// negative lengths, and a length without a text, are refused with an error
// in the log: never read as a huge size.
TEST(ServiceVector, TextLengthsAndPointersAreChecked) {
  std::vector<std::string> log;
  zul::messages::setLogWriter([&](int, std::string_view line) {
    log.emplace_back(line);
    return true;
  });
  auto logLine = svc<zul_log_line_fn>(ZUL_LOG_LINE);
  auto logText = svc<zul_log_text_fn>(ZUL_LOG_TEXT);
  auto chars = svc<zul_hstring_chars_fn>(ZUL_HSTRING_CHARS);
  auto nameCheck = svc<zul_name_check_fn>(ZUL_NAME_CHECK);
  auto fit = svc<zul_name_fit_fn>(ZUL_NAME_FIT);
  auto* tk = static_cast<const zul_toolkit*>(zs::serviceVector()[ZUL_SV_TOOLKIT]);

  logLine(ZUL_LOG_NOTE, "whole text", -1);
  logLine(ZUL_LOG_NOTE, "cut here", 3);
  logLine(ZUL_LOG_NOTE, "never", -7);
  logLine(ZUL_LOG_NOTE, nullptr, 12);
  logText("never", -2);
  tk->print("never", -100);
  EXPECT_NE(tk->catalogLog(ZUL_LOG_NOTE, "never", -3), 0);
  EXPECT_EQ(chars("abc", -5), nullptr);
  EXPECT_STREQ(chars("abcdef", 2), "ab");
  // A text asked for again is the one kept, not one more copy; the others
  // stay where they were.
  const char* kept = chars("Factor Pattern", -1);
  for (int i = 0; i < 1000; ++i) {
    const std::string text = std::to_string(i);
    EXPECT_STREQ(chars(text.c_str(), -1), text.c_str());
  }
  EXPECT_EQ(chars("Factor Pattern", -1), kept);
  EXPECT_STREQ(kept, "Factor Pattern");
  EXPECT_EQ(nameCheck("x", -9), zs::kNameUnusable);
  char out[9];
  EXPECT_EQ(fit("abc", -4, 8, out), 1);  // no name given: "_"
  EXPECT_STREQ(out, "_");
  zul::messages::setLogWriter(nullptr);

  std::string all;
  for (const auto& l : log) all += l + "\n";
  EXPECT_NE(all.find("whole text"), std::string::npos);
  EXPECT_NE(all.find("cut\n"), std::string::npos);
  EXPECT_EQ(all.find("never"), std::string::npos) << all;
  EXPECT_NE(all.find("was given the text length -7; the request is refused"), std::string::npos);
  EXPECT_NE(all.find("was given no text"), std::string::npos) << all;
}

}  // namespace
