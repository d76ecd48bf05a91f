// The run's outputs as a user meets them: zul is started as a program in a
// scratch directory, and its exit status and files are looked at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string wideTable();

std::string slurp(const fs::path& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Starts zul with args in dir, its standard output on outFd and standard
// error on errFd (-1: those of this test).
pid_t spawn(const fs::path& dir, const std::string& zul, std::vector<std::string> args,
            int outFd, int errFd) {
  std::vector<char*> argv{const_cast<char*>("zul")};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0 || (outFd >= 0 && ::dup2(outFd, STDOUT_FILENO) < 0) ||
        (errFd >= 0 && ::dup2(errFd, STDERR_FILENO) < 0))
      ::_exit(99);
    ::execv(zul.c_str(), argv.data());
    ::_exit(98);
  }
  return pid;
}

// Starts zul in dir on a step that runs for seconds on wideTable(), with
// args before the program and standard error on errFd when given.
pid_t startSlowStep(const fs::path& dir, const std::string& zul, std::vector<std::string> args,
                    int errFd = -1) {
  for (const char* a : {"--option", "THREADS=NO", "-e",
                        "FACTOR DATA=wide OUTSTAT=st NFACTORS=20 METHOD=PRINIT PRIORS=SMC "
                        "MAXITER=30000 CONVERGE=1e-15; RUN;"})
    args.push_back(a);
  return spawn(dir, zul, std::move(args), -1, errFd);
}

