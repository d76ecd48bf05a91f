#include "zul/program/runner.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <unistd.h>

#include "sqlgen/put_format.hpp"
#include "zul/messages/messages.hpp"
#include "zul/output/report.hpp"
#include "zul/parse/program.hpp"
#include "zul/parse/suggest.hpp"
#include "zul/program/crossproducts.hpp"
#include "zul/program/graph_files.hpp"
#include "zul/program/output_files.hpp"
#include "zul/services/progress.hpp"
#include "zul/services/service_vector.hpp"
#include "zul/services/session.hpp"
#include "zul/services/threads.hpp"
#include "zul/services/workfile.hpp"
#include "zul/table/places.hpp"

namespace zul::program {

namespace {

namespace fs = std::filesystem;
namespace msg = zul::messages;
namespace progress = zul::services::progress;
using services::session;
using services::Session;
using services::StepContext;

// A relative directory or SQLite file is taken from the current directory,
// not the program's: the LIBNAME note says where that is.
std::string whereRelative(const parse::ProgramItem& item) {
  if (item.engine == "POSTGRES" || item.path.rfind("file:", 0) == 0) return {};
  const fs::path p(item.path);
  if (p.is_absolute()) return {};
  std::error_code ec;
  const fs::path full = fs::absolute(p, ec).lexically_normal();
  return ec ? std::string() : " (" + full.string() + ")";
}

// Reads all of standard input into text; false, with errno set, when it
// cannot be read (a directory, or closed when zul started): that is no
// empty program.
bool readStandardInput(std::string& text) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    text.append(buffer, static_cast<size_t>(n));
  }
}

// Every line the runner writes is one sentence, which may name a file, a
// table or a variable holding a line feed.
void logLine(int level, const std::string& text) { msg::writeLogLine(level, text); }

// The BY values of the group DATA= has just entered, for the listing's BY
// line and the JSON "by" object.
std::vector<output::ByValue> byValuesOf(const table::InputTable& input) {
  std::vector<output::ByValue> out;
  const auto& by = input.by().variables;
  const auto& cols = input.byColumns();
  for (size_t k = 0; k < by.size() && k < cols.size(); ++k) {
    const table::Column& c = input.columns()[static_cast<size_t>(cols[k])];
    output::ByValue v;
    v.name = c.name;
    // A formatted BY variable shows its group's value as the format writes it.
    const auto format = sqlgen::parsePutFormat(c.format);
    if (c.isCharacter()) {
      v.text = std::string(input.byText(static_cast<int>(k)));
      if (format) v.text = sqlgen::putText(v.text, *format);
      v.missing = v.text.empty();
    } else {
      double x = input.byNumber(static_cast<int>(k));
      v.missing = table::isMissing(x);
      if (!v.missing) v.number = x;
      v.text = v.missing ? "" : table::formatNumber(x);
      // The group is the formatted value, so that is its number too.
      if (!v.missing && format) {
        v.text = sqlgen::shownNumber(x, *format);
        double shown = 0;
        std::from_chars(v.text.data(), v.text.data() + v.text.size(), shown);
        v.number = shown;
      }
    }
    if (v.missing) v.text = ".";
    out.push_back(std::move(v));
  }
  return out;
}

class Runner {
 public:
  explicit Runner(const RunOptions& options) : options_(options) {}
  // The log writer refers to this runner and its log file.
  ~Runner() {
    msg::setLogWriter({});
    session().onWithheld = {};
  }
  int run();

 private:
  void readPrograms();
  bool checkOutputs();
  std::vector<std::pair<std::string, std::string>> reportPaths() const;
  bool withheld(const std::string& role, const std::string& path) const;
  bool setUpOutputs();
  void openReportParts(output::ReportOptions& ro);
  int stopBeforeSteps();
  void checkWrites();
  void finishOutputs();
  void applyOption(const parse::OptionSetting& o, const std::string& where);
  void runProgram(const parse::Program& program);
  void unreadHostStatement(const parse::ProgramItem& item, const std::string& file);
  void runStep(const parse::ProgramItem& item, const std::string& file);
  void worsen(int status) { status_ = std::max(status_, status); }

