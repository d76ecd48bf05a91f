// zul/services/progress.hpp -- the progress line of a long step, shown on
// standard error when it is a terminal (and --quiet is not given): rows and
// megabytes read with their rate while the data are read, then what the
// step is doing, redrawn every half second and erased when the step ends.
//
// The read service counts records cheaply (a store every few hundred
// records); a thread of its own draws the line. Log lines written to the
// terminal erase it first (eraseForLog), and it is drawn again on the next
// tick.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace zul::services::progress {

// Turns the line on or off for the run (off by default).
void enable(bool on);
bool enabled();

// A step begins (where: "FACTOR step at p.zul:3") and ends.
void beginStep(const std::string& where);
void endStep();

// From the read service: the list has read `rows` records so far and the
// table is at byte `position` of `size`.
void noteRead(int64_t rows, uint64_t position, uint64_t size);

// Runs write (which writes to the terminal) with the line erased.
void eraseForLog(const std::function<void()>& write);

// The text of the line, for tests: phase "reading" or "computing".
std::string lineText(bool reading, int64_t rows, double megabytes, double seconds,
                     const std::string& where);

}  // namespace zul::services::progress
