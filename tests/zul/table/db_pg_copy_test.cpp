// The tuples of a binary COPY stream: the header before the first tuple,
// null fields, the trailer, and bytes that are no tuple refused instead of
// read past the message.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "zul/table/db_pg_copy.hpp"

namespace zul::table::db {
namespace {

std::string header(uint32_t extension = 0) {
  std::string s("PGCOPY\n\377\r\n\0", 11);
  s += std::string(4, '\0');  // flags
  s += {static_cast<char>(extension >> 24), static_cast<char>(extension >> 16),
        static_cast<char>(extension >> 8), static_cast<char>(extension)};
  s += std::string(extension, 'x');
  return s;
}

std::string int16(int v) { return {static_cast<char>((v >> 8) & 0xff), static_cast<char>(v & 0xff)}; }
std::string int32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
          static_cast<char>(u)};
}
std::string field(const std::string& bytes) { return int32(static_cast<int32_t>(bytes.size())) + bytes; }

TEST(CopyTupleParser, HeaderTuplesNullsAndTrailer) {
  CopyTupleParser parser;
  std::vector<CopyField> f;
  // The header and the first tuple come in one message; a header
  // extension is skipped.
  const std::string first = header(3) + int16(2) + field("abc") + int32(-1);
  size_t used = 0;
  ASSERT_EQ(parser.next(first.data(), first.size(), used, 2, f), CopyTupleParser::Step::Tuple);
  EXPECT_EQ(used, first.size());
  EXPECT_EQ(std::string(f[0].p, static_cast<size_t>(f[0].n)), "abc");
  EXPECT_EQ(f[1].n, -1);
  EXPECT_EQ(f[1].p, nullptr);

  const std::string second = int16(2) + field("") + field("12345678");
  used = 0;
  ASSERT_EQ(parser.next(second.data(), second.size(), used, 2, f), CopyTupleParser::Step::Tuple);
  EXPECT_EQ(f[0].n, 0);
  EXPECT_EQ(std::string(f[1].p, 8), "12345678");

  const std::string trailer = int16(-1);
  used = 0;
  EXPECT_EQ(parser.next(trailer.data(), trailer.size(), used, 2, f),
            CopyTupleParser::Step::Trailer);
}

TEST(CopyTupleParser, BytesThatAreNoTupleAreRefused) {
  const std::string good = int16(1) + field("abcd");
  const struct {
    const char* what;
    std::string bytes;
    bool withHeader;
  } cases[] = {
      {"no signature", std::string("PGCOPX\n\377\r\n\0", 11) + std::string(8, '\0') + good, true},
      {"header cut short", header().substr(0, 12), true},
      {"extension longer than the message", header().substr(0, 15) + int32(1000), true},
      {"field count other than the columns", int16(2) + field("abcd") + field("x"), false},
      {"field longer than the message", int16(1) + int32(9) + "abcd", false},
      {"length below -1", int16(1) + int32(-2), false},
      {"tuple cut in a length", int16(1) + std::string(2, '\0'), false},
  };
  for (const auto& c : cases) {
    CopyTupleParser parser;
    std::vector<CopyField> f;
    size_t used = 0;
    if (!c.withHeader) {
      const std::string h = header() + good;
      ASSERT_EQ(parser.next(h.data(), h.size(), used, 1, f), CopyTupleParser::Step::Tuple);
      used = 0;
    }
    EXPECT_EQ(parser.next(c.bytes.data(), c.bytes.size(), used, 1, f),
              CopyTupleParser::Step::Broken)
        << c.what;
  }
}

}  // namespace
}  // namespace zul::table::db
