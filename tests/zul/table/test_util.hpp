// Helpers of the table tests: a scratch directory and small file writers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "zul/table/table.hpp"

namespace zul::table::testing {

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir = std::filesystem::temp_directory_path() /
          ("zul-table-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::filesystem::path write(const std::string& name, const std::string& content) {
    std::filesystem::path p = dir / name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  std::string read(const std::string& name) {
    std::ifstream in(dir / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A WORK table ref for member.csv in the scratch directory.
  TableRef ref(const std::string& member) {
    Libraries libs(dir);
    return libs.resolve(TableName{"", member, false});
  }
  TableRef table(const std::string& member, const std::string& csv) {
    write(member + ".csv", csv);
    return ref(member);
  }
  // Files in the scratch directory, sorted.
  std::vector<std::string> files() {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  std::filesystem::path dir;
};

// What f throws as a TableError; empty when it throws nothing.
template <class F>
std::string errorOf(F f) {
  try {
    f();
  } catch (const TableError& e) {
    return e.what();
  }
  return "";
}

// Reads every record of the current group through a read list of all
// columns as text; one string per record, fields joined by "|".
inline std::vector<std::string> readGroupAsText(InputTable& t) {
  std::vector<std::string> out;
  while (t.nextRecord()) {
    std::string s;
    for (int c = 0; c < t.varCount(); ++c) {
      if (c) s += '|';
      s += t.text(c);
    }
    out.push_back(s);
  }
  return out;
}

// Binds slot k of list to the numeric column cols[k] (from 1).
inline void bindNumbers(ReadList& list, const std::vector<int>& cols) {
  for (size_t k = 0; k < cols.size(); ++k) list.bind(static_cast<int>(k), cols[k], false, 8);
}

// Every record of the current group read through a read list of the
// numeric columns cols (from 1): the values of each record.
inline std::vector<std::vector<double>> readNumbers(InputTable& t, const std::vector<int>& cols) {
  ReadList list(t, static_cast<int>(cols.size()));
  bindNumbers(list, cols);
  std::vector<std::vector<double>> out;
  std::vector<double> v(cols.size());
  while (list.read(v.data(), nullptr)) out.push_back(v);
  return out;
}

}  // namespace zul::table::testing
