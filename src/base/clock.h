#pragma once
// The high-resolution counter, the millisecond tick count and sleeping, plus the Clock
// interface through which the measuring code reads time (so tests can inject a clock).

#include <cstdint>

// The monotonic high-resolution counter (QueryPerformanceCounter; CLOCK_MONOTONIC in ns).
int64_t QueryCounter();

// Counts per second of QueryCounter (QueryPerformanceFrequency; 1'000'000'000).
int64_t QueryCounterFrequency();

// The system's millisecond tick count, 32 bits, wrapping (GetTickCount).
uint32_t TickCountMs();

// Sleeps for `ms` milliseconds; 0 only yields the rest of the time slice.
void SleepMs(uint32_t ms);

// Sleeps until QueryCounter reaches `counter` (at once if it has): to the microsecond on
// POSIX, to the next millisecond on Windows.
void SleepUntilCounter(int64_t counter);

// end - start as a signed 64-bit difference (wrapping, never overflowing), for any two
// counter values, including foreign ones.
int64_t CounterDifference(int64_t end, int64_t start);

// Milliseconds between two counter readings: double(end - start) / frequency * 1000.
double ElapsedMs(int64_t start, int64_t end, int64_t frequency);

// Seconds between two counter readings: double(end - start) / frequency. Inline: the analysis
// of every packet takes several.
inline double ElapsedSeconds(int64_t start, int64_t end, int64_t frequency) {
    return static_cast<double>(CounterDifference(end, start)) / static_cast<double>(frequency);
}

// A source of counter readings: the system counter, or a scripted one in tests.
struct Clock {
    virtual ~Clock() = default;
    virtual int64_t Counter() = 0;
    virtual int64_t Frequency() = 0;
    // This clock's reading at the instant QueryCounter read `systemCounter` (a kernel's stamp
    // brought onto it): that value for the system clock; for any other, its reading now less
    // the time since then.
    virtual int64_t FromSystemCounter(int64_t systemCounter);
};

// The clock backed by QueryCounter / QueryCounterFrequency.
Clock& SystemClock();
