#include "zul/cli.hpp"

#include <cctype>
#include <iterator>

#include "zul/messages/messages.hpp"
#include "zul/parse/suggest.hpp"

namespace zul {

namespace {

bool splitPair(const std::string& text, std::string& name, std::string& value) {
  auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  name = text.substr(0, eq);
  value = text.substr(eq + 1);
  return true;
}

// A word after --help names a topic (FACTOR); a program path does not.
bool isTopicWord(const std::string& arg) {
  if (arg.empty()) return false;
  for (char c : arg)
    if (!std::isalpha(static_cast<unsigned char>(c))) return false;
  return true;
}

// The option's one value in o, for the options that take a single path.
// Given twice with two paths, the first would be neither written nor read,
// yet the run would end as if it had been: that is refused.
std::string* singleValued(program::RunOptions& o, const std::string& name) {
  if (name == "--listing") return &o.listing;
  if (name == "--html") return &o.html;
  if (name == "--graphs") return &o.graphs;
  if (name == "--json") return &o.json;
  if (name == "--log") return &o.log;
  if (name == "--work") return &o.work;
  return nullptr;
}

}  // namespace

std::string versionText() { return "zul 0.1.0 (zul factor)\n"; }

std::string helpText() {
  return R"(Usage: zul [OPTION]... PROGRAM.zul...
       zul [OPTION]... -e 'STATEMENTS'

Runs zul factor programs: exploratory factor analysis and principal
components. Programs and -e texts run in the order given; a program named
'-' is read from standard input.

Output:
  --listing FILE       write the text listing to FILE (default: standard output)
  --html FILE          write an HTML report to FILE: every table, and the
                       graphs PLOTS= asks for drawn inline
  --graphs DIR         write each graph PLOTS= asks for as an SVG file in DIR
                       (created when missing)
  --json FILE          write every output table to FILE as JSON
  --log FILE           write notes, warnings and errors to FILE
                       (default: standard error)

Tables:
  --lib NAME=DIR       map the library NAME to the directory DIR, as
                       LIBNAME NAME 'DIR';
  --work DIR           the WORK library: where one-level table names are
                       read and written (default: the current directory)

Options:
  --option NAME=VALUE  set a host option, as OPTIONS NAME=VALUE;
                         VALIDVARNAME=V7|V6|UPCASE|ANY   variable names
                         DEBUG=TEXT      module debug switches (SYN, SEM)
                         THREADS=YES|NO  threaded computation (default YES;
                                         also OPTIONS THREADS; or NOTHREADS;)
                         CPUCOUNT=N|ACTUAL  processors to use, 1 to 1024
                                         (default ACTUAL: all)
                         LINESIZE=N      widest listing line, 40 to 1000
                                         (default 120); wider tables are
                                         printed in panels
                         INDB=YES|NO     summarise a database table in its
                                         database (default YES)
                         SQLECHO=YES|NO  log the SQL run there (default NO)
                         INDBNOTES=YES|NO  note the rows of each BY group
                                         written there (default NO)
                         SQLPASSES=1|2   crossproducts about the group
                                         means (2, default) or about the
                                         first usable row (1)
                         -SWITCH=LEVEL   a diagnostic switch, e.g. -zacorr=1
                         SET:NAME=NUMBER a named setting, as OPTIONS SET
                                         NAME=NUMBER; (e.g. zacorr_threads)
  -q, --quiet          no progress line (it is shown on standard error
                       when that is a terminal and a step takes a while)
  -e, --execute TEXT   run the statements in TEXT; repeated -e texts form
                       one program, each on a line of its own
  -h, --help           show this help and exit
      --help FACTOR    every FACTOR statement and option with its values,
                       default and meaning (also docs/factor-options.md)
  -V, --version        show the version and exit

Program syntax:
  Statements end with ';'. Comments are /* ... */ and '* ... ;'.
  LIBNAME name 'directory';          a library is a directory of tables
  LIBNAME name SQLITE 'file.db';     ... or the tables of a database
  LIBNAME name POSTGRES 'conninfo';  (a libpq connection string)
  OPTIONS name=value ...;            host options (as --option); also
                                     OPTIONS SET name=number; and -switch
  FACTOR DATA=lib.table ...;         a factor analysis step, with VAR,
    VAR ...; BY ...; PARTIAL ...;    PARTIAL, PRIORS, FREQ, WEIGHT, BY,
  RUN;                               FORMAT and PATHDIAGRAM statements, ended
                                     by RUN;, the next step or the end of
                                     the program
  CROSSPRODUCTS DATA=t OUT=lib._MKXPX_;  the counts, sums and crossproducts
                                     of t (VAR, BY, FREQ, WEIGHT; ADD= adds
                                     another such table), which FACTOR
                                     DATA=lib._MKXPX_ analyses
  Without METHOD= and PRIORS=, FACTOR computes principal components
  (PRIORS=ONE). For common factors add PRIORS=SMC (principal factors)
  or write METHOD=ML. Every option: zul --help FACTOR.

Tables are CSV files: lib.member is DIR/member.csv, a one-level name is in
WORK, and a quoted name is a path. Table attributes (TYPE=, labels) live in
member.csv-metadata.json beside the file (CSV on the Web). DATA= omitted
means the table created last in the run. In a database library lib.member
is the table of that name (found without regard to case).

Examples:
  zul survey.zul                      run a program; the listing goes to
                                      standard output
  zul --html survey.html survey.zul   also write an HTML report
  zul -e "LIBNAME d 'data';" -e "FACTOR DATA=d.survey NFACTORS=2; VAR q1-q12;"
                                      statements given inline; several -e
                                      texts form one program

Exit status:
  0  every step ended with completion code 4 or less
  1  some step ended with a completion code from 5 to 999
  2  a step was stopped (code 1000 or more), a program, host statement or
     command-line option could not be used, or an output could not be
     written
  130, 143  interrupted by Ctrl-C or SIGTERM (unfinished tables removed,
            the log kept)
)";
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  auto fail = [&](std::string why) {
    cl.action = CommandLine::Action::Error;
    cl.error = messages::printableLine(why);  // a line feed in an argument escaped
    return cl;
  };
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      // A second "-" would read an empty program: the first took all of it.
      for (const auto& s : cl.options.sources)
        if (a == "-" && !s.isInline && s.text == "-")
          return fail("standard input ('-') can be read only once; give it one time");
      cl.options.sources.push_back({false, a});
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = a, value;
    bool hasValue = false;
    if (a.rfind("--", 0) == 0) {
      auto eq = a.find('=');
      if (eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        hasValue = true;
      }
    }
    if (name == "-h" || name == "--help") {
      cl.action = CommandLine::Action::Help;
      if (hasValue) cl.helpTopic = value;
      else if (i + 1 < args.size() && isTopicWord(args[i + 1])) cl.helpTopic = args[i + 1];
      return cl;
    }
    if ((name == "-V" || name == "--version" || name == "--quiet") && hasValue)
      return fail("the option '" + name + "' takes no value, not '" + value + "'");
    if (name == "-V" || name == "--version") {
      cl.action = CommandLine::Action::Version;
      return cl;
    }
    if (name == "-q" || name == "--quiet") {
      cl.options.quiet = true;
      continue;
    }
    static const char* const withValue[] = {"--listing", "--html", "--graphs", "--json", "--log",  "--lib",
                                            "--work",    "--option", "-e", "--execute"};
    bool known = false;
    for (const char* w : withValue) known = known || name == w;
    if (!known) {
      std::vector<std::string> all(std::begin(withValue), std::end(withValue));
      for (const char* w : {"--help", "--version", "--quiet"}) all.emplace_back(w);
      std::string near = parse::nearestWord(name, all);
      return fail("unknown option '" + a + "'" + (near.empty() ? "" : "; did you mean '" + near + "'?"));
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) return fail("the option '" + name + "' needs a value");
      // "--json -e 'RUN;'" lost its file name: taking -e as the file would
      // then read the statements as a program file's name.
      const std::string& next = args[i + 1];
      bool nextIsOption = next == "-q" || next == "--quiet" || next == "-h" || next == "--help" ||
                          next == "-V" || next == "--version";
      for (const char* w : withValue) nextIsOption = nextIsOption || next == w;
      if (nextIsOption && name != "-e" && name != "--execute")
        return fail("the option '" + name + "' needs a value, but '" + next +
                    "' follows it (write " + name + "=" + next + " for a name that starts with '-')");
      value = args[++i];
    }
    // "--json=$OUT" with OUT unset would otherwise fall back to no report
    // (or the current directory, or standard output) and end with status 0.
    if (value.empty() && name != "-e" && name != "--execute")
      return fail("the option '" + name + "' needs a value, but it is empty");
    auto& o = cl.options;
    if (std::string* single = singleValued(o, name)) {
      if (!single->empty() && *single != value)
        return fail("the option '" + name + "' is given twice ('" + *single + "' and '" + value +
                    "'); give it once");
      *single = value;
    } else if (name == "-e" || name == "--execute") o.sources.push_back({true, value});
    else {
      std::string n, v;
      // A diagnostic switch may be given without a level, as in OPTIONS.
      if (name == "--option" && value.size() > 1 && value[0] == '-' &&
          value.find('=') == std::string::npos) {
        o.options.emplace_back(value, "");
        continue;
      }
      if (!splitPair(value, n, v) || (name == "--lib" && v.empty()))
        return fail("the option '" + name + "' takes NAME=VALUE, not '" + value + "'");
      if (name == "--lib") o.libraries.emplace_back(n, v);
      else o.options.emplace_back(n, v);
    }
  }
  if (cl.options.sources.empty()) return fail("no program given (write a PROGRAM.zul or -e 'STATEMENTS')");
  return cl;
}

}  // namespace zul
