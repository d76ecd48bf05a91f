// The message file and the message services of the host.
#include "zul/messages/messages.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace zm = zul::messages;

namespace {

zul_arg intArg(int64_t v) { return zul_arg{ZUL_ARG_INT, 0, {.i = v}}; }
zul_arg dblArg(double v) { return zul_arg{ZUL_ARG_DOUBLE, 0, {.d = v}}; }
zul_arg txtArg(const char* s, int32_t length = -1) {
  return zul_arg{ZUL_ARG_TEXT, length, {.text = s}};
}

// Collects what the services write to the log.
struct LogCapture {
  std::vector<std::pair<int, std::string>> lines;
  bool fail = false;
  LogCapture() {
    zm::setLogWriter([this](int level, std::string_view line) {
      lines.emplace_back(level, std::string(line));
      return !fail;
    });
  }
  ~LogCapture() { zm::setLogWriter(nullptr); }
};

int documentedCount(std::string_view args) {
  if (args.empty()) return 0;
  return 1 + static_cast<int>(std::count(args.begin(), args.end(), ','));
}

}  // namespace

// ---- the file itself ----

TEST(MessageFile, EveryLineIsReadAndNoNumberRepeats) {
  for (const std::string& p : zm::fileProblems()) ADD_FAILURE() << "messages.txt " << p;
  EXPECT_GT(zm::entries().size(), 300u);
}

TEST(MessageFile, TextsUseExactlyTheDocumentedArguments) {
  for (const zm::Entry& e : zm::entries()) {
    SCOPED_TRACE("messages.txt line " + std::to_string(e.line));
    EXPECT_EQ(zm::argumentCount(e.text), documentedCount(e.args))
        << "text refers to other arguments than (" << e.args << ")";
    EXPECT_LE(zm::requiredArgumentCount(e.text), zm::argumentCount(e.text));
  }
}

TEST(MessageFile, CatalogTextsCarryASeverityPrefixAndLogMessagesAreSentences) {
  for (const zm::Entry& e : zm::entries()) {
    SCOPED_TRACE("messages.txt line " + std::to_string(e.line));
    if (e.group == zm::kCatalogGroup) {
      ASSERT_GE(e.text.size(), 4u);
      EXPECT_EQ(e.text[0], '%');
      EXPECT_TRUE(e.text[1] >= '1' && e.text[1] <= '3');
      EXPECT_EQ(e.text[2], 'z');
      EXPECT_EQ(e.number & 0xFFFF0000u, 0x83BF0000u);
    } else if (e.severity != zm::Severity::None) {
      // A log message that does not end its sentence was probably cut
      // (180/16 ends with its argument, which brings its own full stop).
      bool endsWithArgument = e.text.size() >= 2 && e.text[e.text.size() - 2] == '%';
      EXPECT_TRUE(e.text.back() == '.' || endsWithArgument) << e.text;
    }
  }
}

