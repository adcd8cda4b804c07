#pragma once

#include <functional>

namespace talvora::test {

// Runs the event loop until `done` returns true or `timeoutMs` passes; returns the last value of
// `done`. The bound is generous on purpose: tests wait for events, never for a duration.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Lets the event loop run for about `ms` milliseconds (for "nothing happens" assertions).
void pumpEvents(int ms);

} // namespace talvora::test
