// veltrane-cli: the command line end of Veltrane, for hosts without a desktop and for scripts.

#include <cerrno>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <system_error>

#include "base/errors.h"
#include "cli/command_line.h"
#include "cli/error_text.h"
#include "cli/measurement_run.h"
#include "cli/stop_request.h"

int main(int argc, char** argv) {
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (!parsed.options) {
        std::fputs(parsed.output.c_str(), stdout);
        std::fputs(parsed.error.c_str(), stderr);
        return parsed.exitCode;
    }
    // Appended to: a file that collects the reports of many runs keeps them all.
    std::ofstream file;
    if (parsed.options->outputPath) {
        file.open(*parsed.options->outputPath, std::ios::app);
        if (!file) {
            const int code = errno;
            std::cerr << "veltrane-cli: cannot open the output file '" << *parsed.options->outputPath
                      << "' for appending: " << std::generic_category().message(code) << "\n";
            return kExitError;
        }
    }
    std::ostream& out = parsed.options->outputPath ? static_cast<std::ostream&>(file) : std::cout;
    const std::atomic<bool>& stopRequested = InstallStopHandlers();
    // Nothing may leave main as an exception: a crash would lose the final report and the exit code.
    try {
        return RunMeasurement(*parsed.options, stopRequested, out, std::cerr);
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        std::cerr << CliErrorText(*e) << "\n";
    } catch (const std::exception& e) {
        std::cerr << "veltrane-cli: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "veltrane-cli: unknown exception\n";
    }
    return kExitError;
}
