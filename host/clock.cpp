#include "host/clock.h"

#include <stdexcept>

#include "host/win32_clock.h"

namespace host {

Clock& Clock::Instance() {
  static Clock clock;
  return clock;
}

void Clock::Reset() {
  now_ = kBootTicks;
  sleeps_.clear();
}

void Clock::Sleep(uint32_t milliseconds) {
  // On Windows the thread would never wake up: a test must see that as a
  // failure, not hang.
  if (milliseconds == INFINITE) throw std::logic_error("Sleep(INFINITE) never returns");
  sleeps_.push_back(milliseconds);
  now_ += milliseconds;
}

uint64_t Clock::TotalSlept() const {
  uint64_t total = 0;
  for (uint32_t milliseconds : sleeps_) total += milliseconds;
  return total;
}

}  // namespace host

extern "C" {

DWORD GetTickCount() { return host::Clock::Instance().Now(); }

void Sleep(DWORD dwMilliseconds) { host::Clock::Instance().Sleep(dwMilliseconds); }
}