  // The report files other than the log: what a message calls each, the
  // option that names it, and its path (empty: not asked for).
  struct ReportFile {
    OutputFile* file;
    const char* role;
    const char* option;
    const std::string* path;
  };
  std::array<ReportFile, 3> reportFiles() {
    return {ReportFile{&listingFile_, "listing", "--listing", &options_.listing},
            ReportFile{&jsonFile_, "JSON", "--json", &options_.json},
            ReportFile{&htmlFile_, "HTML report", "--html", &options_.html}};
  }

  const RunOptions& options_;
  int status_ = kExitOk;
  std::vector<parse::Program> programs_;
  OutputFile logFile_, listingFile_, jsonFile_, htmlFile_;
  // The JSON file's tables and the HTML report's contents and body, written
  // as the tables are published and joined when the run ends.
  ScratchStream jsonTables_, htmlContents_, htmlBody_;
  std::ostream* log_ = &std::cerr;
  std::ostream* listing_ = &std::cout;
  bool logFailed_ = false, listingFailed_ = false;
  std::unique_ptr<output::Report> report_;
  services::Module module_;
  bool moduleTried_ = false;
  std::string moduleError_;
  std::string optionsFailed_;  // the first refused option or OPTIONS statement, and where
  std::atomic<int> errorLines_{0};  // ERROR lines written to the log so far
};

// Reads every program before anything is written, so that no output can
// overwrite one. Consecutive -e texts form one program, a line each.
void Runner::readPrograms() {
  const auto& sources = options_.sources;
  for (size_t i = 0; i < sources.size(); ++i) {
    const Source& src = sources[i];
    if (src.isInline) {
      std::string text = src.text;
      while (i + 1 < sources.size() && sources[i + 1].isInline) text += "\n" + sources[++i].text;
      programs_.push_back(parse::readProgramText(text, "-e"));
    } else if (src.text == "-") {
      table::Place in{"program on standard input", table::fileKeys("/dev/stdin")};
      if (!in.keys.empty()) in.keys.resize(1);  // the file's identity, not /proc's path
      session().runInputs.push_back(std::move(in));
      std::string text;
      if (!readStandardInput(text)) {
        parse::Program p;
        p.file = "stdin";
        p.items.emplace_back().errors.push_back(
            std::string("ERROR: The program on standard input ('-') cannot be read: ") +
            std::strerror(errno) + "; redirect a program file to zul, or name the file instead.");
        programs_.push_back(std::move(p));
        continue;
      }
      programs_.push_back(parse::readProgramText(text, "stdin"));
    } else if (std::error_code ec; fs::is_directory(src.text, ec)) {
      parse::Program p;
      p.file = src.text;
      p.items.emplace_back().errors.push_back("ERROR: " + src.text +
                                              " is a directory, not a program file.");
      programs_.push_back(std::move(p));
    } else {
      session().runInputs.push_back(table::filePlace("program " + src.text, src.text));
      programs_.push_back(parse::readProgram(src.text));
    }
  }
}

// Refuses outputs that would overwrite a program, or each other; the steps
// check their tables against these (services/session.cpp).
bool Runner::checkOutputs() {
  Session& s = session();
  for (const auto& [role, path] : reportPaths()) {
    std::error_code ec;
    std::string problem;
    table::Place place = table::filePlace(role + " file " + path, path);
    if (fs::is_directory(path, ec))
      problem = "The " + role + " file " + path + " is a directory; give a file name.";
    else
      problem = table::outputClash(place, s.runInputs, s.runOutputs);
    if (!problem.empty()) {
      std::cerr << "ERROR: " << problem << "\n";
      return false;
    }
    s.runOutputs.push_back(std::move(place));
  }
  if (!options_.graphs.empty()) {
    std::string problem = prepareGraphDirectory(options_.graphs);
    if (!problem.empty()) {
      std::cerr << "ERROR: " << problem << "\n";
      return false;
    }
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> Runner::reportPaths() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [role, path] : {std::pair{"--listing", &options_.listing},
                                   std::pair{"--log", &options_.log},
                                   std::pair{"--json", &options_.json},
                                   std::pair{"--html", &options_.html}})
    if (!path->empty()) out.emplace_back(role, *path);
  return out;
}

