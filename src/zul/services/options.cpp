#include "zul/services/options.hpp"

#include <cctype>
#include <charconv>
#include <cmath>

#include "kernels/processors.hpp"

namespace zul::services {

namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool parseDouble(std::string_view text, double& out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && p == text.data() + text.size() && std::isfinite(out);
}

bool parseInt(std::string_view text, long& out) {
  double d;
  if (!parseDouble(text, d) || d != std::floor(d) || std::fabs(d) > 1e9) return false;
  out = static_cast<long>(d);
  return true;
}

// The module reads DEBUG for the words SYN (log each statement's tokens)
// and SEM (log what the parser understood): every word given must hold
// one of them, so that a misspelt switch is not silently ignored.
std::string checkDebug(std::string_view value) {
  std::string u = upper(value);
  size_t i = 0;
  while (i < u.size()) {
    while (i < u.size() && (u[i] == ' ' || u[i] == ',')) ++i;
    size_t b = i;
    while (i < u.size() && u[i] != ' ' && u[i] != ',') ++i;
    if (i == b) break;
    std::string word = u.substr(b, i - b);
    if (word.find("SYN") == std::string::npos && word.find("SEM") == std::string::npos)
      return "DEBUG= takes SYN (show each statement's tokens), SEM (show what the parser "
             "understood) or both, as DEBUG='SYN SEM'; " + word + " is neither.";
  }
  return {};
}

// The named settings a step reads, with the whole numbers each takes.
struct NamedSetting {
  const char* name;
  double min, max;
  const char* meaning;
};
constexpr NamedSetting kNamedSettings[] = {
    {"ZACORR_THREADS", 0, 100, "the threads that compute the crossproducts"},
};

// How a known option that takes a value is written; empty for the others.
const char* valueForm(const std::string& k) {
  if (k == "VALIDVARNAME") return "VALIDVARNAME=V7, V6, UPCASE or ANY";
  if (k == "DEBUG") return "DEBUG=SYN, DEBUG=SEM or DEBUG='SYN SEM'";
  if (k == "CPUCOUNT") return "CPUCOUNT=n (1 to 1024) or CPUCOUNT=ACTUAL";
  if (k == "LINESIZE") return "LINESIZE=n (40 to 1000)";
  if (k == "INDB") return "INDB=YES or INDB=NO";
  if (k == "SQLECHO") return "SQLECHO=YES or SQLECHO=NO";
  if (k == "INDBNOTES") return "INDBNOTES=YES or INDBNOTES=NO";
  if (k == "SQLPASSES") return "SQLPASSES=1 or SQLPASSES=2";
  return "";
}

}  // namespace

HostOptions::HostOptions() {
  system_["VALIDVARNAME"] = "V7";
  system_["DEBUG"] = "";
  system_["THREADS"] = "1";
  system_["CPUCOUNT"] = std::to_string(kernels::processorCount());
  system_["LINESIZE"] = "120";
  // In-database processing of database tables: on; its statements and
  // per-group notes not shown.
  system_["INDB"] = "YES";
  system_["SQLECHO"] = "NO";
  system_["INDBNOTES"] = "NO";
  // Crossproducts in the database: about the group means (two passes).
  system_["SQLPASSES"] = "2";
}

std::string HostOptions::key(std::string_view name) { return upper(name); }

const std::vector<std::string>& HostOptions::knownNames() {
  static const std::vector<std::string> names = {
      "VALIDVARNAME", "DEBUG", "THREADS", "NOTHREADS", "CPUCOUNT", "LINESIZE",
      "INDB", "SQLECHO", "INDBNOTES", "SQLPASSES"};
  return names;
}

