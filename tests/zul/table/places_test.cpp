// Places: when two spellings are one file, and which hidden temporaries a
// run may remove as left by a dead process.
#include <gmock/gmock.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_util.hpp"
#include "zul/table/places.hpp"
#include "zul/table/temporary_files.hpp"

namespace zul::table {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class Places : public testing::ScratchDir {};

TEST_F(Places, OneFileUnderEverySpelling) {
  write("a.csv", "x\n1\n");
  fs::create_hard_link(dir / "a.csv", dir / "hard.csv");
  fs::create_symlink(dir / "a.csv", dir / "soft.csv");
  fs::create_directories(dir / "sub");
  const Place a = filePlace("input a", dir / "a.csv");
  struct Case {
    fs::path path;
    bool same;
  };
  const Case cases[] = {
      {dir / "a.csv", true},         {dir / "hard.csv", true},
      {dir / "soft.csv", true},      {dir / "sub" / ".." / "a.csv", true},
      {dir / "b.csv", false},        {dir / "sub" / "a.csv", false},
  };
  for (const Case& c : cases) EXPECT_EQ(a.sameAs(filePlace("out", c.path)), c.same) << c.path;
  // A file not created yet is known by its path.
  EXPECT_TRUE(filePlace("x", dir / "new.csv").sameAs(filePlace("y", dir / "sub/../new.csv")));
  // So is one that a dangling link leads to, which writing through it creates.
  fs::create_symlink("../new.csv", dir / "sub" / "dangling.csv");
  EXPECT_TRUE(filePlace("x", dir / "new.csv").sameAs(filePlace("y", dir / "sub/dangling.csv")));
  // Devices never clash: writing there destroys nothing.
  EXPECT_FALSE(filePlace("x", "/dev/null").sameAs(filePlace("y", "/dev/null")));
  // Another kind of output joins by keys of its own.
  const Place db{"database table", {"db:conn:T"}};
  EXPECT_TRUE(db.sameAs(Place{"other", {"db:conn:T"}}));
  EXPECT_FALSE(db.sameAs(a));
  EXPECT_THAT(outputClash(filePlace("--html file h", dir / "hard.csv"), {a}, {}),
              HasSubstr("The --html file h is the input a, which would be overwritten"));
  EXPECT_THAT(outputClash(db, {}, {Place{"OUT= table", {"db:conn:T"}}}),
              HasSubstr("The database table is also the OUT= table"));
}

// Member names are case-blind: two spellings in one library are one table
// before either file exists; as paths, files differing in case stay apart.
TEST_F(Places, OneTableUnderEverySpellingOfItsMemberName) {
  auto member = [&](const std::string& name, const std::string& library) {
    TableRef ref;
    ref.library = library;
    ref.member = name;
    ref.file = dir / (name + ".csv");
    return tablePlaces("table " + name, ref);
  };
  const std::vector<Place> lower = member("scores", "WORK"), upper = member("SCORES", "WORK");
  EXPECT_TRUE(lower[0].sameAs(upper[0]) && lower[1].sameAs(upper[1]));
  EXPECT_FALSE(lower[0].sameAs(upper[1]));
  EXPECT_FALSE(member("scores", "").front().sameAs(member("SCORES", "").front()));
}

TEST_F(Places, OnlyTemporariesOfDeadOwnersAreRemoved) {
  // A temporary of this process shows the tag of this machine.
  fs::path mine;
  int fd = makeTemporaryBeside(dir / "t.csv", mine);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const std::string name = mine.filename().string();
  const size_t at = name.find(".zul-") + 5;
  const size_t pidEnd = name.find('-', at), startEnd = name.find('-', pidEnd + 1);
  const std::string host = name.substr(startEnd + 1, 8);
  // A process that has ended: its id is free (or taken by a later one).
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = ".u.csv.zul-" + std::to_string(child) + "-1-" + host + "-abcdef";
  const std::string elsewhere = ".v.csv.zul-" + std::to_string(child) + "-1-0badcafe-abcdef";
  const std::string other = ".w.csv.XXYYZZ";  // not of this form
  for (const std::string& f : {dead, elsewhere, other}) write(f, "");
  EXPECT_EQ(removeDeadTemporaries(dir), 1);
  EXPECT_FALSE(fs::exists(dir / dead));
  for (const std::string& f : {elsewhere, other, name}) EXPECT_TRUE(fs::exists(dir / f)) << f;
  ::unlink(mine.c_str());
  forgetTemporaryFile(mine);
}

}  // namespace
}  // namespace zul::table