// True when a step found that the report on path is one of its inputs:
// the report is then not put in place.
bool Runner::withheld(const std::string& role, const std::string& path) const {
  const auto& w = session().withheld;
  return std::find(w.begin(), w.end(), role + " file " + path) != w.end();
}

bool Runner::setUpOutputs() {
  if (!options_.log.empty()) {
    std::string error = logFile_.open("log", options_.log);
    if (!error.empty()) {
      std::cerr << "ERROR: " << error << "\n";
      return false;
    }
    log_ = &logFile_.stream();
    // An interrupted run keeps its log, unless a step reads the log's file.
    logFile_.keepOnInterrupt(true);
    session().onWithheld = [this](const std::string& description) {
      if (description == "--log file " + options_.log) logFile_.keepOnInterrupt(false);
    };
  }
  progress::enable(!options_.quiet && ::isatty(STDERR_FILENO) == 1);
  msg::setLogWriter([this](int level, std::string_view line) {
    if (level == ZUL_LOG_ERROR || line.rfind("ERROR:", 0) == 0) ++errorLines_;
    auto write = [&] {
      *log_ << line << '\n';
      log_->flush();
    };
    if (log_ == &std::cerr && progress::enabled()) progress::eraseForLog(write);
    else write();
    return static_cast<bool>(*log_);
  });
  // The report files are created now: a path that cannot be written is
  // known before the analysis, not after it.
  for (const ReportFile& w : reportFiles()) {
    if (w.path->empty()) continue;
    std::string error = w.file->open(w.role, *w.path);
    if (!error.empty()) {
      logLine(ZUL_LOG_ERROR, error);
      return false;
    }
  }
  if (listingFile_.isOpen()) listing_ = &listingFile_.stream();
  output::ReportOptions ro;
  ro.listing = listing_;
  ro.graphics = !options_.html.empty() || !options_.graphs.empty();
  ro.keepTables = !options_.html.empty() || !options_.json.empty();
  ro.keepGraphs = !options_.graphs.empty();
  openReportParts(ro);
  ro.maxLineSize = [] {
    std::optional<std::string> v = session().options.get("LINESIZE");
    return v ? std::atoi(v->c_str()) : output::kDefaultMaxLineSize;
  };
  report_ = std::make_unique<output::Report>(ro);
  output::setCurrentReport(report_.get());
  services::setSinkDispatch(&output::serviceDispatch);
  services::setStatusTextProvider([this](int32_t status) {
    std::string text = output::sinkStatusText(status);
    if (!text.empty() && !report_->lastProblem().empty())
      text += " (" + report_->lastProblem() + ")";
    return text;
  });
  services::setPrintWriter([this](std::string_view text) {
    *listing_ << text << '\n';
  });
  return true;
}

// Ends a run that could not start its steps: the reports opened so far are
// dropped, leaving the files of an earlier run as they were, and the log
// that says why is put in place (removed with them, the reason was lost).
int Runner::stopBeforeSteps() {
  for (const ReportFile& r : reportFiles()) r.file->discard();
  std::string error = logFile_.close();
  if (!error.empty()) std::cerr << "ERROR: " << error << "\n";
  return kExitStopped;
}

