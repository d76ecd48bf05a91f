// Fuzz target of the program reader and the statement parser: any bytes
// are read as a program, and every step without reading errors is parsed
// against the FACTOR grammar, with tables that exist whatever their name.
// Nothing may crash, hang or read out of bounds; errors are expected.
#include <cstddef>
#include <cstdint>
#include <string>

#include "zulfact/options/grammar.hpp"
#include "zul/parse/parser.hpp"
#include "zul/parse/program.hpp"

namespace {

using namespace zul::parse;

ColumnInfo column(const char* name, bool character) {
  ColumnInfo c;
  c.name = name;
  c.isCharacter = character;
  return c;
}

zul_table* fakeHandle(uintptr_t k) { return reinterpret_cast<zul_table*>(0x1000 + 16 * k); }

// Every input table has the same columns, numeric and character, so that
// variable lists, BY, FREQ and WEIGHT can resolve or fail.
class AnyTables : public TableOpener {
 public:
  zul_table* openInput(const TableSpec& dsName, std::string& error) override {
    if (dsName.member.empty()) {
      error = "no member";
      return nullptr;
    }
    return fakeHandle(++opened_);
  }
  zul_table* openLastCreated(std::string&) override { return fakeHandle(++opened_); }
  std::vector<ColumnInfo> columns(zul_table*) override {
    std::vector<ColumnInfo> out;
    for (const char* name : {"x1", "x2", "x3", "x10", "w"}) out.push_back(column(name, false));
    for (const char* name : {"name", "_TYPE_", "_NAME_", "g"}) out.push_back(column(name, true));
    return out;
  }
  zul_table* openOutput(const TableSpec&, std::string&) override { return fakeHandle(++opened_); }

 private:
  uintptr_t opened_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Program program = readProgramText(text, "fuzz.zul");
  for (const ProgramItem& item : program.items) {
    if (item.kind != ProgramItem::Kind::Step || !item.errors.empty()) continue;
    AnyTables tables;
    CollectDiagnostics diagnostics;
    int status = 0;
    parseStep(item.step, zulfact::factorGrammar(), tables, diagnostics, status,
              kDebugSemantics | kDebugSyntax);
  }
  return 0;
}