class Outputs : public ::testing::Test {
 protected:
  void SetUp() override {
    zul_ = std::string(ZUL_BINARY_DIR) + "/bin/zul";
    dir_ = fs::temp_directory_path() /
           ("zul_outputs_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("t.csv", "a,b,c\n1,2,3\n2,3,1\n3,5,2\n4,1,7\n5,3,3\n");
    write("p.zul", kProgram);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
  }
  std::string read(const std::string& name) { return slurp(dir_ / name); }
  // Runs zul with args (shell words) in the scratch directory; the log
  // goes to log.txt unless args redirect it. Returns the exit status.
  int run(const std::string& args) {
    std::string cmd = "cd '" + dir_.string() + "' && '" + zul_ + "' " + args + " 2>>log.txt";
    int st = std::system(cmd.c_str());
    // zul ends with 0, 1 or 2; the shell's 128 + n is zul ended by signal n.
    return WIFEXITED(st) && WEXITSTATUS(st) < 128 ? WEXITSTATUS(st) : -1;
  }

  // The hidden files in dir, sorted: temporaries left behind.
  std::vector<std::string> hidden(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string()[0] == '.') out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  // Waits until the run pid has at least n hidden files whose names begin
  // with prefix in the scratch directory (false when it ended first).
  bool waitForHidden(pid_t pid, size_t n, const std::string& prefix = ".") {
    int status = 0;
    for (int i = 0; i < 20000; ++i) {
      const std::vector<std::string> h = hidden(dir_);
      if (std::count_if(h.begin(), h.end(), [&](const std::string& f) { return f.rfind(prefix, 0) == 0; }) >=
          static_cast<long>(n))
        return true;
      if (::waitpid(pid, &status, WNOHANG) == pid) return false;
      ::usleep(1000);
    }
    return false;
  }

  static constexpr const char* kProgram = "FACTOR DATA=t; RUN;\n";
  std::string zul_;
  fs::path dir_;
};

TEST_F(Outputs, NoOutputIsWrittenOntoAProgram) {
  for (const char* option : {"--listing", "--html", "--json", "--log"}) {
    EXPECT_EQ(run(std::string(option) + " p.zul p.zul"), 2) << option;
    EXPECT_EQ(read("p.zul"), kProgram) << option;
  }
  EXPECT_EQ(run("--listing p.zul - < p.zul"), 2);  // the program on standard input
  EXPECT_EQ(read("p.zul"), kProgram);
  EXPECT_NE(read("log.txt").find("is the program p.zul"), std::string::npos);
  // Two outputs onto one file would overwrite each other.
  EXPECT_EQ(run("--json r.out --html ./r.out p.zul"), 2);
  EXPECT_FALSE(fs::exists(dir_ / "r.out"));
  // Devices may be named twice.
  EXPECT_EQ(run("--listing /dev/null --log /dev/null p.zul"), 0);
}

// Every output of a run (the four report files, OUT= and OUTSTAT= with
// their metadata files) against every input (the programs, DATA=, TARGET=,
// quoted paths, metadata files) and every other output: a clash is refused
// before anything is written, with both named, and no file changes.
TEST_F(Outputs, NoOutputIsWrittenOverAnInputOrAnotherOutput) {
  fs::create_directories(dir_ / "d");
  const std::string data = "a,b,c\n1,2,3\n2,3,1\n3,5,2\n4,1,7\n5,3,3\n6,2,5\n";
  const std::string meta = "{\"tableSchema\": {\"columns\": [{\"name\": \"a\"}, {\"name\": "
                           "\"b\"}, {\"name\": \"c\"}]}}\n";
  write("d/g2.csv", data);
  write("d/g2.csv-metadata.json", meta);
  write("q.zul", "FACTOR DATA=t OUTSTAT='q.zul' NFACTORS=1;\n");
  const std::string step = " -e 'FACTOR DATA=d.g2 NFACTORS=1;'";
  struct Case {
    std::string args, first, second;
  };
  const Case cases[] = {
      {"--html d/g2.csv" + step, "--html file d/g2.csv", "table D.G2"},
      {"--json d/g2.csv" + step, "--json file d/g2.csv", "table D.G2"},
      {"--listing d/g2.csv" + step, "--listing file d/g2.csv", "table D.G2"},
      {"--log d/g2.csv" + step, "--log file d/g2.csv", "table D.G2"},
      {"--html d/g2.csv-metadata.json" + step, "--html file d/g2.csv-metadata.json",
       "metadata file of the table D.G2"},
      {"--html d/g2.csv -e \"FACTOR DATA='d/g2.csv' NFACTORS=1;\"", "--html file d/g2.csv",
       "table d/g2.csv"},
      {"-e 'FACTOR DATA=d.g2 NFACTORS=1 OUT=d.s OUTSTAT=d.s;'", "OUTSTAT= table D.S",
       "OUT= table D.S"},
      {"--html d/st.csv -e 'FACTOR DATA=d.g2 NFACTORS=1 OUTSTAT=d.st;'", "OUTSTAT= table D.ST",
       "--html file d/st.csv"},
      {"--json d/st.csv-metadata.json -e 'FACTOR DATA=d.g2 NFACTORS=1 OUTSTAT=d.st;'",
       "metadata file of the OUTSTAT= table D.ST", "--json file d/st.csv-metadata.json"},
      {"q.zul", "OUTSTAT= table q.zul", "program q.zul"},
      {"--json d/g2.csv -e 'FACTOR DATA=t NFACTORS=1 ROTATE=PROCRUSTES TARGET=d.g2;'",
       "--json file d/g2.csv", "table D.G2 that this step reads"},
      {"-e 'FACTOR DATA=d.g2 NFACTORS=1 OUTSTAT=d.g2;'", "OUTSTAT= table D.G2",
       "table D.G2 that this step reads"},
  };
  for (const Case& c : cases) {
    fs::remove(dir_ / "log.txt");
    EXPECT_EQ(run("--lib d=d " + c.args + " >out.lst"), 2) << c.args;
    EXPECT_EQ(read("d/g2.csv"), data) << c.args;
    EXPECT_EQ(read("d/g2.csv-metadata.json"), meta) << c.args;
    EXPECT_EQ(read("q.zul"), "FACTOR DATA=t OUTSTAT='q.zul' NFACTORS=1;\n");
    // No table is written; a report keeps its own name.
    EXPECT_FALSE(fs::exists(dir_ / "d/s.csv")) << c.args;
    EXPECT_EQ(read("d/st.csv").find("MEAN"), std::string::npos) << c.args;
    EXPECT_EQ(read("d/st.csv-metadata.json").find("tableSchema"), std::string::npos) << c.args;
    fs::remove(dir_ / "d/st.csv");
    fs::remove(dir_ / "d/st.csv-metadata.json");
    const std::string log = read("log.txt");
    EXPECT_NE(log.find(c.first), std::string::npos) << c.args << "\n" << log;
    EXPECT_NE(log.find(c.second), std::string::npos) << c.args << "\n" << log;
  }
  EXPECT_TRUE(hidden(dir_ / "d").empty());
}

// A directory given where a file belongs is an error, found before any
// analysis: as the program, as a report, as an output table or as the
// metadata file of one.
TEST_F(Outputs, ADirectoryIsNoFile) {
  fs::create_directories(dir_ / "sub");
  fs::create_directories(dir_ / "m.csv-metadata.json");
  EXPECT_EQ(run("sub >out.lst"), 2);
  EXPECT_NE(read("log.txt").find("sub is a directory"), std::string::npos) << read("log.txt");
  struct Case {
    std::string args, said;
  };
  const Case cases[] = {
      {"--html sub p.zul", "--html file sub is a directory"},
      {"-e 'FACTOR DATA=t NFACTORS=1 OUTSTAT=\"sub\";'", "sub is a directory"},
      {"-e 'FACTOR DATA=t NFACTORS=1 OUT=sub;'", "sub.csv"},
      {"-e 'FACTOR DATA=t NFACTORS=1 OUTSTAT=m;'", "m.csv-metadata.json is a directory"},
  };
  fs::create_directories(dir_ / "sub.csv");
  for (const Case& c : cases) {
    fs::remove(dir_ / "log.txt");
    EXPECT_EQ(run(c.args + " >out.lst"), 2) << c.args;
    EXPECT_NE(read("log.txt").find(c.said), std::string::npos) << c.args << "\n" << read("log.txt");
    EXPECT_EQ(read("out.lst").find("Factor Pattern"), std::string::npos) << c.args;  // no analysis
    EXPECT_FALSE(fs::exists(dir_ / "m.csv")) << c.args;
  }
}

// A BY group that fails leaves no rows in OUTSTAT=; a step whose every
// group fails writes no table at all, so that an earlier table of that name
// stays and a later step without DATA= does not read an empty one.
TEST_F(Outputs, AFailedGroupLeavesNoRows) {
  const std::string good = "1,2,3\n2,3,1\n3,5,2\n4,1,7\n5,3,3\n6,2,5\n2,2,2\n";
  std::string half = "g,a,b,c\n", none = "g,a,b,c\n", singular = "a,b,c\n", second;
  std::istringstream rows(good);
  for (std::string line; std::getline(rows, line);) {
    half += "1," + line + "\n";
    std::string noC = line.substr(0, line.rfind(',') + 1);
    second += "2," + noC + "\n";
    none += "1," + noC + "\n";
    double a = line[0] - '0', b = line[2] - '0';
    singular += std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(a + b) + "\n";
  }
  half += second;
  none += second;
  write("half.csv", half);
  write("none.csv", none);
  write("singular.csv", singular);
  write("st.csv", "kept\n1\n");
  ASSERT_EQ(run("-e 'FACTOR DATA=half NFACTORS=1 OUTSTAT=hs; BY g;' >out.lst"), 1)
      << read("log.txt");
  const std::string hs = read("hs.csv");
  EXPECT_NE(hs.find("\r\n1,MEAN"), std::string::npos) << hs;
  EXPECT_EQ(hs.find("\r\n2,"), std::string::npos) << hs;
  for (const char* step : {"FACTOR DATA=none NFACTORS=1 OUTSTAT=st; BY g;",
                           "FACTOR DATA=singular NFACTORS=1 METHOD=ML OUTSTAT=st;"}) {
    EXPECT_GE(run(std::string("-e 'FACTOR DATA=t OUTSTAT=first NFACTORS=1;' -e '") + step +
                  "' -e 'FACTOR NFACTORS=1 OUTSTAT=second;' >out.lst"),
              1)
        << step;
    EXPECT_EQ(read("st.csv"), "kept\n1\n") << step;
    EXPECT_FALSE(fs::exists(dir_ / "st.csv-metadata.json")) << step;
    // The step without DATA= read the last table written: first.
    EXPECT_NE(read("log.txt").find("The table WORK.SECOND has"), std::string::npos) << step;
    EXPECT_NE(read("log.txt").find("The table WORK.ST is not written"), std::string::npos)
        << read("log.txt");
  }
}

// After SIGKILL the hidden temporaries of the killed run stay; the next run
// that writes into that directory removes those whose owner is provably
// gone, and keeps those of a process that still runs.
TEST_F(Outputs, AKilledRunsTemporariesAreRemovedByTheNextRun) {
  write("wide.csv", wideTable());
  write("r.html", "<p>an earlier report</p>\n");
  pid_t pid =
      startSlowStep(dir_, zul_, {"--listing", "/dev/null", "--log", "/dev/null", "--html", "r.html"});
  ASSERT_GE(pid, 0);
  if (!waitForHidden(pid, 2)) GTEST_SKIP() << "the run ended too soon";
  int status = 0;
  ::kill(pid, SIGKILL);
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  std::vector<std::string> left = hidden(dir_);
  ASSERT_EQ(left.size(), 2u);  // the report's and the table's
  EXPECT_EQ(read("r.html"), "<p>an earlier report</p>\n");
  // The same name with this test's own process as owner: alive.
  std::string alive = left[0];
  const size_t at = alive.find(".zul-") + 5;
  const size_t end = alive.find('-', alive.find('-', at) + 1);
  const std::string stat = slurp("/proc/self/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  for (int k = 3; k <= 22; ++k) fields >> field;  // field 22: the start time
  alive = alive.substr(0, at) + std::to_string(::getpid()) + "-" + field + alive.substr(end);
  write(alive, "");
  ASSERT_EQ(run("-e 'FACTOR DATA=t NFACTORS=1 OUTSTAT=other;' >out.lst"), 0);
  EXPECT_EQ(hidden(dir_), std::vector<std::string>{alive});
}

TEST_F(Outputs, AFailedWriteEndsWithStatus2) {
  for (const char* args : {"--listing /dev/full p.zul", "--json /dev/full p.zul >/dev/null",
                           "--html /dev/full p.zul >/dev/null", "p.zul >/dev/full",
                           "--log /dev/full p.zul >/dev/null", "--help FACTOR >/dev/full",
                           "--version >/dev/full"})
    EXPECT_EQ(run(args), 2) << args;
  EXPECT_NE(read("log.txt").find("ERROR: The listing file /dev/full could not be written"),
            std::string::npos);
}

// /dev/stdout on a file the shell opened (`>>results.txt`) is written
// through that descriptor: renamed onto, it replaced the file, losing what
// was there before and the listing written to it.
TEST_F(Outputs, AReportOnRedirectedStandardOutputJoinsTheFile) {
  write("results.txt", "earlier\n");
  ASSERT_EQ(run("--listing /dev/null --json /dev/stdout p.zul >>results.txt"), 0);
  const std::string appended = read("results.txt");
  ASSERT_EQ(appended.rfind("earlier\n{", 0), 0u) << appended;
  EXPECT_TRUE(nlohmann::json::accept(appended.substr(8)));
  ASSERT_EQ(run("--json /dev/fd/1 p.zul >both.txt"), 0);
  const std::string both = read("both.txt");
  EXPECT_LT(both.find("Step 1"), both.find("\"tables\"")) << both;
  EXPECT_TRUE(hidden(dir_).empty());
}

// A table that outgrows the file-size limit (ulimit -f) fails like one on
// a full disk: the table's own error, nothing about the work file, and no
// temporary file left (the signal the kernel sends at the limit would
// otherwise end zul on the spot, silently).
TEST_F(Outputs, ATableOverTheFileSizeLimitIsAFailedWrite) {
  std::string rows = "a,b,c\n";
  for (int i = 0; i < 400; ++i)
    rows += std::to_string(i % 7) + "," + std::to_string(i % 5) + "," + std::to_string(i % 3) + "\n";
  write("big.csv", rows);
  EXPECT_EQ(run("--listing /dev/null -e 'FACTOR DATA=big NFACTORS=1 OUT=sc;' 2>>log.txt; "
                "ulimit -f 4; '" + zul_ + "' --listing /dev/null -e 'FACTOR DATA=big NFACTORS=1 OUT=sc2;'"),
            2);
  const std::string log = read("log.txt");
  EXPECT_NE(log.find("Table WORK.SC2 cannot be written: File too large."), std::string::npos) << log;
  EXPECT_EQ(log.find("work file"), std::string::npos) << log;
  EXPECT_TRUE(fs::exists(dir_ / "sc.csv"));
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find("sc2"), std::string::npos) << entry.path();
}

TEST_F(Outputs, AnUnwritableReportIsRefusedBeforeTheAnalysis) {
  EXPECT_EQ(run("--json no/such/dir/r.json --listing l.txt p.zul"), 2);
  EXPECT_EQ(run("--html no/such/dir/r.html --listing l.txt p.zul"), 2);
  const std::string log = read("log.txt");
  EXPECT_NE(log.find("The JSON file no/such/dir/r.json cannot be written"), std::string::npos);
  EXPECT_EQ(log.find("FACTOR step"), std::string::npos) << log;  // no step ran
  EXPECT_EQ(read("l.txt"), "");
  // With --log the reason is in the log file.
  EXPECT_EQ(run("--json no/such/dir/r.json --log l.log p.zul"), 2);
  EXPECT_NE(read("l.log").find("The JSON file no/such/dir/r.json cannot be written"),
            std::string::npos);
  // So it is for every refusal before the first step; the reports opened
  // are dropped, an earlier one kept as it was.
  write("r.json", "earlier\n");
  for (const char* args : {"--work no/such/dir", "--lib a=no/such/dir", "--option LINESIZE=5"}) {
    EXPECT_EQ(run(std::string(args) + " --json r.json --log l.log p.zul"), 2) << args;
    const std::string value = std::string(args).substr(std::string(args).find(' ') + 1);
    EXPECT_NE(read("l.log").find("ERROR: "), std::string::npos) << args;
    EXPECT_NE(read("l.log").find(value), std::string::npos) << read("l.log");
    EXPECT_EQ(read("r.json"), "earlier\n");
  }
  EXPECT_TRUE(hidden(dir_).empty());
  // A write-protected file (chmod a-w) is not replaced: `>` would not either.
  write("r.html", "kept\n");
  fs::permissions(dir_ / "r.html", fs::perms::owner_read);
  EXPECT_EQ(run("--html r.html --log l.log p.zul"), 2);
  EXPECT_NE(read("l.log").find("The HTML report file r.html is write-protected"),
            std::string::npos);
  EXPECT_EQ(read("r.html"), "kept\n");
}

// An output path that is a symbolic link is written through it, as `>`
// writes: the file the link names is created or replaced, and the link is
// kept, dangling or not, relative or absolute. A loop of links is refused.
TEST_F(Outputs, LinksAreWrittenThroughAndKept) {
  fs::create_directories(dir_ / "real");
  fs::create_directories(dir_ / "lib");
  const std::vector<std::pair<std::string, fs::path>> links = {
      {"l.lst", "real/listing.txt"},    {"l.log", "real/log.txt"},
      {"l.json", dir_ / "real/r.json"}, {"l.html", "real/r.html"},
      {"lib/st.csv", "../real/st.csv"}, {"lib/st.csv-metadata.json", "../real/st.json"}};
  for (const auto& [link, target] : links) fs::create_symlink(target, dir_ / link);
  write("real/r.html", "earlier\n");  // one link leads to a file, the others dangle
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(run("--listing l.lst --log l.log --json l.json --html l.html --lib o=lib "
                  "-e 'FACTOR DATA=t OUTSTAT=o.st; RUN;'"), 0) << read("log.txt");
    for (const auto& [link, target] : links) {
      EXPECT_TRUE(fs::is_symlink(dir_ / link)) << link;
      EXPECT_EQ(fs::read_symlink(dir_ / link), target) << link;
      EXPECT_GT(fs::file_size(dir_ / link), 20u) << link;  // through the link
    }
  }
  EXPECT_NE(read("real/st.json").find("\"st.csv\""), std::string::npos);
  EXPECT_NE(read("l.log").find("ended normally"), std::string::npos);
  fs::create_symlink("loop2", dir_ / "loop1");
  fs::create_symlink("loop1", dir_ / "loop2");
  fs::create_symlink("../loop1", dir_ / "lib/loop.csv");
  EXPECT_EQ(run("--listing loop1 p.zul"), 2);
  EXPECT_EQ(run("--lib o=lib -e 'FACTOR DATA=t OUTSTAT=o.loop; RUN;' >out.txt"), 2);
  const std::string log = read("log.txt");
  EXPECT_NE(log.find("listing file loop1 is a symbolic link that leads round in a loop"),
            std::string::npos) << log;
  EXPECT_NE(log.find("lib/loop.csv: it is a symbolic link that leads round in a loop"),
            std::string::npos) << log;
  EXPECT_TRUE(fs::is_symlink(dir_ / "loop1") && fs::is_symlink(dir_ / "lib/loop.csv"));
}