// A count put straight before a plural noun ("%1 values") reads wrong when
// it is 1 ("1 values"). Such a text needs a singular twin that the caller
// picks for 1 (180/36 and 180/188), a count that cannot be 1, or a wording
// that fits any count ("The PRIORS statement has values (%1)").
TEST(MessageFile, ACountBeforeAPluralNounCannotBeOne) {
  const std::set<std::string> counts = {"count",  "factors", "values",     "variables",
                                        "others", "pairs",   "simulations", "threads requested",
                                        "threads used", "rows", "pieces", "last", "bytes"};
  // Key: group/number. Why each may write one.
  const std::set<std::string> allowed = {
      "180/36",  "180/191", "180/189", "180/198", "180/289", "180/291", "180/293", "180/295",
      "180/131", "180/33",  // their singular twins are 188, 194, 190, 199, 290, 292, 294, 296,
                            // 186 and 1289
      "180/88", "180/90",   // two variables take 1290 and 1291; pairs are p(p - 1) >= 2
      "180/310",            // fewer threads used than requested: at least 2 requested
      "180/1200",           // NPLOT= above the factors, which are at least 2
      "180/436",            // no memory for the simulations: never for one
      "180/1223",           // at least one component was compared before
      "0x83BFC037", "0x83BFC038",  // a text list of one piece or of 1 byte cannot fail
  };
  const std::regex countThenPlural(R"(%([1-9]) [a-z]+s\b)");
  for (const zm::Entry& e : zm::entries()) {
    std::vector<std::string> names;
    std::stringstream list{std::string(e.args)};
    for (std::string n; std::getline(list, n, ',');)
      names.push_back(n.substr(n.find_first_not_of(' ')));
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", e.number);
    const std::string text(e.text);
    const std::string key = e.group == zm::kCatalogGroup
                                ? std::string(hex)
                                : std::to_string(e.group) + "/" + std::to_string(e.number);
    for (std::sregex_iterator it(text.begin(), text.end(), countThenPlural), end; it != end; ++it) {
      const size_t k = static_cast<size_t>(std::stoi((*it)[1])) - 1;
      if (k < names.size() && counts.count(names[k]) && !allowed.count(key))
        ADD_FAILURE() << "messages.txt line " << e.line << ": \"" << (*it)[0]
                      << "\" reads wrong for a count of 1";
    }
  }
}

// Every message number used in a call anywhere in src/ has a text, and
// the call passes the arguments the text needs. Calls look like
// host().message(180, 21), h.message(153, 5, {a, b}), formatMessage(180,
// 33, {...}), titleLine(180, 14, {msa}, true), Text::message(180, 47),
// h.message(180, kMethodUnavailable, {word}) with the number a named
// constant, and catalogNote(0x83BFC06F, {"PARTIAL"}). Table titles are
// named constants kTitle... = number (group 180).
namespace {

struct SourceFile {
  std::string where;
  std::string code;
};

std::vector<SourceFile> sourceFiles() {
  const char* root = std::getenv("ZUL_SOURCE_DIR");
  std::filesystem::path src = std::filesystem::path(root ? root : ZUL_SOURCE_DIR) / "src";
  std::vector<SourceFile> files;
  if (!std::filesystem::exists(src)) return files;
  for (const auto& f : std::filesystem::recursive_directory_iterator(src)) {
    if (!f.is_regular_file()) continue;
    std::string ext = f.path().extension().string();
    if (ext != ".cpp" && ext != ".hpp" && ext != ".h" && ext != ".c") continue;
    if (f.path().parent_path().filename() == "messages" &&
        f.path().parent_path().parent_path().filename() == "zul")
      continue;  // the message services themselves
    std::ifstream in(f.path());
    std::stringstream ss;
    ss << in.rdbuf();
    files.push_back({f.path().lexically_relative(src).string(), ss.str()});
  }
  return files;
}

// Arguments in the brace list that starts at code[p] (just after "{").
int braceArguments(const std::string& code, size_t p) {
  int depth = 1, nArgs = 1;
  bool any = false;
  for (; p < code.size() && depth > 0; ++p) {
    char c = code[p];
    if (c == '{' || c == '(' || c == '[') ++depth;
    else if (c == '}' || c == ')' || c == ']') --depth;
    else if (c == ',' && depth == 1) ++nArgs;
    else if (c == '"') {
      for (++p; p < code.size() && code[p] != '"'; ++p)
        if (code[p] == '\\') ++p;
    }
    if (depth > 0 && c != ' ' && c != '\n') any = true;
  }
  return any ? nArgs : 0;
}

}  // namespace

