#include "zul/program/runner.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "zul/messages/messages.hpp"
#include "zul/output/report.hpp"
#include "zul/parse/program.hpp"
#include "zul/services/service_vector.hpp"
#include "zul/services/session.hpp"
#include "zul/services/threads.hpp"
#include "zul/services/workfile.hpp"

namespace zul::program {

namespace {

namespace fs = std::filesystem;
namespace msg = zul::messages;
using services::session;
using services::Session;
using services::StepContext;

void logLine(int level, const std::string& text) { msg::writeLog(level, text); }

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
    if (c.isCharacter()) {
      v.text = std::string(input.byText(static_cast<int>(k)));
      v.missing = v.text.empty();
    } else {
      double x = input.byNumber(static_cast<int>(k));
      v.missing = table::isMissing(x);
      if (!v.missing) v.number = x;
      v.text = v.missing ? "" : table::formatNumber(x);
    }
    if (v.missing) v.text = ".";
    out.push_back(std::move(v));
  }
  return out;
}

class Runner {
 public:
  explicit Runner(const RunOptions& options) : options_(options) {}
  int run();

 private:
  bool setUpOutputs();
  void applyOption(const parse::OptionSetting& o, const std::string& where);
  void runProgram(const parse::Program& program);
  void runStep(const parse::ProgramItem& item, const std::string& file);
  void worsen(int status) { status_ = std::max(status_, status); }

  const RunOptions& options_;
  int status_ = kExitOk;
  std::ofstream logFile_, listingFile_;
  std::ostream* log_ = &std::cerr;
  std::ostream* listing_ = &std::cout;
  std::unique_ptr<output::Report> report_;
  services::Module module_;
  bool moduleTried_ = false;
  std::string moduleError_;
};

bool Runner::setUpOutputs() {
  if (!options_.log.empty()) {
    logFile_.open(options_.log);
    if (!logFile_) {
      std::cerr << "ERROR: The log file " << options_.log << " cannot be written.\n";
      return false;
    }
    log_ = &logFile_;
  }
  msg::setLogWriter([this](int, std::string_view line) {
    *log_ << line << '\n';
    log_->flush();
    return static_cast<bool>(*log_);
  });
  if (!options_.listing.empty()) {
    listingFile_.open(options_.listing);
    if (!listingFile_) {
      logLine(ZUL_LOG_ERROR, "The listing file " + options_.listing + " cannot be written.");
      return false;
    }
    listing_ = &listingFile_;
  }
  output::ReportOptions ro;
  ro.listing = listing_;
  ro.graphics = !options_.html.empty();
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
  } else if (!known) {
    logLine(ZUL_LOG_WARNING, where + "The option " + o.name +
                                 " is not one zul knows (VALIDVARNAME, DEBUG, THREADS, "
                                 "CPUCOUNT); it is kept but has no effect.");
  }
}

void Runner::runStep(const parse::ProgramItem& item, const std::string& file) {
  Session& s = session();
  if (!moduleTried_) {
    moduleTried_ = true;
    if (!services::loadModule(s.moduleDirectory, module_, moduleError_))
      logLine(ZUL_LOG_ERROR, moduleError_);
  }
  if (!module_.procedure) {
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

  int32_t code = 0;
  try {
    code = module_.procedure();
  } catch (const services::EndStep& e) {
    code = e.completionCode;
  } catch (const std::exception& e) {
    logLine(ZUL_LOG_ERROR, std::string("Internal error in the step: ") + e.what());
    code = 9999;
  } catch (...) {
    logLine(ZUL_LOG_ERROR, "Internal error in the step.");
    code = 9999;
  }
  // The module's clean-up handler ran inside the exit service, while the
  // module's frames were alive. A procedure that returned or failed
  // otherwise has no frames left for it to look at: it is not called, and
  // nothing of the step outlives it (the host releases pool, tables, work
  // files and threads below).
  if (ctx.termination && !ctx.terminationRan && code < 1000) {
    logLine(ZUL_LOG_WARNING, "The procedure ended without the host's exit service; its "
                             "clean-up handler was not run.");
  }
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
}

void Runner::runProgram(const parse::Program& program) {
  Session& s = session();
  for (const parse::ProgramItem& item : program.items) {
    if (!item.errors.empty()) {
      for (const std::string& e : item.errors) logLine(ZUL_LOG_PLAIN, e);
      if (item.kind == parse::ProgramItem::Kind::Step)
        logLine(ZUL_LOG_NOTE, "The " + item.step.procedure + " step at " + program.file + ":" +
                                  std::to_string(item.pos.line) + " was skipped.");
      worsen(kExitStopped);
      continue;
    }
    switch (item.kind) {
      case parse::ProgramItem::Kind::Libname:
        try {
          s.libraries->assign(item.libref, item.path);
          logLine(ZUL_LOG_NOTE, "Library " + item.libref + " is " + item.path + ".");
        } catch (const std::exception& e) {
          logLine(ZUL_LOG_PLAIN, parse::errorLine(program.file, item.pos, e.what()));
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
        runStep(item, program.file);
        break;
      case parse::ProgramItem::Kind::Invalid:
        worsen(kExitStopped);
        break;
    }
  }
}

int Runner::run() {
  if (!setUpOutputs()) return kExitStopped;
  Session& s = session();
  s.moduleDirectory = options_.moduleDirectory.empty() ? services::executableDirectory()
                                                       : fs::path(options_.moduleDirectory);
  fs::path work = options_.work.empty() ? fs::current_path() : fs::path(options_.work);
  std::error_code ec;
  if (!fs::is_directory(work, ec)) {
    logLine(ZUL_LOG_ERROR, "The WORK directory " + work.string() +
                               " does not exist; create it or give another with --work.");
    return kExitStopped;
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
      return kExitStopped;
    }
  }
  for (const auto& [name, value] : options_.options) {
    parse::OptionSetting o;
    o.name = name;
    for (char& c : o.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    o.value = value;
    o.hasValue = true;
    if (o.name.rfind("SET:", 0) == 0) {
      o.name = o.name.substr(4);
      o.namedSetting = true;
    }
    applyOption(o, "--option " + name + "=" + value + ": ");
    if (status_ == kExitStopped) return status_;
  }
  services::setWorkDirectory({});

  for (const Source& src : options_.sources) {
    parse::Program program;
    if (src.isInline) {
      program = parse::readProgramText(src.text, "-e");
    } else if (src.text == "-") {
      std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
      program = parse::readProgramText(text, "stdin");
    } else {
      program = parse::readProgram(src.text);
    }
    runProgram(program);
  }

  if (!options_.json.empty()) {
    std::ofstream out(options_.json);
    report_->writeJson(out);
    if (!out) {
      logLine(ZUL_LOG_ERROR, "The JSON file " + options_.json + " could not be written.");
      worsen(kExitStopped);
    }
  }
  if (!options_.html.empty()) {
    std::ofstream out(options_.html);
    report_->writeHtml(out, "zul report");
    if (!out) {
      logLine(ZUL_LOG_ERROR, "The HTML report " + options_.html + " could not be written.");
      worsen(kExitStopped);
    }
  }
  output::setCurrentReport(nullptr);
  services::setSinkDispatch(nullptr);
  services::setStatusTextProvider(nullptr);
  listing_->flush();
  return status_;
}

}  // namespace

int exitStatusOf(int completionCode) {
  if (completionCode <= 4) return kExitOk;
  if (completionCode < 1000) return kExitWarnings;
  return kExitStopped;
}

int run(const RunOptions& options) {
  Runner runner(options);
  return runner.run();
}

}  // namespace zul::program