// Standard streams zul cannot use: the run fails and says which. Closed,
// the next file opened took the descriptor and the listing was written
// into it; a directory on standard input was read as an empty program.
TEST_F(Outputs, UnusableStandardStreamsAreFailures) {
  EXPECT_EQ(run("p.zul >&-"), 2);
  EXPECT_NE(read("log.txt").find("The listing could not be written to standard output"),
            std::string::npos);
  for (const char* in : {"<&-", "<."}) {
    EXPECT_EQ(run(std::string("--listing l.txt - ") + in), 2) << in;
    EXPECT_NE(read("log.txt").find("ERROR: The program on standard input ('-') cannot be read"),
              std::string::npos);
  }
  // A reader gone from the listing's pipe (`| head -1`): the run goes on to
  // its end, its tables and reports complete, and fails; SIGPIPE ended it
  // with their temporaries left behind.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  write("m.zul", "FACTOR DATA=t OUT=o1 NFACTORS=1; RUN;\nFACTOR DATA=t OUT=o2 NFACTORS=1; RUN;\n");
  const int errFd = ::open((dir_ / "log.txt").c_str(), O_WRONLY | O_APPEND);
  pid_t pid = spawn(dir_, zul_, {"--json", "r.json", "m.zul"}, fds[1], errFd);
  ::close(fds[1]);
  ::close(errFd);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_TRUE(nlohmann::json::accept(read("r.json")));
  EXPECT_TRUE(fs::exists(dir_ / "o2.csv"));
  EXPECT_TRUE(hidden(dir_).empty());
}

