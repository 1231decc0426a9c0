#include <windows.h>

#include "base/clock.h"

int64_t QueryCounter() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

int64_t QueryCounterFrequency() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

uint32_t TickCountMs() {
    return GetTickCount();
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

void SleepUntilCounter(int64_t counter) {
    const int64_t remaining = counter - QueryCounter();
    if (remaining > 0) {
        const int64_t frequency = QueryCounterFrequency();
        Sleep(static_cast<DWORD>((remaining * 1000 + frequency - 1) / frequency));
    }
}
