// Display formats through whole runs of zul: from a table's metadata file
// or database catalogue, or from a step's FORMAT statement, to the tables
// a step writes (OUT= copies the columns of DATA=).
#include <gmock/gmock.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class Formats : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zul_formats_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("t.csv", "a,b,c,g\n1,2,3,x\n2,3,1,y\n3,5,2,x\n4,1,7,y\n5,3,3,x\n6,2,5,y\n");
    write("t.csv-metadata.json", R"({"tableSchema": {"columns": [
        {"name": "a", "zul:format": "6.1"}, {"name": "b"}, {"name": "c"},
        {"name": "g", "zul:format": "$3."}]}})");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
  }
  std::string read(const std::string& name) {
    std::ifstream in(dir_ / name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Runs the program text in the scratch directory; the log goes to
  // log.txt. Returns the exit status.
  int run(const std::string& program) {
    write("p.zul", program);
    const std::string cmd = "cd '" + dir_.string() + "' && '" + ZUL_BINARY_DIR +
                            "/bin/zul' p.zul >/dev/null 2>log.txt";
    const int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  // The "zul:format" of each column of a table's metadata file, "-" for
  // none, as "name=format ...".
  std::string formatsOf(const std::string& table) {
    const auto doc = nlohmann::json::parse(read(table + ".csv-metadata.json"));
    std::string out;
    for (const auto& c : doc["tableSchema"]["columns"])
      out += (out.empty() ? "" : " ") + c["name"].get<std::string>() + "=" +
             c.value("zul:format", std::string("-"));
    return out;
  }

  fs::path dir_;
};

TEST_F(Formats, OutCarriesTheFormatsOfData) {
  ASSERT_EQ(run("FACTOR DATA=t NFACTORS=1 OUT=o; VAR a b c; RUN;"), 0) << read("log.txt");
  EXPECT_THAT(formatsOf("o"), HasSubstr("a=6.1 b=- c=- g=$3."));
}

TEST_F(Formats, ThroughAnSqliteLibraryAndBack) {
  ASSERT_EQ(run("LIBNAME lite SQLITE 'l.db';\n"
                "FACTOR DATA=t NFACTORS=1 OUT=lite.s; VAR a b c; RUN;\n"
                "FACTOR DATA=lite.s NFACTORS=1 OUT=back; VAR a b c; RUN;\n"),
            0)
      << read("log.txt");
  EXPECT_THAT(formatsOf("back"), HasSubstr("a=6.1 b=- c=- g=$3."));
}

TEST_F(Formats, TheFormatStatementHoldsForItsStepOnly) {
  ASSERT_EQ(run("FACTOR DATA=t NFACTORS=1 OUT=o; VAR a b c;\n"
                "  FORMAT b c F8.3 g;\n"
                "RUN;\n"
                "FACTOR DATA=t NFACTORS=1 OUT=o2; VAR a b c; RUN;\n"),
            0)
      << read("log.txt");
  EXPECT_THAT(formatsOf("o"), HasSubstr("a=6.1 b=8.3 c=8.3 g=-"));
  // Neither the input nor the next step is changed.
  EXPECT_EQ(formatsOf("t"), "a=6.1 b=- c=- g=$3.");
  EXPECT_THAT(formatsOf("o2"), HasSubstr("a=6.1 b=- c=- g=$3."));
}

TEST_F(Formats, AVariableDataLacksStopsTheStep) {
  EXPECT_EQ(run("FACTOR DATA=t NFACTORS=1 OUT=o; VAR a b c;\n"
                "  FORMAT a 5.2 nope 8.2;\n"
                "RUN;\n"),
            2);
  EXPECT_THAT(read("log.txt"), HasSubstr("ERROR: p.zul:2:16: FORMAT names the variable nope, "
                                         "which table WORK.T does not have."));
  EXPECT_FALSE(fs::exists(dir_ / "o.csv"));

  EXPECT_EQ(run("FACTOR DATA=t NFACTORS=1 OUT=o; VAR a b c;\n  FORMAT a $5. g 3.;\nRUN;\n"), 2);
  EXPECT_THAT(read("log.txt"), HasSubstr("ERROR: p.zul:2:10: FORMAT gives the numeric variable a "
                                         "the format $5., which is for character values"));
  EXPECT_FALSE(fs::exists(dir_ / "o.csv"));
}

TEST_F(Formats, AFaultyFormatStatementSkipsTheStep) {
  EXPECT_EQ(run("FACTOR DATA=t NFACTORS=1 OUT=o; VAR a b c;\n  FORMAT 8.2;\nRUN;\n"), 2);
  EXPECT_THAT(read("log.txt"), HasSubstr("ERROR: p.zul:2:10: The format 8.2 follows no variable"));
  EXPECT_THAT(read("log.txt"), HasSubstr("was skipped"));
  EXPECT_FALSE(fs::exists(dir_ / "o.csv"));
}

}  // namespace
