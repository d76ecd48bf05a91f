// A large table that a commit replaces is given a second name before the
// rename and freed afterwards by a detached process: the old file must stay
// whole until the new table is in place, whatever fails, and no second
// name may outlive the commit.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "test_util.hpp"
#include "zul/table/metadata.hpp"
#include "zul/table/replaced_file.hpp"

namespace zul::table {
namespace {

class ReplacedFile : public testing::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    saved_ = detail::replacedFileTuning();
    detail::replacedFileTuning().minBytes = 0;
  }
  void TearDown() override {
    detail::replacedFileTuning() = saved_;
    detail::setFaultBetweenRenames(nullptr);
    ScratchDir::TearDown();
  }

  void writeTable(const std::string& name, std::initializer_list<double> values) {
    OutputTable out(ref(name));
    out.declareColumn({"x", "", ColumnType::Numeric, 8});
    for (double v : values) out.appendRow(&v, nullptr);
    out.commit();
  }

  static nlink_t links(int fd) {
    struct stat st {};
    EXPECT_EQ(::fstat(fd, &st), 0);
    return st.st_nlink;
  }
  // The names of the file open as fd, once the detached process had time
  // to remove its second one.
  static nlink_t settledLinks(int fd) {
    for (int i = 0; i < 500 && links(fd) > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return links(fd);
  }
  std::vector<std::string> hidden() {
    std::vector<std::string> out;
    for (const std::string& f : files())
      if (f[0] == '.') out.push_back(f);
    return out;
  }

 private:
  detail::ReplacedFileTuning saved_;
};

// Replacing a table, with the old file freed by a detached process or on
// the calling thread: the new rows are in place, a reader of the old file
// still reads it whole, and the old file ends with no name at all.
TEST_F(ReplacedFile, TheReplacedTableIsFreedAndNothingIsLeft) {
  for (bool detached : {true, false}) {
    detail::replacedFileTuning().detached = detached;
    writeTable("t", {1, 2});
    const int old = ::open((dir / "t.csv").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(old, 0);
    writeTable("t", {3});
    EXPECT_EQ(read("t.csv"), "x\r\n3\r\n");
    char buf[32] = {};
    EXPECT_EQ(::pread(old, buf, sizeof buf, 0), 9);
    EXPECT_STREQ(buf, "x\r\n1\r\n2\r\n");
    EXPECT_EQ(settledLinks(old), 0u) << "detached " << detached;
    ::close(old);
    EXPECT_THAT(hidden(), ::testing::IsEmpty());
    EXPECT_NO_THROW(InputTable(ref("t")));
  }
}

// A commit that fails after the CSV file's rename removes the second name
// itself; one that gives up before the rename leaves the old table with
// its one name, as it was.
TEST_F(ReplacedFile, AFailedCommitLeavesNoSecondName) {
  writeTable("t", {1, 2});
  int old = ::open((dir / "t.csv").c_str(), O_RDONLY | O_CLOEXEC);
  detail::setFaultBetweenRenames([] { throw TableError("injected fault"); });
  EXPECT_THROW(writeTable("t", {3}), TableError);
  detail::setFaultBetweenRenames(nullptr);
  EXPECT_EQ(links(old), 0u);  // at once: no detached process for a failed commit
  ::close(old);
  EXPECT_THAT(hidden(), ::testing::IsEmpty());

  writeTable("u", {1, 2});
  old = ::open((dir / "u.csv").c_str(), O_RDONLY | O_CLOEXEC);
  {
    detail::ReplacedFile replaced;
    replaced.keep(dir / "u.csv");
    EXPECT_EQ(links(old), 2u);
    EXPECT_THAT(hidden(), ::testing::SizeIs(1));
  }
  EXPECT_EQ(links(old), 1u);
  ::close(old);
  EXPECT_EQ(read("u.csv"), "x\r\n1\r\n2\r\n");
  EXPECT_THAT(hidden(), ::testing::IsEmpty());

  // Below the size, the rename frees the file as before.
  detail::replacedFileTuning().minBytes = 1000;
  old = ::open((dir / "u.csv").c_str(), O_RDONLY | O_CLOEXEC);
  {
    detail::ReplacedFile replaced;
    replaced.keep(dir / "u.csv");
    EXPECT_EQ(links(old), 1u);
  }
  ::close(old);
}

}  // namespace
}  // namespace zul::table