TEST(MessageFile, EveryMessageUsedInTheSourcesHasAText) {
  const std::vector<SourceFile> files = sourceFiles();
  ASSERT_FALSE(files.empty()) << "no sources found";
  // Named constants that may stand for a message number.
  std::map<std::string, std::set<int>> constants;
  const std::regex constant(R"(\b(?:constexpr|const)\s+(?:int|int32_t|uint32_t)\s+(\w+)\s*=\s*(\d+)\s*;)");
  for (const SourceFile& f : files)
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), constant), end; it != end; ++it)
      constants[(*it)[1]].insert(std::stoi((*it)[2]));

  const std::regex named(
      R"(\b(message|formatMessage|messageText|hostString|messageArg)\s*\(\s*(\d+)\s*,\s*(\w+)\s*(,\s*\{)?)");
  const std::regex any(
      R"(\b\w+\s*\(\s*(129|153|174|180|210|230|271)\s*,\s*(\w+)\s*(,\s*\{)?)");
  // The module's messages by name (msg::kX = factor(88)), and its calls
  // that pass a named message with its arguments (h.message(msg::kX, {..})).
  const std::map<std::string, int> groups = {{"general", 0}, {"byGroup", 153}, {"thread", 174},
                                             {"factor", 180}, {"graph", 210},   {"input", 230},
                                             {"eigen", 271}};
  std::map<std::string, std::pair<int, int>> ids;
  const std::regex idDefinition(R"(\binline\s+constexpr\s+Id\s+(\w+)\s*=\s*(\w+)\s*\(\s*(\d+)\s*\))");
  for (const SourceFile& f : files)
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), idDefinition), end; it != end; ++it) {
      const auto g = groups.find((*it)[2]);
      if (g == groups.end()) {
        ADD_FAILURE() << f.where << ": " << (*it)[1] << " is in an unknown group " << (*it)[2];
        continue;
      }
      const int number = std::stoi((*it)[3]);
      ids[(*it)[1]] = {g->second, number};
      EXPECT_NE(zm::find(g->second, number), nullptr)
          << f.where << ": " << (*it)[1] << " (" << g->second << "/" << number << ") has no text";
    }
  EXPECT_GT(ids.size(), 100u) << "the module's named messages were not found";
  const std::regex namedCall(R"(\b(?:message|formatMessage)\s*\(\s*msg::(\w+)\s*(,\s*\{)?)");
  const std::regex title(R"(\bkTitle\w*\s*=\s*(\d+)\s*;)");
  const std::regex catalog(R"(\b0[xX]83[bB][fF]([0-9A-Fa-f]{4})[uU]?\b)");
  int found = 0;
  auto check = [&](const SourceFile& f, int group, const std::string& numberText,
                   const std::smatch& m, bool hasBraces) {
    int number = -1;
    if (std::isdigit(static_cast<unsigned char>(numberText[0]))) {
      number = std::stoi(numberText);
    } else {
      auto c = constants.find(numberText);
      if (c == constants.end() || c->second.size() != 1) return;  // not a known constant
      number = *c->second.begin();
    }
    ++found;
    const zm::Entry* e = zm::find(group, number);
    if (!e) {
      ADD_FAILURE() << f.where << ": message " << group << "/" << number << " has no text";
      return;
    }
    int nArgs = hasBraces ? braceArguments(f.code, static_cast<size_t>(m.position(0) + m.length(0))) : 0;
    EXPECT_GE(nArgs, zm::requiredArgumentCount(e->text))
        << f.where << ": " << group << "/" << number << " gets too few arguments";
    EXPECT_LE(nArgs, documentedCount(e->args))
        << f.where << ": " << group << "/" << number << " gets more arguments than (" << e->args
        << ")";
  };
  for (const SourceFile& f : files) {
    std::set<size_t> seen;
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), named), end; it != end; ++it) {
      const std::smatch& m = *it;
      seen.insert(static_cast<size_t>(m.position(0)));
      check(f, std::stoi(m[2]), m[3], m, m[4].matched);
    }
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), any), end; it != end; ++it) {
      const std::smatch& m = *it;
      if (seen.count(static_cast<size_t>(m.position(0)))) continue;
      check(f, std::stoi(m[1]), m[2], m, m[3].matched);
    }
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), namedCall), end; it != end; ++it) {
      const std::smatch& m = *it;
      const auto id = ids.find(m[1]);
      if (id == ids.end()) continue;  // not a message name (kX.number and the like)
      check(f, id->second.first, std::to_string(id->second.second), m, m[2].matched);
    }
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), title), end; it != end; ++it) {
      ++found;
      int number = std::stoi((*it)[1]);
      const zm::Entry* e = zm::find(180, number);
      if (!e) ADD_FAILURE() << f.where << ": title 180/" << number << " has no text";
      else EXPECT_EQ(zm::argumentCount(e->text), 0)
          << f.where << ": title 180/" << number << " is a text with arguments, not a title";
    }
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), catalog), end; it != end; ++it) {
      uint32_t id = 0x83BF0000u | static_cast<uint32_t>(std::stoul((*it)[1], nullptr, 16));
      ++found;
      EXPECT_NE(zm::findCatalog(id), nullptr)
          << f.where << ": catalog text 0x" << std::hex << id << " is missing";
    }
  }
  EXPECT_GT(found, 0);
}

