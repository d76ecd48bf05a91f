#include "zul/services/progress.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include <fmt/format.h>

namespace zul::services::progress {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(500);

std::atomic<bool> g_enabled{false};
std::atomic<int64_t> g_rows{0};
std::atomic<uint64_t> g_bytes{0};
std::atomic<int64_t> g_lastReadTick{0};  // ticks (since the step began) of the last read

std::mutex g_terminal;  // held while the line or a log line is written
bool g_shown = false;   // a line is on the terminal
std::string g_where;
Clock::time_point g_start;

std::mutex g_stopMutex;
std::condition_variable g_stopCv;
bool g_stop = false;
std::thread g_thread;

void writeTerminal(const std::string& text) {
  ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

void eraseLocked() {
  if (g_shown) writeTerminal("\r\033[K");
  g_shown = false;
}

void draw() {
  const double seconds = std::chrono::duration<double>(Clock::now() - g_start).count();
  const int64_t rows = g_rows.load(std::memory_order_relaxed);
  const double mb = static_cast<double>(g_bytes.load(std::memory_order_relaxed)) / 1e6;
  // Reading when a record came within the last tick; computing after.
  const int64_t tick = static_cast<int64_t>(seconds / 0.5);
  const bool reading = rows > 0 && tick - g_lastReadTick.load(std::memory_order_relaxed) <= 1;
  std::lock_guard<std::mutex> lock(g_terminal);
  writeTerminal("\r\033[K" + lineText(reading, rows, mb, seconds, g_where));
  g_shown = true;
}

}  // namespace

void enable(bool on) { g_enabled = on; }
bool enabled() { return g_enabled; }

std::string lineText(bool reading, int64_t rows, double megabytes, double seconds,
                     const std::string& where) {
  if (reading)
    return fmt::format("{}: reading, {} rows, {:.1f} MB ({:.1f} MB/s)", where, rows, megabytes,
                       seconds > 0 ? megabytes / seconds : 0.0);
  if (rows > 0)
    return fmt::format("{}: computing (matrices of the {} rows read), {:.0f} s", where, rows,
                       seconds);
  return fmt::format("{}: working, {:.0f} s", where, seconds);
}

void beginStep(const std::string& where) {
  if (!g_enabled) return;
  endStep();
  g_rows = 0;
  g_bytes = 0;
  g_lastReadTick = 0;
  g_where = where;
  g_start = Clock::now();
  g_stop = false;
  g_thread = std::thread([] {
    std::unique_lock<std::mutex> lock(g_stopMutex);
    while (!g_stopCv.wait_for(lock, kTick, [] { return g_stop; })) draw();
  });
}

void endStep() {
  if (!g_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(g_stopMutex);
    g_stop = true;
  }
  g_stopCv.notify_all();
  g_thread.join();
  std::lock_guard<std::mutex> lock(g_terminal);
  eraseLocked();
}

void noteRead(int64_t rows, uint64_t position, uint64_t) {
  g_rows.store(rows, std::memory_order_relaxed);
  g_bytes.store(position, std::memory_order_relaxed);
  const double seconds = std::chrono::duration<double>(Clock::now() - g_start).count();
  g_lastReadTick.store(static_cast<int64_t>(seconds / 0.5), std::memory_order_relaxed);
}

void eraseForLog(const std::function<void()>& write) {
  std::lock_guard<std::mutex> lock(g_terminal);
  eraseLocked();
  write();
}

}  // namespace zul::services::progress