TEST_F(Outputs, TheHtmlPageIsNamedAfterTheProgram) {
  ASSERT_EQ(run("--html r.html p.zul >/dev/null"), 0);
  EXPECT_NE(read("r.html").find("<title>p.zul (zul factor)</title>"), std::string::npos);
}

TEST_F(Outputs, AnEmptyProgramIsNamedInAWarning) {
  // A lone RUN; runs nothing either.
  write("empty.zul", "/* the statements went elsewhere */\nRUN;\n");
  EXPECT_EQ(run("empty.zul"), 0);
  EXPECT_NE(read("log.txt").find("WARNING: The program empty.zul holds no statements to run"),
            std::string::npos)
      << read("log.txt");
}

TEST_F(Outputs, SeveralInlineTextsFormOneProgram) {
  // A step begun in one -e text goes on in the next, and a library assigned
  // in the first is known in the last.
  EXPECT_EQ(run("-e \"LIBNAME here '.';\" -e 'FACTOR DATA=here.t NFACTORS=1;' "
                "-e 'VAR a b; RUN;' >out.lst"),
            0);
  EXPECT_EQ(read("log.txt").find("ERROR"), std::string::npos) << read("log.txt");
  EXPECT_EQ(read("out.lst").find("  c  "), std::string::npos);  // only a and b analysed
  EXPECT_NE(read("out.lst").find("Factor Pattern"), std::string::npos);
}