// The JSON file and the HTML report are written to scratch files as the
// tables are published: held until the end, a run with thousands of BY
// groups took gigabytes. Without a scratch file they are held as before.
void Runner::openReportParts(output::ReportOptions& ro) {
  std::vector<std::pair<ScratchStream*, std::iostream**>> parts;
  if (!options_.json.empty()) parts.push_back({&jsonTables_, &ro.jsonTables});
  if (!options_.html.empty()) {
    parts.push_back({&htmlContents_, &ro.htmlContents});
    parts.push_back({&htmlBody_, &ro.htmlBody});
  }
  for (auto [scratch, stream] : parts) {
    if (!scratch->open()) {
      ro.jsonTables = ro.htmlContents = ro.htmlBody = nullptr;
      return;
    }
    *stream = &scratch->stream();
  }
}

void Runner::applyOption(const parse::OptionSetting& o, const std::string& where) {
  auto& opts = session().options;
  std::string problem;
  bool known = true;
  if (o.namedSetting) {
    problem = opts.setNamed(o.name, o.value);
  } else if (!o.name.empty() && o.name[0] == '-') {
    problem = opts.setSwitch(o.name, o.hasValue ? o.value : "");
  } else if (o.hasValue) {
    problem = opts.set(o.name, o.value, known);
  } else {
    problem = opts.setBare(o.name, known);
  }
  if (!problem.empty()) {
    logLine(ZUL_LOG_ERROR, where + problem);
    worsen(kExitStopped);
    if (optionsFailed_.empty())
      optionsFailed_ = "the option at " + where.substr(0, where.size() - 2);
  } else if (!known) {
    // Unknown options are kept, since programs carry options meant for other
    // systems; a near miss of a known one is most likely a typing error.
    const std::vector<std::string>& knownOptions = services::HostOptions::knownNames();
    const std::string near = parse::nearestWord(o.name, knownOptions);
    std::string names;
    for (const std::string& k : knownOptions) names += (names.empty() ? "" : ", ") + k;
    logLine(ZUL_LOG_WARNING, where + "The option " + o.name + " is not one zul knows (" + names +
                                 "); it is kept but has no effect." +
                                 (near.empty() ? std::string() : " Did you mean " + near + "?"));
  }
}

