// Writes a Stata file (or an SPSS file, when OUT ends in .sav, compressed
// with zlib when it ends in .zsav) from a CSV file of numbers, so that
// tests can make values no CSV-to-Stata converter writes: a field ".a" to
// ".z" becomes that extended missing value, an empty field the
// system-missing value. A header field "name:FORMAT" gives the variable a
// display format (%td, %tc, DATE11, DATETIME20, TIME8), whose values the
// CSV holds as the file stores them; "name:float" makes a single precision
// variable; "name:labelled" a whole-number variable with value labels;
// "name:weight" the SPSS file's frequency weight. VERSION is the Stata
// release written (118 by default).
//   make_dta IN.csv OUT.dta|OUT.sav|OUT.zsav [VERSION]
#include <readstat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<std::string> out;
  std::stringstream in(line);
  std::string f;
  while (std::getline(in, f, ',')) out.push_back(f);
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

ssize_t writeBytes(const void* data, size_t len, void* ctx) {
  return static_cast<ssize_t>(std::fwrite(data, 1, len, static_cast<FILE*>(ctx)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  std::ifstream in(argv[1]);
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> names = split(line);
  std::vector<std::vector<std::string>> rows;
  while (std::getline(in, line)) rows.push_back(split(line));

  FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  readstat_writer_t* w = readstat_writer_init();
  readstat_set_data_writer(w, writeBytes);
  std::vector<readstat_variable_t*> vars;
  for (const auto& field : names) {
    const size_t colon = field.find(':');
    const std::string n = field.substr(0, colon);
    const std::string format = colon == std::string::npos ? "" : field.substr(colon + 1);
    const bool single = format == "float", labelled = format == "labelled";
    const readstat_type_t type = single     ? READSTAT_TYPE_FLOAT
                                 : labelled ? READSTAT_TYPE_INT32
                                            : READSTAT_TYPE_DOUBLE;
    vars.push_back(readstat_add_variable(w, n.c_str(), type, 0));
    readstat_variable_set_label(vars.back(), ("Item " + n).c_str());
    if (labelled) {
      readstat_label_set_t* set = readstat_add_label_set(w, type, ("l_" + n).c_str());
      readstat_label_int32_value(set, 1, "one");
      readstat_label_int32_value(set, 2, "two, with a longer text");
      readstat_variable_set_label_set(vars.back(), set);
    } else if (format == "weight") {
      readstat_writer_set_fweight_variable(w, vars.back());
    } else if (!format.empty() && !single) {
      readstat_variable_set_format(vars.back(), format.c_str());
    }
  }
  const std::string target = argv[2];
  const bool sav = target.size() > 4 && target.compare(target.size() - 4, 4, ".sav") == 0;
  const bool zsav = target.size() > 5 && target.compare(target.size() - 5, 5, ".zsav") == 0;
  if (zsav) readstat_writer_set_compression(w, READSTAT_COMPRESS_BINARY);
  else if (!sav) readstat_writer_set_file_format_version(w, argc == 4 ? std::atoi(argv[3]) : 118);
  const long count = static_cast<long>(rows.size());
  if (readstat_error_t e = sav || zsav ? readstat_begin_writing_sav(w, out, count)
                               : readstat_begin_writing_dta(w, out, count)) {
    std::fprintf(stderr, "make_dta: %s\n", readstat_error_message(e));
    return 1;
  }
  for (const auto& r : rows) {
    readstat_begin_row(w);
    for (size_t c = 0; c < vars.size(); ++c) {
      const std::string f = c < r.size() ? r[c] : "";
      if (f.empty()) readstat_insert_missing_value(w, vars[c]);
      else if (f.size() == 2 && f[0] == '.') readstat_insert_tagged_missing_value(w, vars[c], f[1]);
      else if (readstat_variable_get_type(vars[c]) == READSTAT_TYPE_INT32)
        readstat_insert_int32_value(w, vars[c], std::atoi(f.c_str()));
      else if (readstat_variable_get_type(vars[c]) == READSTAT_TYPE_FLOAT)
        readstat_insert_float_value(w, vars[c], std::strtof(f.c_str(), nullptr));
      else readstat_insert_double_value(w, vars[c], std::strtod(f.c_str(), nullptr));
    }
    readstat_end_row(w);
  }
  const bool ok = readstat_end_writing(w) == READSTAT_OK;
  readstat_writer_free(w);
  std::fclose(out);
  return ok ? 0 : 1;
}