// Display formats go from the metadata file of DATA=, or from a step's
// FORMAT statement for that step only, to OUT=; a FORMAT that does not fit
// DATA= stops its step.
TEST_F(Outputs, OutCarriesTheFormatsOfData) {
  write("f.csv", "a,b,c,g\n1,2,3,x\n2,3,1,y\n3,5,2,x\n4,1,7,y\n5,3,3,x\n6,2,5,y\n");
  write("f.csv-metadata.json", R"({"tableSchema": {"columns": [{"name": "a",
      "zul:format": "6.1"}, {"name": "b"}, {"name": "c"}, {"name": "g", "zul:format": "$3."}]}})");
  write("p.zul", "FACTOR DATA=f NFACTORS=1 OUT=o1; VAR a b c; RUN;\n"
                 "FACTOR DATA=f NFACTORS=1 OUT=o2; VAR a b c; FORMAT b c F8.3 g; RUN;\n"
                 "FACTOR DATA=f NFACTORS=1 OUT=o3; VAR a b c; FORMAT a 5.2 nope 8.2; RUN;\n"
                 "FACTOR DATA=f NFACTORS=1 OUT=o4; VAR a b c; FORMAT a $5.; RUN;\n");
  EXPECT_EQ(run("p.zul >/dev/null"), 2);
  auto formats = [&](const std::string& table) {  // "a=6.1 b=- ..."
    const auto doc = nlohmann::json::parse(read(table + ".csv-metadata.json"));
    std::string out;
    for (const auto& c : doc["tableSchema"]["columns"])
      out += c["name"].get<std::string>() + "=" + c.value("zul:format", "-") + " ";
    return out;
  };
  EXPECT_EQ(formats("o1").find("a=6.1 b=- c=- g=$3. "), 0u) << formats("o1");
  EXPECT_EQ(formats("o2").find("a=6.1 b=8.3 c=8.3 g=- "), 0u) << formats("o2");
  EXPECT_EQ(formats("f"), "a=6.1 b=- c=- g=$3. ");  // the input is not changed
  const std::string log = read("log.txt");
  EXPECT_NE(log.find("ERROR: p.zul:3:58: FORMAT names the variable nope, which table WORK.F does "
                     "not have."), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR: p.zul:4:52: FORMAT gives the numeric variable a the format $5., "
                     "which is for character values"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(dir_ / "o3.csv"));
  EXPECT_FALSE(fs::exists(dir_ / "o4.csv"));
}