void Runner::runStep(const parse::ProgramItem& item, const std::string& file) {
  Session& s = session();
  // CROSSPRODUCTS is the host's own step; every other one is the module's.
  const bool hostStep = item.step.procedure == kCrossproductsStep;
  if (!moduleTried_ && !hostStep) {
    moduleTried_ = true;
    if (!services::loadModule(s.moduleDirectory, module_, moduleError_))
      logLine(ZUL_LOG_ERROR, moduleError_);
  }
  if (!module_.procedure && !hostStep) {
    logLine(ZUL_LOG_PLAIN, parse::errorLine(file, item.pos, "The " + item.step.procedure +
                                                                " step cannot run: the procedure "
                                                                "module is not loaded."));
    worsen(kExitStopped);
    return;
  }
  // Held by pointer: when a worker thread of the step outlives it, the
  // context (its pool in particular) is kept for that thread to use.
  auto owned = std::make_unique<StepContext>();
  StepContext& ctx = *owned;
  ctx.program = file;
  ctx.line = item.pos.line;
  ctx.step = &item.step;
  ctx.index = report_->beginStep(file, item.pos.line);
  s.step = &ctx;
  msg::setLocator([&ctx, &item, &file](const std::string& name) {
    std::string where = ctx.parsed ? ctx.parsed->locationOf(name) : std::string();
    if (!where.empty()) return where;
    return file + ":" + std::to_string(item.pos.line) + ":" + std::to_string(item.pos.column);
  });

  int32_t code = 0, fault = 0;
  const int errorsBefore = errorLines_;
  progress::beginStep("The " + item.step.procedure + " step at " + file + ":" +
                      std::to_string(item.pos.line));
  try {
    code = hostStep ? runCrossproducts(ctx) : module_.procedure();
  } catch (const std::exception& e) {
    logLine(ZUL_LOG_ERROR, std::string("Internal error in the step: ") + e.what());
    code = fault = 9999;
  } catch (...) {
    logLine(ZUL_LOG_ERROR, "Internal error in the step.");
    code = fault = 9999;
  }
  // The exit service recorded the code the step ended with and returned;
  // without that call, what the entry returned counts.
  if (ctx.ended) code = std::max(ctx.completionCode, fault);
  // The module's clean-up handler ran inside the exit service, while the
  // module's state was alive. A procedure that returned or failed
  // otherwise has no state left for it to look at: it is not called, and
  // nothing of the step outlives it (the host releases pool, tables, work
  // files and threads below).
  if (ctx.termination && !ctx.terminationRan && code < 1000) {
    logLine(ZUL_LOG_WARNING, "The procedure ended without the host's exit service; its "
                             "clean-up handler was not run.");
  }
  progress::endStep();
  msg::setByGroup({});
  msg::setLocator({});
  // An error reported during the step never leaves it looking successful:
  // a failed host service (a column declared twice, a row not written)
  // stops it, since its output tables may not match their values; an
  // error the procedure reported but did not count raises its code.
  if (ctx.hostErrors > 0 && code < kCodeStopped) code = kCodeStopped;
  if (errorLines_ > errorsBefore && code <= kCodeWarningMax) code = kCodeErrorReported;
  int runaway = services::joinAllThreads();
  if (runaway > 0) {
    logLine(ZUL_LOG_WARNING, std::to_string(runaway) +
                                 " worker thread(s) of the step did not end; they are left "
                                 "running and their memory is kept.");
    code = std::max(code, 9999);
  }
  services::closeAllWorkFiles();
  // Output tables are kept when the step ran to its end; a stopped step
  // leaves the tables of those names as they were.
  if (!services::finishTables(ctx, code < 1000)) code = std::max(code, 1020);
  report_->endStep(code);
  s.step = nullptr;
  if (runaway > 0) {
    (void)owned.release();  // kept on purpose: a runaway worker may use it
  } else {
    ctx.pool.releaseAll();
  }

  std::string where = file + ":" + std::to_string(item.pos.line);
  if (code >= 1000) {
    logLine(ZUL_LOG_ERROR, "The " + item.step.procedure + " step at " + where +
                               " was stopped (completion code " + std::to_string(code) + ").");
  } else if (code > 4) {
    logLine(ZUL_LOG_WARNING, "The " + item.step.procedure + " step at " + where +
                                 " ended with completion code " + std::to_string(code) + ".");
  } else {
    logLine(ZUL_LOG_NOTE, "The " + item.step.procedure + " step at " + where + " ended normally.");
  }
  worsen(exitStatusOf(code));
  checkWrites();
}

// A host statement that could not be read made none of its settings: the
// steps after an OPTIONS statement would run with other settings than those
// asked for, and a library named again would still be the old one.
void Runner::unreadHostStatement(const parse::ProgramItem& item, const std::string& file) {
  const std::string where = file + ":" + std::to_string(item.pos.line) + ":" +
                            std::to_string(item.pos.column);
  if (item.kind == parse::ProgramItem::Kind::Options && optionsFailed_.empty())
    optionsFailed_ = "the OPTIONS statement at " + where;
  if (item.kind == parse::ProgramItem::Kind::Libname && !item.libref.empty())
    session().libraries->forget(item.libref, "its LIBNAME statement at " + file + ":" +
                                                 std::to_string(item.pos.line) +
                                                 " failed; correct that statement");
}