// ---- formatting ----

TEST(MessageFormat, NumbersPrintInTheirShortestSensibleForm) {
  // Expected strings written by hand from the rule in messages.hpp.
  EXPECT_EQ(zm::formatArgument(intArg(-42)), "-42");
  EXPECT_EQ(zm::formatArgument(dblArg(3.0)), "3");
  EXPECT_EQ(zm::formatArgument(dblArg(-0.0)), "0");
  EXPECT_EQ(zm::formatArgument(dblArg(0.75)), "0.75");
  EXPECT_EQ(zm::formatArgument(dblArg(10000.0)), "10000");
  EXPECT_EQ(zm::formatArgument(dblArg(0.823456789)), "0.823457");
  EXPECT_EQ(zm::formatArgument(dblArg(1.5e-9)), "1.5E-9");
  EXPECT_EQ(zm::formatArgument(dblArg(1234567.5)), "1.23457E6");
  EXPECT_EQ(zm::formatArgument(dblArg(zul_missing())), ".");
  EXPECT_EQ(zm::formatArgument(dblArg(std::numeric_limits<double>::infinity())), ".");
  // Texts lose their padding and need no terminator.
  EXPECT_EQ(zm::formatArgument(txtArg("CORR    ")), "CORR");
  EXPECT_EQ(zm::formatArgument(txtArg("VARIMAXyz", 7)), "VARIMAX");
  EXPECT_EQ(zm::formatArgument(txtArg(nullptr, 3)), "");
}

TEST(MessageFormat, OptionalPartsAndMissingArguments) {
  // Given and not empty: the part is printed.
  zul_arg corr = txtArg("CORR    ");
  EXPECT_EQ(zm::format("raw data%[ (TYPE=%1)%].", &corr, 1), "raw data (TYPE=CORR).");
  // Blank (raw data has no TYPE) or absent: left out.
  zul_arg blank = txtArg("        ");
  EXPECT_EQ(zm::format("raw data%[ (TYPE=%1)%].", &blank, 1), "raw data.");
  EXPECT_EQ(zm::format("raw data%[ (TYPE=%1)%].", nullptr, 0), "raw data.");
  // Nested parts: the inner one goes, the outer one stays.
  zul_arg a[] = {txtArg("x")};
  EXPECT_EQ(zm::format("<%[a=%1%[ b=%2%]%]>", a, 1), "<a=x>");
  // Outside an optional part a missing argument shows as "?".
  EXPECT_EQ(zm::format("N=%1, M=%2", a, 1), "N=x, M=?");
  EXPECT_EQ(zm::format("100%% of %1", a, 1), "100% of x");
  // Arguments may be used out of order and more than once.
  zul_arg b[] = {intArg(2), txtArg("WORK.T")};
  EXPECT_EQ(zm::format("Table %2 needs %1; %2.", b, 2), "Table WORK.T needs 2; WORK.T.");
}

TEST(MessageFormat, ACatalogPrefixIsNotAnArgument) {
  zul_arg a[] = {intArg(12), txtArg("WORK.SCORES")};
  EXPECT_EQ(zm::format("%3z%1 rows", a, 2), "%3z12 rows");
  EXPECT_EQ(zm::format("%1zNo memory for %1 KB.", a, 1), "%1zNo memory for 12 KB.");
  EXPECT_EQ(zm::argumentCount("%1zNo memory."), 0);
  EXPECT_EQ(zm::argumentCount("%2zA %1 and %[%3%]."), 3);
  EXPECT_EQ(zm::requiredArgumentCount("%2zA %1 and %[%3%]."), 1);
}

