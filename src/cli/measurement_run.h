#pragma once
// One run of veltrane-cli: the engine's sender and/or receiver, periodic reports, and the
// end by duration, by a stop request or by a worker's error.

#include <atomic>
#include <functional>
#include <ostream>

#include "cli/command_line.h"

class PublishedSessions;

// Runs what `options` describe and returns the exit code: 0 after a clean end (the final
// report printed), 1 after an error (its text printed on `err`). `stopRequested` ends the run.
// `started`, if given, is called once the workers run (a receiver is bound by then).
// `published`, if given, receives each report's sessions for readers on other threads.
int RunMeasurement(const CliOptions& options,
                   const std::atomic<bool>& stopRequested,
                   std::ostream& out,
                   std::ostream& err,
                   const std::function<void()>& started = {},
                   PublishedSessions* published = nullptr);