void Runner::runProgram(const parse::Program& program) {
  Session& s = session();
  // An empty file is most often the wrong one: a run that did nothing
  // should not look like one that succeeded at something.
  if (program.items.empty()) {
    const std::string name = program.file == "-e" ? std::string("given with -e") : program.file;
    logLine(ZUL_LOG_WARNING, "The program " + name +
                                 " holds no statements to run (only blanks, comments or RUN;);"
                                 " nothing was run from it.");
  }
  for (const parse::ProgramItem& item : program.items) {
    if (!item.errors.empty()) {
      for (const std::string& e : item.errors) logLine(ZUL_LOG_PLAIN, e);
      if (item.kind == parse::ProgramItem::Kind::Step)
        logLine(ZUL_LOG_NOTE, "The " + item.step.procedure + " step at " + program.file + ":" +
                                  std::to_string(item.pos.line) + " was skipped.");
      unreadHostStatement(item, program.file);
      worsen(kExitStopped);
      continue;
    }
    switch (item.kind) {
      case parse::ProgramItem::Kind::Libname:
        try {
          // A misspelt SQLite path opens a new, empty database: say so.
          std::error_code ec;
          const bool newFile = item.engine == "SQLITE" && item.path.rfind("file:", 0) != 0 &&
                               !fs::exists(item.path, ec) && !ec;
          if (item.engine.empty()) s.libraries->assign(item.libref, item.path);
          else s.libraries->assignDatabase(item.libref, item.engine, item.path);
          // A connection string is not repeated: it may hold a password.
          logLine(ZUL_LOG_NOTE, "Library " + item.libref + " is " +
                                    s.libraries->describe(item.libref) + whereRelative(item) +
                                    (newFile ? ", a new file, created when a table is written "
                                               "to it"
                                             : "") +
                                    ".");
        } catch (const std::exception& e) {
          logLine(ZUL_LOG_PLAIN, parse::errorLine(program.file, item.pos, e.what()));
          s.libraries->forget(item.libref, "its LIBNAME statement at " + program.file + ":" +
                                               std::to_string(item.pos.line) +
                                               " failed; correct that statement");
          worsen(kExitStopped);
        }
        break;
      case parse::ProgramItem::Kind::Options:
        for (const auto& o : item.options) {
          std::string where = program.file + ":" + std::to_string(o.pos.line) + ":" +
                              std::to_string(o.pos.column) + ": ";
          applyOption(o, where);
        }
        break;
      case parse::ProgramItem::Kind::Step:
        // A step after a refused option would run with settings other
        // than those asked for.
        if (!optionsFailed_.empty()) {
          logLine(ZUL_LOG_NOTE, "The " + item.step.procedure + " step at " + program.file + ":" +
                                    std::to_string(item.pos.line) +
                                    " was skipped: " + optionsFailed_ + " was refused.");
          break;
        }
        runStep(item, program.file);
        break;
      case parse::ProgramItem::Kind::Invalid:
        worsen(kExitStopped);
        break;
    }
  }
}

// A listing or log that failed to be written makes the run fail; each is
// reported once (a failed log is reported on standard error).
void Runner::checkWrites() {
  if (!listingFailed_ && !*listing_) {
    listingFailed_ = true;
    logLine(ZUL_LOG_ERROR, options_.listing.empty()
                               ? "The listing could not be written to standard output; it is "
                                 "incomplete."
                               : listingFile_.failure());
    worsen(kExitStopped);
  }
  if (!logFailed_ && !*log_) {
    logFailed_ = true;
    std::cerr << "ERROR: " << (options_.log.empty() ? "The log could not be written." : logFile_.failure())
              << "\n";
    worsen(kExitStopped);
  }
}

