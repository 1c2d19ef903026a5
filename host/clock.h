// The simulated machine's clock. GetTickCount reads it and Sleep moves it on
// at once, so an action that would block for seconds returns immediately and
// a test asserts how long it would have blocked: every Sleep is recorded.
#pragma once

#include <cstdint>
#include <vector>

namespace host {

class Clock {
 public:
  static Clock& Instance();

  // A fresh clock: the tick count at kBootTicks, nothing slept.
  void Reset();

  // The tick count: milliseconds since the machine started, wrapping at 2^32
  // as GetTickCount does after 49.7 days.
  uint32_t Now() const { return now_; }
  // Puts the tick count where a test wants it (near the wrap, for instance).
  void Set(uint32_t ticks) { now_ = ticks; }
  // Time that passes outside the library: not recorded as a sleep.
  void Advance(uint32_t milliseconds) { now_ += milliseconds; }

  // Sleep's work: moves the clock on and records the call.
  void Sleep(uint32_t milliseconds);
  // Each Sleep since the reset, in order, and their sum.
  const std::vector<uint32_t>& Sleeps() const { return sleeps_; }
  uint64_t TotalSlept() const;

  // One minute after start-up, far from the wrap.
  static constexpr uint32_t kBootTicks = 60000;

 private:
  uint32_t now_ = kBootTicks;
  std::vector<uint32_t> sleeps_;
};

inline Clock& VirtualClock() { return Clock::Instance(); }

}  // namespace host
