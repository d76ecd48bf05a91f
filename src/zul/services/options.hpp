// zul/services/options.hpp -- the host's system options, named settings,
// diagnostic switches and macro variables.
//
// System options are texts by upper-case name. The ones the host knows are
// checked when set; any other name is kept (and reported by the caller as
// unknown). Named settings (OPTIONS SET name=value) are numbers; diagnostic
// switches ("-zacorr", "-zacorr=2") are levels. Everything compares names
// without regard to case.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zul::services {

class HostOptions {
 public:
  // Defaults: VALIDVARNAME=V7, DEBUG empty, THREADS=1, CPUCOUNT = the
  // processors this process may run on.
  HostOptions();

  // Sets a system option. A known option with a bad value is refused with
  // a sentence saying what is allowed (returned; empty when accepted).
  // Bare words: THREADS / NOTHREADS switch threading on and off.
  // known is set to false for a name the host does not know (the value is
  // kept anyway).
  std::string set(std::string_view name, std::string_view value, bool& known);
  std::string setBare(std::string_view name, bool& known);
  // The names set() and setBare() know, as `zul --help` must list them.
  static const std::vector<std::string>& knownNames();
  std::optional<std::string> get(std::string_view name) const;

  // Named numeric settings (OPTIONS SET name=value). A name zul does not
  // know, or a value outside what the setting takes, is refused (the
  // sentence is returned). DEBUG= must hold the words the module reads.
  std::string setNamed(std::string_view name, std::string_view value);
  // The value, or nothing when it was never set.
  std::optional<double> named(std::string_view name) const;

  // Diagnostic switches: "-name" or "-name=level"; level 0 turns it off.
  std::string setSwitch(std::string_view nameWithDash, std::string_view level);
  int switchLevel(std::string_view nameWithDash) const;

  // Macro variables.
  void setMacro(std::string_view name, std::string_view value);
  std::optional<std::string> macro(std::string_view name) const;
  std::map<std::string, std::string> macros() const;

 private:
  static std::string key(std::string_view name);
  mutable std::mutex mutex_;  // worker threads may read settings
  std::map<std::string, std::string> system_;
  std::map<std::string, double> named_;
  std::map<std::string, int> switches_;
  std::map<std::string, std::string> macros_;
};

}  // namespace zul::services