// Writes the JSON file and the HTML report, and closes every output.
void Runner::finishOutputs() {
  if (jsonFile_.isOpen()) report_->writeJson(jsonFile_.stream());
  if (htmlFile_.isOpen()) {
    // The page is named after the programs it reports on.
    std::string title;
    for (const parse::Program& p : programs_)
      title += (title.empty() ? "" : ", ") + (p.file == "-e" ? std::string("statements given with -e") : p.file);
    title += " (zul factor)";
    report_->writeHtml(htmlFile_.stream(), title);
  }
  if (!options_.graphs.empty()) {
    GraphFiles graphs = writeGraphFiles(report_->model(), options_.graphs, session().runInputs,
                                        session().runOutputs);
    for (const std::string& problem : graphs.problems) {
      logLine(ZUL_LOG_ERROR, problem);
      worsen(kExitStopped);
    }
    if (!graphs.earlier.empty())
      logLine(ZUL_LOG_WARNING, earlierGraphsWarning(options_.graphs, graphs.earlier));
  }
  listing_->flush();
  checkWrites();
  for (const ReportFile& r : reportFiles()) {
    if (!r.file->isOpen()) continue;
    if (withheld(r.option, *r.path)) {
      r.file->discard();
      logLine(ZUL_LOG_ERROR, std::string("The ") + r.option + " file " + *r.path +
                                 " is not written: a step reads it (see above).");
      worsen(kExitStopped);
      continue;
    }
    std::string error = r.file->close();
    if (!error.empty() && !(r.file == &listingFile_ && listingFailed_)) {
      logLine(ZUL_LOG_ERROR, error);
      worsen(kExitStopped);
    }
  }
  if (logFile_.isOpen() && withheld("--log", options_.log)) {
    // The log is not put in place; it is shown rather than lost.
    std::cerr << logFile_.writtenText() << "ERROR: The --log file " << options_.log
              << " is not written: a step reads it (see above).\n";
    logFile_.discard();
    worsen(kExitStopped);
    return;
  }
  std::string error = logFile_.close();
  if (!error.empty() && !logFailed_) {
    std::cerr << "ERROR: " << error << "\n";
    worsen(kExitStopped);
  }
}

int Runner::run() {
  readPrograms();
  if (!checkOutputs()) return kExitStopped;
  if (!setUpOutputs()) return stopBeforeSteps();
  Session& s = session();
  s.moduleDirectory = options_.moduleDirectory.empty() ? services::executableDirectory()
                                                       : fs::path(options_.moduleDirectory);
  fs::path work = options_.work.empty() ? fs::current_path() : fs::path(options_.work);
  std::error_code ec;
  if (!fs::is_directory(work, ec)) {
    // A file of that name exists: "does not exist" would send the user looking
    // for the wrong fault.
    const bool other = fs::exists(work, ec);
    logLine(ZUL_LOG_ERROR, "The WORK directory " + work.string() +
                               (other ? " is not a directory; give a directory with --work."
                                      : " does not exist; create it or give another with --work."));
    return stopBeforeSteps();
  }
  s.libraries = std::make_unique<table::Libraries>(work);
  s.onByGroup = [this](zul_table* data) {
    if (data && data->input) report_->setBy(byValuesOf(*data->input));
  };
  for (const auto& [name, dir] : options_.libraries) {
    try {
      s.libraries->assign(name, dir);
    } catch (const std::exception& e) {
      logLine(ZUL_LOG_ERROR, std::string("--lib ") + name + "=" + dir + ": " + e.what());
      return stopBeforeSteps();
    }
  }
  for (const auto& [name, value] : options_.options) {
    parse::OptionSetting o;
    o.name = name;
    for (char& c : o.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    o.value = value;
    o.hasValue = !(!o.name.empty() && o.name[0] == '-' && value.empty());  // -SWITCH: level 1
    if (o.name.rfind("SET:", 0) == 0) {
      o.name = o.name.substr(4);
      o.namedSetting = true;
    }
    applyOption(o, "--option " + name + (o.hasValue ? "=" + value : "") + ": ");
    if (status_ == kExitStopped) return stopBeforeSteps();
  }
  services::setWorkDirectory({});

  for (const parse::Program& program : programs_) {
    runProgram(program);
    checkWrites();
  }
  finishOutputs();
  output::setCurrentReport(nullptr);
  services::setSinkDispatch(nullptr);
  services::setStatusTextProvider(nullptr);
  return status_;
}

}  // namespace

int exitStatusOf(int completionCode) {
  if (completionCode <= 4) return kExitOk;
  if (completionCode < 1000) return kExitWarnings;
  return kExitStopped;
}

int run(const RunOptions& options) {
  int status = kExitOk;
  {
    Runner runner(options);
    status = runner.run();
  }
  // The databases are closed here, while the services their connections
  // use on closing still exist; at exit, the session outlives them.
  session().libraries.reset();
  return status;
}

}  // namespace zul::program