// ---- services ----

TEST(MessageService, PrintsWithTheSeverityWordOfTheMessage) {
  LogCapture log;
  zm::message(180, 21, nullptr, 0);
  zul_arg v = txtArg("x3");
  zm::message(180, 24, &v, 1);
  zm::message(180, 1, nullptr, 0);
  zm::message(180, 193, nullptr, 0);
  ASSERT_EQ(log.lines.size(), 4u);
  EXPECT_EQ(log.lines[0].first, ZUL_LOG_WARNING);
  EXPECT_EQ(log.lines[0].second.rfind("WARNING: ", 0), 0u);
  EXPECT_NE(log.lines[1].second.find("Variable x3 "), std::string::npos);
  EXPECT_EQ(log.lines[2].second.rfind("ERROR: ", 0), 0u);
  EXPECT_EQ(log.lines[3].second, "NOTE: Convergence criterion satisfied.");
}

TEST(MessageService, AnUnknownNumberIsNamedNotDropped) {
  LogCapture log;
  zul_arg a[] = {intArg(7), txtArg("abc")};
  zm::message(180, 9998, a, 2);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].second,
            "WARNING: Message 180/9998 has no text in the message file (arguments: 7, abc).");
  char buf[8] = "zzzzzzz";
  EXPECT_EQ(zm::messageText(buf, sizeof buf, 180, 9998), zm::kNoSuchMessage);
  EXPECT_STREQ(buf, "");
}

TEST(MessageService, CopiesReturnTheFullLengthAndCutSafely) {
  const std::string full = "Eigenvalues of the Reduced Correlation Matrix";
  char small[10];
  EXPECT_EQ(zm::messageText(small, sizeof small, 180, 68), static_cast<int32_t>(full.size()));
  EXPECT_STREQ(small, full.substr(0, 9).c_str());
  char big[128];
  zul_arg a[] = {txtArg("Principal Components")};
  int32_t n = zm::messageFormat(big, sizeof big, 180, 249, a, 1);
  EXPECT_STREQ(big, "Initial Factor Method: Principal Components");
  EXPECT_EQ(n, static_cast<int32_t>(std::strlen(big)));
  EXPECT_EQ(zm::messageText(nullptr, 0, 180, 68), static_cast<int32_t>(full.size()));
}

// The module fetches a catalog text into 100 characters and, when the
// length returned is larger, again into a buffer of twice that length.
TEST(CatalogService, LongTextsAreFetchedAgainWhole) {
  std::string name(150, 'T');
  zul_arg a[] = {intArg(3), txtArg(name.c_str())};
  char first[100];
  int32_t n = zm::catalogFetch(0x83BFC16E, a, 2, first, sizeof first);
  ASSERT_GT(n, 100);
  EXPECT_EQ(std::strlen(first), 99u);
  std::vector<char> second(static_cast<size_t>(2 * n));
  int32_t m = zm::catalogFetch(0x83BFC16E, a, 2, second.data(), 2 * n);
  EXPECT_EQ(m, n);
  EXPECT_EQ(std::string(second.data()),
            "%3zRows written to " + name + " inside the database: 3.");
  EXPECT_EQ(zm::catalogFetch(0x83BF0001, a, 2, first, sizeof first), zm::kNoSuchMessage);
}

TEST(CatalogService, LogsAtTheLevelGivenAndReportsAFailedWrite) {
  LogCapture log;
  EXPECT_EQ(zm::catalogLog(ZUL_LOG_WARNING, "No row was written.", -1), 0);
  EXPECT_EQ(zm::catalogLog(ZUL_LOG_PLAIN, "plain\nsecond", 12), 0);
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[0], std::make_pair(3, std::string("WARNING: No row was written.")));
  EXPECT_EQ(log.lines[1].second, "plain");
  EXPECT_EQ(log.lines[2].second, "second");
  log.fail = true;
  EXPECT_EQ(zm::catalogLog(ZUL_LOG_NOTE, "x", 1), zm::kLogWriteFailed);
}

