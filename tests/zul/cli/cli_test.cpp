// The command line: every option in both GNU forms, sources in order, and
// the refusals.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>

#include "zul/cli.hpp"
#include "zul/help_topics.hpp"
#include "zul/program/runner.hpp"
#include "zul/services/options.hpp"

namespace {

using zul::CommandLine;
using zul::parseCommandLine;

TEST(CommandLine, OptionsInBothFormsAndSourcesInOrder) {
  CommandLine cl = parseCommandLine({"--listing", "a.lst", "--html=r.html", "--json", "o.json",
                                     "--log=x.log", "--lib", "study=data", "--work", "w",
                                     "--option=THREADS=NO", "--option", "SET:zacorr_threads=2",
                                     "--option", "-zsqlsco1", "first.zul", "-e", "FACTOR; RUN;", "second.zul"});
  ASSERT_EQ(cl.action, CommandLine::Action::Run) << cl.error;
  const auto& o = cl.options;
  EXPECT_EQ(o.listing, "a.lst");
  EXPECT_EQ(o.html, "r.html");
  EXPECT_EQ(o.json, "o.json");
  EXPECT_EQ(o.log, "x.log");
  EXPECT_EQ(o.work, "w");
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(o.libraries, (Pairs{{"study", "data"}}));
  // A switch without a level, as in OPTIONS.
  EXPECT_EQ(o.options, (Pairs{{"THREADS", "NO"}, {"SET:zacorr_threads", "2"}, {"-zsqlsco1", ""}}));
  ASSERT_EQ(o.sources.size(), 3u);
  EXPECT_FALSE(o.sources[0].isInline);
  EXPECT_TRUE(o.sources[1].isInline);
  EXPECT_EQ(o.sources[1].text, "FACTOR; RUN;");
  EXPECT_EQ(o.sources[2].text, "second.zul");
}

TEST(CommandLine, HelpVersionAndRefusals) {
  EXPECT_EQ(parseCommandLine({"--help"}).action, CommandLine::Action::Help);
  EXPECT_EQ(parseCommandLine({"p.zul", "-h"}).action, CommandLine::Action::Help);
  EXPECT_EQ(parseCommandLine({"--version"}).action, CommandLine::Action::Version);
  for (auto args : std::vector<std::vector<std::string>>{
           {},                          // nothing to run
           {"--frobnicate", "p.zul"},   // unknown option
           {"p.zul", "--json"},         // value missing
           {"--lib", "study", "p.zul"}, // not NAME=DIR
           {"--option", "=1", "p.zul"},
           {"--json=", "p.zul"},        // an empty value ("--json=$OUT", OUT unset)
           {"--work", "", "p.zul"},
           {"--lib", "study=", "p.zul"},
           {"--version=2"},             // a value where none is taken
           {"-", "p.zul", "-"}}) {      // standard input twice: the second is empty
    CommandLine cl = parseCommandLine(args);
    EXPECT_EQ(cl.action, CommandLine::Action::Error);
    EXPECT_FALSE(cl.error.empty());
  }
  // A misspelt option names the nearest one.
  EXPECT_EQ(parseCommandLine({"--listng", "out.lst", "p.zul"}).error,
            "unknown option '--listng'; did you mean '--listing'?");
  // A line feed in an argument cannot start a line of its own.
  EXPECT_EQ(parseCommandLine({"--x\nERROR: y", "p.zul"}).error,
            "unknown option '--x\\x0AERROR: y'");
  // A file option whose value was forgotten does not take the next option as its file.
  EXPECT_EQ(parseCommandLine({"--json", "-e", "RUN;"}).error,
            "the option '--json' needs a value, but '-e' follows it (write --json=-e for a name "
            "that starts with '-')");
  EXPECT_EQ(parseCommandLine({"--json=-e", "p.zul"}).options.json, "-e");
  // An output given twice: the first would silently not be written.
  EXPECT_EQ(parseCommandLine({"--json", "a.json", "--json=b.json", "p.zul"}).error,
            "the option '--json' is given twice ('a.json' and 'b.json'); give it once");
  for (const char* o : {"--listing", "--html", "--graphs", "--log", "--work"})
    EXPECT_EQ(parseCommandLine({o, "a", o, "b", "p.zul"}).action, CommandLine::Action::Error) << o;
  EXPECT_EQ(parseCommandLine({"--log", "a", "--log=a", "p.zul"}).options.log, "a");
  // After "--" everything is a program, even "-e".
  CommandLine cl = parseCommandLine({"--", "-e"});
  ASSERT_EQ(cl.action, CommandLine::Action::Run);
  EXPECT_FALSE(cl.options.sources[0].isInline);
}

TEST(CommandLine, HelpDocumentsEveryOption) {
  std::string help = zul::helpText();
  for (const char* word : {"--listing", "--html", "--json", "--log", "--lib", "--work",
                           "--option", "-e", "VALIDVARNAME", "DEBUG", "THREADS", "CPUCOUNT", "LINESIZE",
                           "LIBNAME", "OPTIONS", "FACTOR", "Exit status"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
  // Every host option the runner accepts without a warning is listed.
  for (const std::string& name : zul::services::HostOptions::knownNames())
    EXPECT_NE(help.find(name), std::string::npos) << name;
}

TEST(ExitStatus, CompletionCodesMapToThreeStatuses) {
  for (const auto& [code, status] : std::vector<std::pair<int, int>>{
           {0, 0}, {4, 0}, {5, 1}, {112, 1}, {999, 1}, {1000, 2}, {9999, 2}})
    EXPECT_EQ(zul::program::exitStatusOf(code), status) << code;
}

}  // namespace

// `zul --help FACTOR` prints the page docs/factor-options.md as it stands
// (embedded at build time): the help and the page are one text.
TEST(CommandLine, HelpTopicIsTheOptionReference) {
  EXPECT_EQ(parseCommandLine({"--help", "FACTOR"}).helpTopic, "FACTOR");
  EXPECT_EQ(parseCommandLine({"--help=factor"}).helpTopic, "factor");
  EXPECT_EQ(parseCommandLine({"--help", "survey.zul"}).helpTopic, "");
  std::ifstream in(std::string(ZUL_SOURCE_DIR) + "/docs/factor-options.md");
  std::stringstream page;
  page << in.rdbuf();
  std::optional<std::string> text = zul::helpTopicText("factor");
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, page.str());
  EXPECT_FALSE(zul::helpTopicText("ROTATE").has_value());
  EXPECT_NE(zul::helpText().find("principal components"), std::string::npos);
}