std::string HostOptions::set(std::string_view name, std::string_view value, bool& known) {
  std::string k = key(name);
  std::string v(value);
  known = true;
  if (k == "VALIDVARNAME") {
    std::string u = upper(value);
    if (u != "V7" && u != "V6" && u != "ANY" && u != "UPCASE")
      return "VALIDVARNAME= takes V7, V6, UPCASE or ANY, not '" + v + "'.";
    v = u;
  } else if (k == "THREADS") {
    std::string u = upper(value);
    if (u == "1" || u == "YES" || u == "ON") v = "1";
    else if (u == "0" || u == "NO" || u == "OFF") v = "0";
    else return "THREADS= takes YES or NO (or write THREADS / NOTHREADS), not '" + v + "'.";
  } else if (k == "INDB" || k == "SQLECHO" || k == "INDBNOTES") {
    std::string u = upper(value);
    if (u == "1" || u == "YES" || u == "ON") v = "YES";
    else if (u == "0" || u == "NO" || u == "OFF") v = "NO";
    else return k + "= takes YES or NO, not '" + v + "'.";
  } else if (k == "SQLPASSES") {
    // 1: one pass about the first usable row (a cheap first query gives
    // it); 2: the group means first, then the crossproducts about them.
    if (value != "1" && value != "2") return "SQLPASSES= takes 1 or 2, not '" + v + "'.";
  } else if (k == "CPUCOUNT") {
    long n = 0;
    if (upper(value) == "ACTUAL") {
      v = std::to_string(kernels::processorCount());
    } else if (!parseInt(value, n) || n < 1 || n > 1024) {
      return "CPUCOUNT= takes a whole number from 1 to 1024 or ACTUAL, not '" + v + "'.";
    } else {
      v = std::to_string(n);
    }
  } else if (k == "LINESIZE") {
    long n = 0;
    if (!parseInt(value, n) || n < 40 || n > 1000)
      return "LINESIZE= takes a whole number from 40 to 1000, not '" + v + "'.";
    v = std::to_string(n);
  } else if (k == "DEBUG") {
    std::string problem = checkDebug(value);
    if (!problem.empty()) return problem;
  } else if (k == "NOTHREADS") {
    return "NOTHREADS takes no value: write NOTHREADS, or THREADS=NO.";
  } else {
    known = false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  system_[k] = v;
  return {};
}

std::string HostOptions::setBare(std::string_view name, bool& known) {
  std::string k = key(name);
  if (k == "THREADS") return set("THREADS", "1", known);
  if (k == "NOTHREADS") return set("THREADS", "0", known);
  // A known option without its value is refused: kept as "1" it would
  // be a line size of 1 or a single processor.
  if (const std::string form = valueForm(k); !form.empty()) {
    known = true;
    return k + " needs a value: write " + form + ".";
  }
  known = false;
  std::lock_guard<std::mutex> lock(mutex_);
  system_[k] = "1";
  return {};
}

std::optional<std::string> HostOptions::get(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = system_.find(key(name));
  if (it == system_.end()) return std::nullopt;
  return it->second;
}

std::string HostOptions::setNamed(std::string_view name, std::string_view value) {
  const NamedSetting* known = nullptr;
  std::string list;
  for (const NamedSetting& s : kNamedSettings) {
    if (key(name) == s.name) known = &s;
    list += (list.empty() ? "" : ", ") + std::string(s.name);
  }
  if (!known)
    return "SET " + std::string(name) + ": zul knows no setting of that name; the settings are " +
           list + ".";
  double d;
  long n = 0;
  if (!parseDouble(value, d) || !parseInt(value, n) || d < known->min || d > known->max)
    return "SET " + std::string(name) + "= takes a whole number from " +
           std::to_string(static_cast<long>(known->min)) + " to " +
           std::to_string(static_cast<long>(known->max)) + " (" + known->meaning + "), not '" +
           std::string(value) + "'.";
  std::lock_guard<std::mutex> lock(mutex_);
  named_[key(name)] = d;
  return {};
}

std::optional<double> HostOptions::named(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = named_.find(key(name));
  if (it == named_.end()) return std::nullopt;
  return it->second;
}

std::string HostOptions::setSwitch(std::string_view nameWithDash, std::string_view level) {
  std::string k = key(nameWithDash);
  if (k.size() < 2 || k[0] != '-') return "a diagnostic switch is written -name or -name=level.";
  long n = 1;
  if (!level.empty() && (!parseInt(level, n) || n < 0))
    return "the level of " + std::string(nameWithDash) + " must be a whole number of 0 or more.";
  std::lock_guard<std::mutex> lock(mutex_);
  if (n == 0) switches_.erase(k);
  else switches_[k] = static_cast<int>(n);
  return {};
}

int HostOptions::switchLevel(std::string_view nameWithDash) const {
  std::string k = key(nameWithDash);
  if (k.empty() || k[0] != '-') k.insert(k.begin(), '-');
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = switches_.find(k);
  return it == switches_.end() ? 0 : it->second;
}

void HostOptions::setMacro(std::string_view name, std::string_view value) {
  std::lock_guard<std::mutex> lock(mutex_);
  macros_[key(name)] = std::string(value);
}

std::optional<std::string> HostOptions::macro(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = macros_.find(key(name));
  if (it == macros_.end()) return std::nullopt;
  return it->second;
}

std::map<std::string, std::string> HostOptions::macros() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return macros_;
}

}  // namespace zul::services