TEST(LogWriter, ContinuationLinesAlignUnderTheText) {
  LogCapture log;
  EXPECT_TRUE(zm::writeLog(ZUL_LOG_ERROR, "first\nsecond"));
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].second, "ERROR: first");
  EXPECT_EQ(log.lines[1].second, "       second");
  // A plain line that brings its own severity word (the parser's errors)
  // aligns alike: a quoted name holding "\nERROR: x" cannot forge a line.
  EXPECT_TRUE(zm::writeLog(ZUL_LOG_PLAIN, "ERROR: p.zul:1:13: Table a\nERROR: b.csv"));
  EXPECT_TRUE(zm::writeLog(ZUL_LOG_PLAIN, "plain\ntext"));
  ASSERT_EQ(log.lines.size(), 6u);
  EXPECT_EQ(log.lines[3].second, "       ERROR: b.csv");
  EXPECT_EQ(log.lines[5].second, "text");
}

// Text from data files may hold any byte; what reaches an output is valid
// UTF-8 without control bytes, with the others shown as \xNN.
TEST(Printable, KeepsUtf8AndEscapesEveryOtherByte) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain ascii", "plain ascii"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x99\x82", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x99\x82"},
      {"caf\xE9", "caf\\xE9"},                       // a Latin-1 letter
      {std::string("n\0l", 3), "n\\x00l"},           // NUL
      {"x\xFFy", "x\\xFFy"},
      {"\xC0\xAF", "\\xC0\\xAF"},                    // overlong '/'
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // a surrogate
      {"\xE2\x82", "\\xE2\\x82"},                    // cut short
      {"tab\tand\nline", "tab\tand\nline"},
      {"bell\x07", "bell\\x07"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(zm::printable(in), out) << in;
  EXPECT_EQ(zm::printableLine("tab\tand\nline caf\xE9"), "tab\\x09and\\x0Aline caf\\xE9");
}

TEST(Printable, TheLogWriterAndTheByGroupAndLocationPlaceholders) {
  LogCapture log;
  zm::writeLog(ZUL_LOG_NOTE, "value caf\xE9");
  zm::message(230, 6, nullptr, 0);
  zm::setByGroup("g=1");
  zm::message(230, 6, nullptr, 0);
  zm::setByGroup({});
  // The option named through an argument (%@{%1=}) is looked up by name.
  zm::setLocator([](const std::string& name) { return name == "PREROTATE=" ? "p.zul:3:8" : ""; });
  const zul_arg args[2] = {txtArg("PREROTATE"), dblArg(0)};
  zm::message(180, 945, args, 2);
  zm::setLocator({});
  // A line feed in a BY value or in a value read from a table stays on the
  // message's line; a percent sign in it is text, not a placeholder.
  zm::setByGroup("g=two\nlines");
  zm::message(230, 6, nullptr, 0);
  zm::setByGroup({});
  const zul_arg row[4] = {txtArg(""), txtArg("CORR"), intArg(5), txtArg("BAD\nERROR: %1 %s")};
  zm::message(230, 63, row, 4);
  std::vector<std::string> lines;
  for (const auto& entry : log.lines) lines.push_back(entry.second);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_NE(lines[4].find("in the BY group g=two\\x0Alines ("), std::string::npos) << lines[4];
  EXPECT_NE(lines[5].find("line 5: the _TYPE_ value \"BAD\\x0AERROR: %1 %s\" names"),
            std::string::npos) << lines[5];
  EXPECT_EQ(lines[3].rfind("ERROR: p.zul:3:8: PREROTATE=PROMAX(0) is out of range", 0), 0u)
      << lines[3];
  EXPECT_EQ(lines[0], "NOTE: value caf\\xE9");
  EXPECT_EQ(lines[1].find("BY group"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("No usable observation is left in the BY group g=1 ("),
            std::string::npos) << lines[2];
}
