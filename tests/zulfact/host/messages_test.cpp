// Messages and notes on the module side: catalog notes with the refetch,
// the memory report, the start-up debug switches, the message-text store
// and the text-list join with its size notes.
//
// The module runs inside zul, a separate binary; here it talks to the fake
// host with the services these routines call (pool, catalog, log, step
// slots, message texts), which record what the module asked for.
#include "zulfact/host/messages.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake_host/fake_host.hpp"
#include "zulfact/host/host.hpp"

namespace zulfact {
namespace {

struct Fetch {
  uint32_t id;
  int32_t size;
  std::vector<zul_arg> args;
};

// What the test host holds and records. One at a time (C callbacks).
struct TestHost {
  // pool
  std::set<void*> blocks;
  std::vector<std::pair<double, uint32_t>> requests;
  double failFrom = 1e300;  // requests of this many bytes or more fail
  bool failAll = false;
  // catalog
  std::map<uint32_t, std::string> catalog;
  std::vector<Fetch> fetches;
  std::vector<std::pair<int, std::string>> catalogLines;
  std::vector<std::pair<int, int>> catalogErrors;
  bool failWrites = false;
  // log and status
  std::vector<std::string> logTexts;
  std::vector<int> statuses;
  // step slots, messages, options
  void* slots[ZUL_STEP_SLOTS] = {};
  std::map<std::pair<int, int>, std::string> messageTexts;
  std::string debug;
  bool hasDebug = false;
  double memoryUnits = -1;
};
TestHost* T = nullptr;

void* poolAlloc(size_t bytes, uint32_t flags) {
  T->requests.emplace_back(static_cast<double>(bytes), flags);
  if (T->failAll || static_cast<double>(bytes) >= T->failFrom) return nullptr;
  void* p = std::calloc(1, bytes ? bytes : 1);
  T->blocks.insert(p);
  return p;
}
void poolRelease(void* block, int32_t, int32_t) {
  if (!block) return;
  EXPECT_EQ(T->blocks.erase(block), 1u) << "released a block the pool did not give";
  std::free(block);
}

// Copies s into a caller's buffer of size bytes, cut and NUL terminated as
// the host does; the result is the full length.
int32_t copyOut(const std::string& s, char* buffer, int32_t size) {
  if (size > 0) {
    size_t n = std::min(s.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(s.size());
}

int32_t fetchText(uint32_t id, const zul_arg* args, int32_t nArgs, char* buffer, int32_t size) {
  T->fetches.push_back({id, size, std::vector<zul_arg>(args, args + nArgs)});
  auto it = T->catalog.find(id);
  if (it == T->catalog.end()) return -5;
  return copyOut(it->second, buffer, size);
}
void catalogError(int32_t kind, int32_t status) { T->catalogErrors.emplace_back(kind, status); }
int32_t catalogLog(int32_t level, const char* text, int32_t length) {
  if (T->failWrites) return -9;
  T->catalogLines.emplace_back(level, std::string(text, static_cast<size_t>(length)));
  return 0;
}

void statusReport(int32_t, int32_t status) { T->statuses.push_back(status); }
void** stepSlot(int32_t index) { return &T->slots[index]; }
int32_t messageText(char* buffer, int32_t size, int32_t group, int32_t number) {
  auto it = T->messageTexts.find({group, number});
  if (it == T->messageTexts.end()) return -1;
  return copyOut(it->second, buffer, size);
}
int32_t systemOption(const char* name, int32_t length, char* buffer, int32_t size) {
  if (std::string(name, static_cast<size_t>(length)) != "DEBUG" || !T->hasDebug) return -1;
  return copyOut(T->debug, buffer, size);
}
void logText(const char* text, int32_t length) {
  T->logTexts.emplace_back(text, static_cast<size_t>(length));
}
double availableMemory() { return T->memoryUnits; }

class ModuleMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    T = &state;
    fake.provide(ZUL_STATUS_REPORT, &statusReport);
    fake.provide(ZUL_STEP_SLOT, &stepSlot);
    fake.provide(ZUL_MESSAGE_TEXT, &messageText);
    fake.provide(ZUL_SYSTEM_OPTION, &systemOption);
    fake.recordLogLines();
    fake.provide(ZUL_LOG_TEXT, &logText);
    fake.provide(ZUL_AVAILABLE_MEMORY, &availableMemory);
    fake.setPool(&pool);
    fake.setToolkit(&toolkit);
    h.attach(fake.vector(), nullptr);
  }
  void TearDown() override {
    for (void* p : state.blocks) std::free(p);
    T = nullptr;
  }

  TestHost state;
  zul_test::FakeHost fake;
  zul_pool pool{&poolAlloc, &poolRelease};
  zul_toolkit toolkit{&fetchText, &catalogError, &catalogLog, nullptr, nullptr, nullptr, nullptr};
  Host h;
};

// ---- catalog notes ----

TEST_F(ModuleMessages, AWarningPrefixIsLoggedAtLevelThreeWithoutItsThreeCharacters) {
  state.catalog[0x83BFC170] = "%2zNo row was written.";
  state.catalog[0x83BFC16C] = "%3zThe SQL statement was:";
  state.catalog[0x83BFC16D] = "%1zNo memory.";
  state.catalog[0x83BF0001] = "plain text";
  EXPECT_EQ(h.catalogNote(0x83BFC170), 0);
  EXPECT_EQ(h.catalogNote(0x83BFC16C), 0);
  EXPECT_EQ(h.catalogNote(0x83BFC16D), 0);
  EXPECT_EQ(h.catalogNote(0x83BF0001), 0);
  ASSERT_EQ(state.catalogLines.size(), 4u);
  EXPECT_EQ(state.catalogLines[0], std::make_pair(3, std::string("No row was written.")));
  EXPECT_EQ(state.catalogLines[1], std::make_pair(2, std::string("The SQL statement was:")));
  EXPECT_EQ(state.catalogLines[2], std::make_pair(4, std::string("No memory.")));
  EXPECT_EQ(state.catalogLines[3], std::make_pair(0, std::string("plain text")));
}

TEST_F(ModuleMessages, A150CharacterTextIsFetchedTwiceAndPrintedWhole) {
  const std::string body(147, 'x');
  state.catalog[0x83BFC16E] = "%3z" + body;  // 150 characters
  EXPECT_EQ(h.catalogNote(0x83BFC16E, {12, "WORK.OUT"}), 0);
  ASSERT_EQ(state.fetches.size(), 2u);
  EXPECT_EQ(state.fetches[0].size, 101);  // 100 characters and the NUL
  EXPECT_EQ(state.fetches[1].size, 300);  // twice the length reported
  ASSERT_EQ(state.fetches[1].args.size(), 2u);
  EXPECT_EQ(state.fetches[1].args[0].v.i, 12);
  ASSERT_EQ(state.catalogLines.size(), 1u);
  EXPECT_EQ(state.catalogLines[0].second, body);
  // The second buffer came from the temporary pool and went back.
  ASSERT_EQ(state.requests.size(), 1u);
  EXPECT_EQ(state.requests[0].first, 300.0);
  EXPECT_EQ(state.requests[0].second, 8192u);
  EXPECT_TRUE(state.blocks.empty());
}

TEST_F(ModuleMessages, ARefetchWithoutMemoryKeepsTheFirstHundredCharacters) {
  state.catalog[0x83BFC16E] = std::string(150, 'y');
  state.failAll = true;
  EXPECT_EQ(h.catalogNote(0x83BFC16E), 0);
  EXPECT_EQ(state.statuses.size(), 1u);
  ASSERT_EQ(state.catalogLines.size(), 1u);
  EXPECT_EQ(state.catalogLines[0].second, std::string(100, 'y'));
}

TEST_F(ModuleMessages, FetchAndWriteFailuresGoToTheCatalogErrorRoutine) {
  EXPECT_EQ(h.catalogNote(0x83BF0BAD), 1012);
  ASSERT_EQ(state.catalogErrors.size(), 1u);
  EXPECT_EQ(state.catalogErrors[0].first, 3);
  state.catalog[0x83BFC170] = "%2zNo row was written.";
  state.failWrites = true;
  EXPECT_EQ(h.catalogNote(0x83BFC170), 1012);
  ASSERT_EQ(state.catalogErrors.size(), 2u);
  EXPECT_EQ(state.catalogErrors[1].first, 4);
}

// ---- memory report ----

TEST_F(ModuleMessages, MemoryReportLogsTheNoteAsAnErrorAndThenTheMemoryLine) {
  state.catalog[0x83BFC037] = "%3zNo memory for a text list of 20 bytes.";
  state.memoryUnits = 5000;  // units of 1000 bytes: 5,000,000 bytes
  EXPECT_EQ(memoryReport(h, 0x83BFC037), 0);
  ASSERT_EQ(state.catalogLines.size(), 2u);
  EXPECT_EQ(state.catalogLines[0],
            std::make_pair(4, std::string("No memory for a text list of 20 bytes.")));
  EXPECT_EQ(state.catalogLines[1],
            std::make_pair(2, std::string("At least 5000000 bytes of memory are available.")));

  state.catalogLines.clear();
  state.memoryUnits = -1;
  EXPECT_EQ(memoryReport(h, 0, {"pool", 4}, "%2zThe %s holds %i blocks."), 0);
  ASSERT_EQ(state.catalogLines.size(), 2u);
  EXPECT_EQ(state.catalogLines[0], std::make_pair(3, std::string("The pool holds 4 blocks.")));
  EXPECT_EQ(state.catalogLines[1],
            std::make_pair(2, std::string("Cannot determine how much memory is available.")));
}

TEST_F(ModuleMessages, LiteralFormatsTakeTheirArgumentsInOrder) {
  EXPECT_EQ(formatLiteral("group=%i message=%i; %s", {180, 33, "Heading"}),
            "group=180 message=33; Heading");
  EXPECT_EQ(formatLiteral("%g and %g and %g%%", {2.5, 1e20, 3.0}), "2.5 and 1e+20 and 3%");
  EXPECT_EQ(formatLiteral("%i of %i", {7}), "7 of ?");
  // A directive that does not fit its argument still shows the argument.
  EXPECT_EQ(formatLiteral("%s=%i", {4, "pool"}), "4=pool");
}

// ---- start-up ----

TEST_F(ModuleMessages, DebugSwitchesComeFromTheUpperCasedOption) {
  state.hasDebug = true;
  state.debug = "syn";
  DebugSwitches a = startUp(h);
  EXPECT_TRUE(a.syntax);
  EXPECT_FALSE(a.semantics);
  EXPECT_EQ(a.parseFlags(), 2u);
  ASSERT_NE(state.slots[ZUL_SLOT_DEBUG], nullptr);
  EXPECT_EQ(state.requests[0], std::make_pair(400.0, 0x3006u));
  EXPECT_EQ(debugSwitches(h).parseFlags(), 2u);

  state.debug = "Semantics,Syntax";
  EXPECT_EQ(startUp(h).parseFlags(), 3u);
  state.debug = "nothing here";
  EXPECT_EQ(startUp(h).parseFlags(), 0u);
  state.hasDebug = false;
  EXPECT_EQ(startUp(h).parseFlags(), 0u);
  EXPECT_EQ(debugSwitches(h).parseFlags(), 0u);
}

TEST_F(ModuleMessages, ALongDebugValueIsKeptInABlockOfItsOwn) {
  state.hasDebug = true;
  state.debug = std::string(240, 'a') + "sem";
  EXPECT_EQ(startUp(h).parseFlags(), 1u);
  ASSERT_EQ(state.requests.size(), 2u);
  EXPECT_EQ(state.requests[1].first, 244.0);  // 243 characters and the NUL
  EXPECT_EQ(debugSwitches(h).parseFlags(), 1u);
  // Without the work block the switches still reach the parser.
  state.failAll = true;
  EXPECT_EQ(startUp(h).parseFlags(), 1u);
}

// ---- message-text store ----

TEST_F(ModuleMessages, TheStoreKeepsTextsUntilItIsClosed) {
  state.messageTexts[{180, 160}] = "the largest absolute correlations of each variable.";
  state.messageTexts[{180, 27}] = "Squared Multiple Correlations";
  int n = 0;
  const char* a = zmsgsav(h, 180, 160, nullptr, 0, &n);
  EXPECT_EQ(n, 51);
  const char* b = zmsgsav(h, 180, 27, nullptr, 0, &n);
  EXPECT_STREQ(a, "the largest absolute correlations of each variable.");
  EXPECT_STREQ(b, "Squared Multiple Correlations");
  EXPECT_NE(state.slots[ZUL_SLOT_MESSAGES], nullptr);
  EXPECT_STREQ(zmsgsav(h, kStoreRelease), "");
  EXPECT_NE(state.slots[ZUL_SLOT_MESSAGES], nullptr);
  EXPECT_STREQ(zmsgsav(h, kStoreClose), "");
  EXPECT_EQ(state.slots[ZUL_SLOT_MESSAGES], nullptr);
  EXPECT_TRUE(state.blocks.empty()) << "the store left blocks behind";
}

// A missing text is four question marks; a text longer than the caller's
// maximum is reported and cut; a destination without a maximum is refused.
TEST_F(ModuleMessages, MissingTooLongAndUnboundedTexts) {
  state.messageTexts[{180, 27}] = "Squared Multiple Correlations";  // 29 characters
  char dest[16];
  int n = 0;
  const char* s = zmsgsav(h, 180, 27, dest, 10, &n);
  EXPECT_EQ(s, dest);
  EXPECT_STREQ(dest, "Squared Mu");
  EXPECT_EQ(n, 10);
  ASSERT_EQ(fake.logLines.size(), 2u);
  EXPECT_EQ(fake.logLines[0].second,
            "error in message file: group=180 message=27 length=29; Squared Multiple "
            "Correlations");
  EXPECT_EQ(fake.logLines[1].second, "message length exceeds maximum allowed length of 10.");
  EXPECT_STREQ(zmsgsav(h, 180, 999, nullptr, 0, &n), "????");
  EXPECT_EQ(n, 4);
  EXPECT_STREQ(zmsgsav(h, 180, 999, dest, 15, &n), "????");
  char unbounded[5] = "abcd";
  EXPECT_STREQ(zmsgsav(h, 180, 27, unbounded, 0), "????");
  EXPECT_STREQ(unbounded, "abcd");  // untouched: its size is not known
}

TEST_F(ModuleMessages, NoMemoryForTheStoreLogsAnErrorAndGivesFourQuestionMarks) {
  state.messageTexts[{180, 27}] = "Squared Multiple Correlations";
  state.failAll = true;
  int n = 0;
  EXPECT_STREQ(zmsgsav(h, 180, 27, nullptr, 0, &n), "????");
  EXPECT_EQ(n, 4);
  EXPECT_STREQ(zmsgsav(h, kStoreOpen, 1024), "????");
  EXPECT_EQ(state.statuses.size(), 2u);

  state.failAll = false;
  zmsgsav(h, kStoreOpen, 64);
  state.failFrom = 64;  // the store's header fits, its blocks do not
  EXPECT_STREQ(zmsgsav(h, 180, 27, nullptr, 0, &n), "????");
  ASSERT_FALSE(fake.logLines.empty());
  EXPECT_EQ(fake.logLines.back(),
            std::make_pair(4, std::string("Out of memory in zmsgsav for group=180 message=27 "
                                          "msglen=29 len=29.")));
  zmsgsav(h, kStoreClose);
}

// ---- text-list join ----

TEST_F(ModuleMessages, PiecesAreJoinedInOrderAndFreedUnlessKept) {
  TextList* list = textListCreate(h, "select");
  char* out = nullptr;
  int64_t length = -1;
  // An empty list, and no list at all, join to an empty text.
  for (TextList* empty : {list, static_cast<TextList*>(nullptr)}) {
    EXPECT_EQ(zcatp(h, empty, nullptr, &out, &length, 0), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(out[0], '\0');
    h.release(out);
  }
  ASSERT_TRUE(textListAdd(h, list, " select "));
  ASSERT_TRUE(textListAdd(h, list, "\"_v0_\""));
  ASSERT_TRUE(textListAdd(h, list, ", "));
  ASSERT_TRUE(textListAdd(h, list, ""));
  ASSERT_TRUE(textListAdd(h, list, "\"_v1_\""));
  EXPECT_EQ(zcatp(h, list, nullptr, &out, &length, kJoinKeepPieces), 0);
  EXPECT_STREQ(out, " select \"_v0_\", \"_v1_\"");
  EXPECT_EQ(length, 22);
  EXPECT_EQ(state.requests.back(), std::make_pair(23.0, 8196u));
  EXPECT_EQ(list->count, 5);
  h.release(out);
  EXPECT_EQ(zcatp(h, list, nullptr, &out, &length, 0), 0);
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(list->first, nullptr);
  h.release(out);
  EXPECT_EQ(zcatp(h, list, nullptr, &out, &length, kJoinRelease), 0);
  h.release(out);
  EXPECT_TRUE(state.blocks.empty());
}

TEST_F(ModuleMessages, PrintingAListIndentsBetweenOpenAndClosePieces) {
  TextList* list = textListCreate(h);
  textListAdd(h, list, "select", kPieceOpenAfter);
  textListAdd(h, list, "a,");
  textListAdd(h, list, "(", kPieceOpenAfter | kPieceDoubleIndent);
  textListAdd(h, list, "b", kPieceCloseAfter);
  textListAdd(h, list, ")", kPieceCloseBefore);
  textListAdd(h, list, "from t", kPieceCloseBefore);
  char* out = nullptr;
  int64_t length = 0;
  EXPECT_EQ(zcatp(h, list, nullptr, &out, &length, kJoinPrint | kJoinRelease), 0);
  h.release(out);
  std::vector<std::string> expected = {"zcatp", "select", "  a,", "  (", "      b", "  )",
                                       "from t"};
  EXPECT_EQ(state.logTexts, expected);
  state.logTexts.clear();
  EXPECT_EQ(zcatp(h, nullptr, nullptr, &out, &length, kJoinPrint), 0);
  h.release(out);
  EXPECT_EQ(state.logTexts, (std::vector<std::string>{"zcatp", "No list to print"}));
}

// The size note names the size in the largest unit it exceeds; the
// expected quotients are the byte counts divided by hand by 2^30, 2^20 and
// 2^10 (the joined size is the piece lengths plus 1 for the NUL).
TEST_F(ModuleMessages, SizeNotesPickTheirUnitByThreshold) {
  for (uint32_t id = 0x83BFC033; id <= 0x83BFC039; ++id) state.catalog[id] = "%3znote";
  struct Case {
    double pieceLength;
    bool poolFails;
    uint32_t id;
    double value;
  } cases[] = {
      {3000000000.0, false, 0x83BFC033, 2.793967724777758},
      {2147483646.0, false, 0x83BFC034, 1.9999999990686774},  // 2,147,483,647 bytes: never requested
      {2000000000.0, true, 0x83BFC034, 1.8626451501622796},
      {2000000.0, true, 0x83BFC035, 1.9073495864868164},
      {1048575.0, true, 0x83BFC036, 1024.0},  // exactly 2^20 bytes is not above it
      {5000.0, true, 0x83BFC036, 4.8837890625},
      {1024.0, true, 0x83BFC036, 1025.0 / 1024.0},
      {1023.0, true, 0x83BFC037, 1024.0},
  };
  char text[] = "x";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pieceLength);
    TextPiece piece{nullptr, static_cast<int64_t>(c.pieceLength), 0, text};
    TextList list{&piece, &piece, 1, "big"};
    state.fetches.clear();
    state.failAll = c.poolFails;
    char* out = reinterpret_cast<char*>(1);
    int64_t length = -1;
    EXPECT_EQ(zcatp(h, &list, nullptr, &out, &length, kJoinKeepPieces), 1016);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(length, 0);
    ASSERT_EQ(state.fetches.size(), 2u);
    EXPECT_EQ(state.fetches[0].id, c.id);
    ASSERT_GE(state.fetches[0].args.size(), 1u);
    EXPECT_NEAR(state.fetches[0].args[0].v.d, c.value, 1e-12);
    if (c.id == 0x83BFC033) {
      ASSERT_EQ(state.fetches[0].args.size(), 2u);
      EXPECT_EQ(state.fetches[0].args[1].v.d, 2147483647.0);
    }
    EXPECT_EQ(state.fetches[1].id, 0x83BFC038u);
    ASSERT_EQ(state.fetches[1].args.size(), 3u);
    EXPECT_EQ(state.fetches[1].args[0].v.i, 1);
    EXPECT_EQ(state.fetches[1].args[1].v.i, 1);
    EXPECT_EQ(std::string(state.fetches[1].args[2].v.text,
                          static_cast<size_t>(state.fetches[1].args[2].length)),
              "big");
  }
  // Without a list the second note is 0x83BFC039.
  state.fetches.clear();
  state.failAll = true;
  char* out = nullptr;
  int64_t length = 0;
  EXPECT_EQ(zcatp(h, nullptr, nullptr, &out, &length, 0), 1016);
  ASSERT_EQ(state.fetches.size(), 2u);
  EXPECT_EQ(state.fetches[0].id, 0x83BFC037u);
  EXPECT_EQ(state.fetches[1].id, 0x83BFC039u);
}

}  // namespace
}  // namespace zulfact
