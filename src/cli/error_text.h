#pragma once
// veltrane-cli's own words for the engine's errors: what failed, for which address, and the
// system's reason, on one line. The dialog's texts (with their function names and line
// numbers) mean nothing to a user of the command line.

#include <string>

struct Exception;

// "veltrane-cli: cannot bind UDP 0.0.0.0:13014: Address already in use"; no line break at the end.
std::string CliErrorText(const Exception& e);

// The same for a worker that ended by an exception of another type; `text` is the one it
// reported (the engine's unknown-error text of the sender or the receiver).
std::string CliUnknownErrorText(const char* text);
