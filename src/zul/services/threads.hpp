// zul/services/threads.hpp -- threads and events for the module's worker
// pool (services 400/8 to 400/14).
//
// Events are manual-reset flags under one shared mutex. Each waiting
// thread sleeps on its own futex word, registered with the events it
// waits for, so setting an event wakes only the threads waiting for that
// event (a pool handing out blocks does not wake every other worker at
// each hand-off), and wakes them after the mutex is released.
#pragma once

#include <chrono>
#include <cstdint>

#include "zul/abi.h"

namespace zul::services {

// Starts a thread running start(arg); nullptr when it cannot be started.
zul_thread* threadCreate(void (*start)(void*), void* arg);
// Waits for the thread to end and releases it.
void threadJoin(zul_thread* thread);

zul_event* eventCreate();
void eventSet(zul_event* event);
void eventReset(zul_event* event);
// Waits until one of events[0..count) is set and returns the lowest such
// index; the event stays set. -1 for an empty or broken list.
int32_t eventWaitAny(zul_event* const* events, int32_t count);
void eventDestroy(zul_event* event);

// Threads started and not joined (the host joins them when a step ends).
int liveThreads();
// Joins every thread that ends within the grace period; threads still
// running after it (a worker left waiting by a step that was stopped) are
// detached. Returns how many were detached: the caller must then keep
// alive whatever those threads may still touch.
int joinAllThreads(std::chrono::milliseconds grace = std::chrono::milliseconds(10000));

}  // namespace zul::services
