// The stateful host services: work file, pool, threads and events,
// options, the _NAME_ check and the memory figure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "kernels/processors.hpp"
#include "zul/services/options.hpp"
#include "zul/services/pool.hpp"
#include "zul/services/system.hpp"
#include "zul/services/threads.hpp"
#include "zul/services/workfile.hpp"

namespace zs = zul::services;

namespace {

TEST(WorkFile, RecordsKeepTheirPlaceAndSize) {
  zul_workfile d;
  std::memset(&d, 0, sizeof d);
  d.flags = 0x84000008u;
  ASSERT_EQ(zs::workOpen(&d), 0);
  ASSERT_NE(d.host, nullptr);
  EXPECT_EQ(zs::workPosition(&d, 0), 0);  // before the first record
  EXPECT_NE(zs::workRead(&d, nullptr, 0), 0);  // nothing there yet
  std::vector<double> r(6), inv(6);
  for (int i = 0; i < 6; ++i) r[i] = i + 0.5, inv[i] = -i;
  int64_t k1 = 0, k2 = 0;
  ASSERT_EQ(zs::workWrite(&d, r.data(), 48, &k1), 0);
  ASSERT_EQ(zs::workWrite(&d, inv.data(), 48, &k2), 0);
  EXPECT_EQ(k1, 1);
  EXPECT_EQ(k2, 2);
  // Read the first back after the second was written; then a short read.
  std::vector<double> back(6, 0);
  ASSERT_EQ(zs::workPosition(&d, k1), 0);
  ASSERT_EQ(zs::workRead(&d, back.data(), 48), 0);
  EXPECT_EQ(back, r);
  ASSERT_EQ(zs::workPosition(&d, k2), 0);
  ASSERT_EQ(zs::workRead(&d, back.data(), 16), 0);
  EXPECT_EQ(back[1], -1.0);
  // More bytes than the record holds, and a key that is not there.
  EXPECT_EQ(zs::workRead(&d, back.data(), 56), zs::kWorkTooLong);
  EXPECT_EQ(zs::workPosition(&d, 3), zs::kWorkNoRecord);
  EXPECT_EQ(zs::workClose(&d, 1), 0);
  EXPECT_EQ(d.host, nullptr);
  // Closed: every call fails, a second close too.
  EXPECT_NE(zs::workPosition(&d, 0), 0);
  EXPECT_NE(zs::workClose(&d, 1), 0);
}

TEST(WorkFile, ADescriptorNotOpenedByTheHostIsRefused) {
  zul_workfile d;
  std::memset(&d, 0, sizeof d);
  int64_t key;
  double x = 1;
  EXPECT_NE(zs::workWrite(&d, &x, 8, &key), 0);
  d.host = &x;  // garbage in the host word
  EXPECT_NE(zs::workRead(&d, &x, 8), 0);
  // The step's end closes what the module left open.
  zul_workfile e;
  std::memset(&e, 0, sizeof e);
  ASSERT_EQ(zs::workOpen(&e), 0);
  EXPECT_EQ(zs::closeAllWorkFiles(), 1);
  EXPECT_NE(zs::workPosition(&e, 0), 0);
}

TEST(Pool, LimitAndRelease) {
  zs::MemoryPool pool;
  auto* p = static_cast<unsigned char*>(pool.alloc(1000, 0x3006));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0);  // zeroed
  EXPECT_EQ(pool.bytesInUse(), 1000u);
  pool.setByteLimit(1500);
  EXPECT_EQ(pool.alloc(600, 0x2004), nullptr);
  void* q = pool.alloc(500, 0x2004);
  EXPECT_NE(q, nullptr);
  pool.release(p);
  int notOurs;
  pool.release(&notOurs);  // ignored
  EXPECT_EQ(pool.blocksInUse(), 1u);
  pool.releaseAll();
  EXPECT_EQ(pool.bytesInUse(), 0u);
}

void waitForEvent(void* arg) {
  zul_event* e = static_cast<zul_event*>(arg);
  zs::eventWaitAny(&e, 1);
}