// A table wide enough that an iterated analysis of it runs for seconds.
std::string wideTable() {
  std::string text;
  constexpr int kCols = 1000, kRows = 1500;
  for (int c = 0; c < kCols; ++c) text += (c ? ",x" : "x") + std::to_string(c);
  text += '\n';
  uint32_t state = 12345;
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      state = state * 1664525u + 1013904223u;  // Numerical Recipes' LCG
      if (c) text += ',';
      text += static_cast<char>('0' + (state >> 24) % 10);
    }
    text += '\n';
  }
  return text;
}

// Ctrl-C and SIGTERM in the middle of a step: the hidden temporary files of
// the output table and of the reports are removed, the reports of an
// earlier run stay as they were, and zul ends with 128 + the signal number.
TEST_F(Outputs, AnInterruptedRunLeavesNoTemporaryFiles) {
  write("wide.csv", wideTable());
  write("r.json", "{\"earlier\": true}\n");
  write("r.html", "<p>an earlier report</p>\n");
  for (int sig : {SIGINT, SIGTERM}) {
    const std::string log = (dir_ / "log.txt").string();
    pid_t pid = startSlowStep(dir_, zul_, {"--log", log, "--listing", "/dev/null", "--json",
                                           "r.json", "--html", "r.html"});
    ASSERT_GE(pid, 0);
    // The hidden file of OUTSTAT= appears when the step opens it, before
    // the data are read; then the analysis runs for seconds.
    if (!waitForHidden(pid, 1, ".st.csv.")) GTEST_SKIP() << "the run ended before it could be interrupted";
    int status = 0;
    ::kill(pid, sig);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
    EXPECT_TRUE(hidden(dir_).empty());
    EXPECT_FALSE(fs::exists(dir_ / "st.csv"));
    EXPECT_EQ(read("r.json"), "{\"earlier\": true}\n");
    EXPECT_EQ(read("r.html"), "<p>an earlier report</p>\n");
    // The log is the record of what ran: it is kept, and says why it ends.
    const std::string last = "ERROR: The run was interrupted (" + std::string(strsignal(sig)) +
                             "): unfinished tables and reports were removed.\n";
    EXPECT_TRUE(read("log.txt").ends_with(last)) << read("log.txt");
    fs::remove(dir_ / "log.txt");
  }
}

