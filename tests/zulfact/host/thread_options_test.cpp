// The host's THREADS and CPUCOUNT options as the module reads them: one
// reading for the statement parser and the data pass alike.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "fake_host/fake_host.hpp"
#include "zulfact/host/host.hpp"

namespace {

std::map<std::string, std::string> options;

int32_t systemOption(const char* name, int32_t nameLength, char* buffer, int32_t size) {
  auto it = options.find(std::string(name, static_cast<size_t>(nameLength)));
  if (it == options.end()) return -1;
  const std::string& v = it->second;
  std::snprintf(buffer, static_cast<size_t>(size), "%s", v.c_str());
  return static_cast<int32_t>(v.size());
}

class ThreadOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.provide(ZUL_SYSTEM_OPTION, &systemOption);
    zulfact::host().attach(fake.vector(), nullptr);
    options.clear();
  }
  void TearDown() override { zulfact::host().attach(nullptr, nullptr); }
  zul_test::FakeHost fake;
};

TEST_F(ThreadOptions, ThreadsIsOnUnlessMissingOrSaidOff) {
  EXPECT_FALSE(zulfact::host().threadsOn());
  for (const char* on : {"1", "YES", "on"}) {
    options["THREADS"] = on;
    EXPECT_TRUE(zulfact::host().threadsOn()) << on;
  }
  for (const char* off : {"0", "NO", "off", "False", "NOTHREADS", "", "0  "}) {
    options["THREADS"] = off;
    EXPECT_FALSE(zulfact::host().threadsOn()) << '"' << off << '"';
  }
}

TEST_F(ThreadOptions, CpuCountIsANumberOrMissing) {
  EXPECT_TRUE(zul_is_missing(zulfact::host().cpuCount()));
  options["CPUCOUNT"] = "4";
  EXPECT_EQ(zulfact::host().cpuCount(), 4.0);
  options["CPUCOUNT"] = "ACTUAL";  // the host writes the number, never the word
  EXPECT_TRUE(zul_is_missing(zulfact::host().cpuCount()));
}

}  // namespace
