// veltrane-cli: the command line end of Veltrane, for hosts without a desktop and for scripts.

#include <cstdio>
#include <exception>
#include <iostream>

#include "base/errors.h"
#include "cli/command_line.h"
#include "cli/measurement_run.h"
#include "cli/report.h"
#include "cli/stop_request.h"

int main(int argc, char** argv) {
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (!parsed.options) {
        std::fputs(parsed.output.c_str(), stdout);
        std::fputs(parsed.error.c_str(), stderr);
        return parsed.exitCode;
    }
    const std::atomic<bool>& stopRequested = InstallStopHandlers();
    // Nothing may leave main as an exception: a crash would lose the final report and the exit code.
    try {
        return RunMeasurement(*parsed.options, stopRequested, std::cout, std::cerr);
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        std::cerr << ConsoleText(ExceptionText(*e)) << "\n";
    } catch (const std::exception& e) {
        std::cerr << "veltrane-cli: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "veltrane-cli: unknown exception\n";
    }
    return kExitError;
}