// Waits for its event, then says that it no longer touches it.
struct WaitThenTell {
  zul_event* event;
  std::atomic<bool> ended{false};
};
void waitThenTell(void* arg) {
  auto* w = static_cast<WaitThenTell*>(arg);
  zs::eventWaitAny(&w->event, 1);
  w->ended = true;
  w->ended.notify_all();
}

TEST(Threads, AWorkerLeftWaitingIsDetachedAfterTheGracePeriod) {
  // A step stopped while a worker waits for work: the host must not hang
  // at the end of the step.
  WaitThenTell worker{zs::eventCreate()};
  ASSERT_NE(zs::threadCreate(&waitThenTell, &worker), nullptr);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(zs::joinAllThreads(std::chrono::milliseconds(30)), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(zs::liveThreads(), 0);
  // The detached worker still runs: set its event and wait until it is
  // done with it before the event goes.
  zs::eventSet(worker.event);
  worker.ended.wait(false);
  EXPECT_TRUE(worker.ended.load());
  zs::eventDestroy(worker.event);
  // Threads that end are joined, not detached.
  zul_event* done = zs::eventCreate();
  zs::eventSet(done);
  ASSERT_NE(zs::threadCreate(&waitForEvent, done), nullptr);
  EXPECT_EQ(zs::joinAllThreads(), 0);
  zs::eventDestroy(done);
}

TEST(Options, DefaultsChecksSettingsAndSwitches) {
  zs::HostOptions o;
  EXPECT_EQ(o.get("validvarname").value(), "V7");
  EXPECT_EQ(o.get("THREADS").value(), "1");
  EXPECT_EQ(std::stoi(o.get("CPUCOUNT").value()), kernels::processorCount());
  bool known = false;
  EXPECT_TRUE(o.set("CPUCOUNT", "4", known).empty());
  EXPECT_TRUE(known);
  EXPECT_EQ(o.get("cpucount").value(), "4");
  EXPECT_FALSE(o.set("CPUCOUNT", "2.5", known).empty());
  EXPECT_EQ(o.get("CPUCOUNT").value(), "4");  // refused values change nothing
  EXPECT_TRUE(o.setBare("nothreads", known).empty());
  EXPECT_EQ(o.get("THREADS").value(), "0");
  EXPECT_TRUE(o.set("validvarname", "v6", known).empty());
  EXPECT_EQ(o.get("VALIDVARNAME").value(), "V6");
  EXPECT_TRUE(o.set("PAGESIZE", "100", known).empty());
  EXPECT_FALSE(known);
  // LINESIZE: the widest listing line before a table is split (default 120).
  EXPECT_EQ(o.get("LINESIZE").value(), "120");
  EXPECT_TRUE(o.set("linesize", "100", known).empty());
  EXPECT_TRUE(known);
  for (const char* bad : {"39", "1001", "wide", "80.5"})
    EXPECT_FALSE(o.set("LINESIZE", bad, known).empty()) << bad;
  EXPECT_EQ(o.get("LINESIZE").value(), "100");
  // Named settings are numbers; unset ones are absent.
  EXPECT_FALSE(o.named("zacorr_threads").has_value());
  EXPECT_TRUE(o.setNamed("ZACORR_THREADS", "3").empty());
  EXPECT_DOUBLE_EQ(o.named("zacorr_threads").value(), 3.0);
  EXPECT_FALSE(o.setNamed("zacorr_threads", "many").empty());
  // Switches: a level, off when not given or set to 0.
  EXPECT_EQ(o.switchLevel("-zacorr"), 0);
  EXPECT_TRUE(o.setSwitch("-ZACORR", "").empty());
  EXPECT_EQ(o.switchLevel("-zacorr"), 1);
  EXPECT_TRUE(o.setSwitch("-sqlpasses", "3").empty());
  EXPECT_EQ(o.switchLevel("-sqlpasses"), 3);
  EXPECT_TRUE(o.setSwitch("-zacorr", "0").empty());
  EXPECT_EQ(o.switchLevel("-zacorr"), 0);
  o.setMacro("sysrandom", "1431");
  EXPECT_EQ(o.macro("SYSRANDOM").value(), "1431");
}

// Settings that are refused name what was given and say what is allowed;
// a refused value changes nothing.
TEST(Options, RefusedSettingsSayWhatIsAllowed) {
  zs::HostOptions o;
  bool known = false;
  struct Case {
    const char* name;
    const char* value;
    bool named;
    const char* says;
  };
  const Case cases[] = {
      {"nosuch", "3", true, "no setting of that name; the settings are ZACORR_THREADS"},
      {"zacorr_threads", "-1", true, "whole number from 0 to 100"},
      {"zacorr_threads", "101", true, "not '101'"},
      {"zacorr_threads", "2.5", true, "whole number"},
      {"DEBUG", "XYZ", false, "XYZ is neither"},
      {"DEBUG", "SYN XYZ", false, "XYZ is neither"},
      {"CPUCOUNT", "0", false, "from 1 to 1024"},
      {"NOTHREADS", "1", false, "NOTHREADS takes no value: write NOTHREADS, or THREADS=NO."},
  };
  for (const Case& c : cases) {
    std::string problem = c.named ? o.setNamed(c.name, c.value) : o.set(c.name, c.value, known);
    EXPECT_NE(problem.find(c.says), std::string::npos) << c.name << "=" << c.value << ": " << problem;
  }
  // A known option written without its value is refused, not kept as "1".
  for (const std::string name : {"LINESIZE", "CPUCOUNT", "SQLPASSES", "VALIDVARNAME", "DEBUG",
                                 "INDB", "SQLECHO", "INDBNOTES"}) {
    const std::string problem = o.setBare(name, known);
    EXPECT_EQ(problem.rfind(name + " needs a value: write " + name + "=", 0), 0u) << problem;
    EXPECT_TRUE(known) << name;
  }
  EXPECT_EQ(o.get("LINESIZE").value(), "120");
  EXPECT_FALSE(o.named("zacorr_threads").has_value());
  EXPECT_EQ(o.get("DEBUG").value(), "");
  for (const char* fine : {"SYN", "sem", "SYN SEM", "SYNSEM", ""})
    EXPECT_TRUE(o.set("DEBUG", fine, known).empty()) << fine;
  EXPECT_TRUE(o.setNamed("zacorr_threads", "0").empty());
}

TEST(NameCheck, ThreeClasses) {
  const struct {
    std::string name, rule;
    int kind;
  } cases[] = {
      {"Population", "V7", zs::kNameOrdinary}, {"x1      ", "V7", zs::kNameOrdinary},  // trailing blanks
      {"_TYPE_", "V7", zs::kNameOrdinary},     {"", "V7", zs::kNameSkip},
      {"        ", "V7", zs::kNameSkip},       {"1st", "V7", zs::kNameSkip},
      {"a b", "V7", zs::kNameSkip},            {"a b", "ANY", zs::kNameOrdinary},
      {std::string(33, 'a'), "V7", zs::kNameUnusable}, {std::string(32, 'a'), "V7", zs::kNameOrdinary},
      {"a\tb", "ANY", zs::kNameUnusable},
  };
  for (const auto& c : cases) EXPECT_EQ(zs::classifyName(c.name, c.rule), c.kind) << c.name << " " << c.rule;
}

TEST(AvailableMemory, ReadsMemAvailableInThousands) {
  const char* path = "zul_meminfo_test.txt";
  {
    std::ofstream f(path);
    f << "MemTotal:       16000000 kB\nMemFree:         1000 kB\n"
         "MemAvailable:    2000000 kB\n";
  }
  // 2,000,000 kB = 2,048,000,000 bytes = 2,048,000 units of 1000 bytes.
  EXPECT_DOUBLE_EQ(zs::availableMemoryUnits(path), 2048000.0);
  {
    std::ofstream f(path);
    f << "MemTotal: 1 kB\n";
  }
  EXPECT_LT(zs::availableMemoryUnits(path), 0);
  EXPECT_LT(zs::availableMemoryUnits("/no/such/file"), 0);
  std::remove(path);
  EXPECT_GT(zs::availableMemoryUnits(), 0);  // this machine
}

}  // namespace
