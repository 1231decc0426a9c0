#pragma once
// Starts veltrane-cli as a child process with its output in pipes, for the program's tests.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

// One run of the program; killed and reaped if the test leaves it running.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& arguments) {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) { kill(pid_, signal); }

    // Reads output until `text` has appeared on stdout; false on time-out or at the end of output.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(20)) {
                return false;
            }
        }
        return true;
    }

    // Waits for the end of the program, reading all of its output; its exit code, or -1 when
    // it did not end in time or ended by a signal.
    int WaitForExit(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!exited_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            ReadSome(5);
        }
        // The pipes end with the program; the bound only guards against a grandchild holding one.
        for (int i = 0; i < 1000 && ReadSome(1); ++i) {
        }
        return exitCode_;
    }

    std::string out;
    std::string err;

  private:
    // Reads what is there within `ms`; false when both pipes have ended.
    bool ReadSome(int ms) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(fds, 2, ms) <= 0) {
            return !(outEnded_ && errEnded_);
        }
        ReadInto(fds[0], out, outEnded_);
        ReadInto(fds[1], err, errEnded_);
        return !(outEnded_ && errEnded_);
    }
    static void ReadInto(const pollfd& fd, std::string& text, bool& ended) {
        if ((fd.revents & (POLLIN | POLLHUP)) == 0) {
            return;
        }
        char buffer[4096];
        const ssize_t n = read(fd.fd, buffer, sizeof(buffer));
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else {
            ended = true;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool outEnded_ = false;
    bool errEnded_ = false;
    bool exited_ = false;
    int exitCode_ = -1;
};

// veltrane-cli's command line with `arguments`.
inline std::vector<std::string> Program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), VELTRANE_CLI_PROGRAM);
    return arguments;
}

// The last line of a run's JSON output.
inline nlohmann::json LastJsonLine(const std::string& out) {
    const size_t end = out.find_last_not_of('\n');
    const size_t start = end == std::string::npos ? 0 : out.rfind('\n', end);
    return nlohmann::json::parse(out.substr(start == std::string::npos ? 0 : start + 1));
}

// The last line of a run's JSON output that holds `key` ("source": a session's; the receiver's
// totals end every report); null when there is none.
inline nlohmann::json LastJsonLineWith(const std::string& out, const char* key) {
    nlohmann::json found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        if (parsed.is_object() && parsed.contains(key)) {
            found = std::move(parsed);
        }
    }
    return found;
}