const std::string kNoPty = "no pseudo-terminal: ";

// The progress line on a terminal: zul runs a slow step with its standard
// error on a pseudo-terminal (or on a file), is read for a while and then
// stopped. Returns what it wrote to standard error in that time, or kNoPty
// and the reason when no pseudo-terminal can be opened here (a container
// without /dev/pts).
std::string stderrOfSlowStep(const fs::path& dir, const std::string& zul, bool terminal,
                             bool quiet, double seconds) {
  int master = -1, errFd = -1;
  if (terminal) {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    const char* name = master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0
                           ? nullptr : ::ptsname(master);
    errFd = name ? ::open(name, O_RDWR | O_NOCTTY) : -1;
    if (errFd < 0) {
      const std::string why = kNoPty + std::strerror(errno);
      if (master >= 0) ::close(master);
      return why;
    }
  } else {
    errFd = ::open((dir / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (errFd < 0) return "no stderr";
  std::vector<std::string> args{"--listing", "/dev/null"};
  if (quiet) args.push_back("--quiet");
  pid_t pid = startSlowStep(dir, zul, args, errFd);
  ::close(errFd);
  std::string text;
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (master >= 0) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0) {
        char buf[4096];
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) text.append(buf, static_cast<size_t>(n));
      }
      if (text.find("computing") != std::string::npos) break;  // seen enough
    } else {
      ::usleep(50000);
    }
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (master >= 0) ::close(master);
  return terminal ? text : slurp(dir / "err.txt");
}

TEST_F(Outputs, ProgressIsShownOnATerminalOnly) {
  write("wide.csv", wideTable());
  // On a terminal: rows read, then what the step does, each line drawn over
  // the last ("\r" and erase to the end of the line).
  std::string tty = stderrOfSlowStep(dir_, zul_, true, false, 30);
  if (tty.rfind(kNoPty, 0) == 0) GTEST_SKIP() << "the progress line is drawn only on a terminal: " << tty;
  EXPECT_NE(tty.find("The FACTOR step at -e:1: "), std::string::npos) << tty;
  EXPECT_NE(tty.find("computing (matrices of the 1500 rows read)"), std::string::npos) << tty;
  EXPECT_NE(tty.find("\r\033[K"), std::string::npos);
  // With --quiet, or when standard error is a file: none of it.
  for (bool terminal : {true, false}) {
    std::string text = stderrOfSlowStep(dir_, zul_, terminal, terminal, 1.5);
    EXPECT_EQ(text.find("FACTOR step at -e:1: "), std::string::npos) << text;
    EXPECT_EQ(text.find("\033[K"), std::string::npos) << terminal;
  }
}

}  // namespace
